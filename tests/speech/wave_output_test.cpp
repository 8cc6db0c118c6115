// Wave output: header bytes, RIFF walking, the ring of 16 slots, padding, the
// compress and rate-up rules, key cuts, and damaged files under the sanitizers.
#include "speech/wave_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "console/core/console.h"
#include "platform/audio_device.h"
#include "platform/frontend.h"

namespace ondaria {
namespace {

namespace fs = std::filesystem;

// Bytes of a WAV file: RIFF header, a format chunk, optional extra chunks
// before the data chunk.
struct WavBuilder {
  int rate = 11025, bits = 8, channels = 1;
  uint32_t fmtSize = 16;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> extra;  // before data
  bool padOddChunks = true;

  static void put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
  }
  static void put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  }
  std::vector<uint8_t> build(const std::vector<uint8_t>& data) const {
    std::vector<uint8_t> v = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    put32(v, fmtSize);
    put16(v, 1);
    put16(v, static_cast<uint16_t>(channels));
    put32(v, static_cast<uint32_t>(rate));
    put32(v, static_cast<uint32_t>(rate * channels * bits / 8));
    put16(v, static_cast<uint16_t>(channels * bits / 8));
    put16(v, static_cast<uint16_t>(bits));
    for (uint32_t i = 16; i < fmtSize; ++i) v.push_back(0);
    for (const auto& [name, body] : extra) {
      v.insert(v.end(), name.begin(), name.end());
      put32(v, static_cast<uint32_t>(body.size()));
      v.insert(v.end(), body.begin(), body.end());
      if (padOddChunks && body.size() % 2 == 1) v.push_back(0);
    }
    v.insert(v.end(), {'d', 'a', 't', 'a'});
    put32(v, static_cast<uint32_t>(data.size()));
    v.insert(v.end(), data.begin(), data.end());
    uint32_t riff = static_cast<uint32_t>(v.size() - 8);
    for (int i = 0; i < 4; ++i) v[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return v;
  }
};

std::vector<uint8_t> ramp(size_t n, uint8_t seed = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
  return v;
}

class WaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetConsole();
    setConsoleFrontend(std::make_unique<platform::HeadlessFrontend>());
    resetWaveOutputForTests();
    setWaveQueueObserver([this](const WaveQueuedBuffer& b) {
      buffers_.push_back(b);
      queuedAtCall_.push_back(waveQueuedCount());
      if (onQueued_) onQueued_(b);
    });
    dir_ = fs::temp_directory_path() / ("ondaria_wave_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override {
    waveStop();
    setWaveQueueObserver(nullptr);
    resetWaveOutputForTests();
    resetConsole();
    fs::remove_all(dir_);
  }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  // Everything queued, padding included, in order.
  std::vector<uint8_t> allBytes() const {
    std::vector<uint8_t> v;
    for (const auto& b : buffers_) v.insert(v.end(), b.bytes.begin(), b.bytes.end());
    return v;
  }
  std::vector<size_t> sizes() const {
    std::vector<size_t> v;
    for (const auto& b : buffers_) v.push_back(b.bytes.size());
    return v;
  }

  fs::path dir_;
  std::vector<WaveQueuedBuffer> buffers_;
  std::vector<int> queuedAtCall_;
  std::function<void(const WaveQueuedBuffer&)> onQueued_;
};

TEST(WaveHeader, BytesOfAnEightBitMonoHeader) {
  uint8_t block[44];
  std::memset(block, 0xEE, sizeof block);
  makeWaveHeader(block, 512, 11025, 8, 1);
  const uint8_t expect[44] = {'R', 'I', 'F', 'F', 0x24, 0x02, 0, 0, 'W', 'A', 'V', 'E',
                              'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                              0x11, 0x2B, 0, 0, 0x11, 0x2B, 0, 0, 1, 0, 8, 0,
                              'd', 'a', 't', 'a', 0, 0x02, 0, 0};
  for (int i = 0; i < 44; ++i) EXPECT_EQ(block[i], expect[i]) << "offset " << i;
  // bytes per second follow rate x channels x bytes per sample
  makeWaveHeader(block, 0, 22050, 16, 2);
  EXPECT_EQ(block[28] | block[29] << 8 | block[30] << 16, 88200);
}

TEST_F(WaveTest, ShortEightBitMonoSoundIsPaddedToTheMinimumWithSilence) {
  auto data = ramp(100, 1);
  ASSERT_EQ(wavePlayPcm(data.data(), data.size(), 11025, 8, 1), 0);
  ASSERT_EQ(buffers_.size(), 1u);
  const auto& b = buffers_[0].bytes;
  ASSERT_EQ(b.size(), 256u);
  for (int i = 0; i < 99; ++i) EXPECT_EQ(b[i], data[i]) << i;
  for (int i = 99; i < 256; ++i) EXPECT_EQ(b[i], 128) << i;
  EXPECT_EQ(buffers_[0].slot, 1);
}

TEST_F(WaveTest, PaddingNeverReplaysAnEarlierPieceOfTheSlot) {
  // Fill all 16 slots with loud 8-bit sound, then a short 16-bit piece lands
  // in slot 1 again: its padding must be 16-bit silence, not the old bytes.
  std::vector<uint8_t> loud(kWavePieceBytes, 0x55);
  waveAsyncFiles() = true;
  for (int i = 0; i < kWaveSlots; ++i) wavePlayPcm(loud.data(), loud.size(), 384000, 8, 1);
  std::vector<uint8_t> shortPiece(40, 0x11);
  ASSERT_EQ(wavePlayPcm(shortPiece.data(), shortPiece.size(), 384000, 16, 2), 0);
  ASSERT_EQ(buffers_.size(), 17u);
  const auto& b = buffers_.back();
  EXPECT_EQ(b.slot, 1);
  EXPECT_EQ(b.bits, 16);
  ASSERT_EQ(b.bytes.size(), 256u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(b.bytes[i], 0x11);
  for (int i = 40; i < 256; ++i) EXPECT_EQ(b.bytes[i], 0) << i;
  // a 16-bit piece keeps its last byte (the click guard is for 8-bit mono)
}

TEST_F(WaveTest, SlotsRotateAndNeverMoreThanSixteenAreQueued) {
  // 40 pieces at a rate the dummy device plays in about 20 ms each.
  std::vector<uint8_t> sound(40 * kWavePieceBytes, 140);
  ASSERT_EQ(wavePlayPcm(sound.data(), sound.size(), 384000, 8, 1), 0);
  ASSERT_EQ(buffers_.size(), 40u);
  for (size_t i = 0; i < buffers_.size(); ++i) {
    EXPECT_EQ(buffers_[i].slot, static_cast<int>(i % 16) + 1) << i;
    EXPECT_LE(queuedAtCall_[i], kWaveSlots);
    EXPECT_EQ(buffers_[i].bytes.size(), kWavePieceBytes);
    // Full pieces keep their last byte; only a shorter piece ends on 128.
    EXPECT_EQ(buffers_[i].bytes.back(), 140);
  }
  EXPECT_EQ(*std::max_element(queuedAtCall_.begin(), queuedAtCall_.end()), kWaveSlots);
  while (waveBusy()) waitForConsoleEvent(5);
  EXPECT_EQ(waveQueuedCount(), 0);
}

TEST_F(WaveTest, FileDataIsSplitIntoThePieceSizes) {
  WavBuilder w;
  w.rate = 384000;
  struct Case {
    size_t size;
    std::vector<size_t> pieces;
  };
  const Case cases[] = {
      {8192, {8192}},
      {8193, {7936, 257}},
      {8300, {7936, 364}},
      {8447, {7936, 511}},
      {8448, {8192, 256}},
      {20000, {8192, 8192, 3616}},
      {300, {300}},
  };
  for (const auto& c : cases) {
    buffers_.clear();
    auto data = ramp(c.size);
    std::string file = write("p.wav", w.build(data));
    ASSERT_EQ(wavePlayFile(file), 0) << c.size;
    EXPECT_EQ(sizes(), c.pieces) << c.size;
    ASSERT_EQ(allBytes().size(), c.size);
    // The bytes arrive unchanged, except that a piece shorter than a block
    // ends on the middle value 128.
    size_t at = 0;
    for (const auto& b : buffers_) {
      const size_t n = b.bytes.size();
      EXPECT_TRUE(std::equal(b.bytes.begin(), b.bytes.end() - 1, data.begin() + at)) << c.size;
      EXPECT_EQ(b.bytes.back(), n == kWavePieceBytes ? data[at + n - 1] : 128) << c.size;
      at += n;
    }
    EXPECT_FALSE(waveBusy());
  }
}

TEST_F(WaveTest, ChunksBeforeDataAreSkippedWithOrWithoutPadBytes) {
  auto data = ramp(600);
  for (bool pad : {true, false}) {
    WavBuilder w;
    w.rate = 384000;
    w.fmtSize = 18;  // a format chunk with the extension size field
    w.padOddChunks = pad;
    w.extra = {{"LIST", std::vector<uint8_t>(13, 'x')}, {"fact", {4, 0, 0, 0}},
               {"odd!", std::vector<uint8_t>(1, 'y')}};
    buffers_.clear();
    ASSERT_EQ(wavePlayFile(write("c.wav", w.build(data))), 0) << pad;
    auto all = allBytes();
    ASSERT_EQ(all.size(), 600u) << pad;
    EXPECT_TRUE(std::equal(data.begin(), data.end() - 1, all.begin())) << pad;

    auto image = w.build(data);
    buffers_.clear();
    ASSERT_EQ(wavePlayImage(image.data(), image.size()), 0) << pad;
    ASSERT_EQ(allBytes().size(), 600u) << pad;
    EXPECT_TRUE(std::equal(data.begin(), data.end() - 1, allBytes().begin())) << pad;
  }
  // Chunk names in any case.
  WavBuilder w;
  w.rate = 384000;
  auto bytes = w.build(data);
  std::memcpy(bytes.data(), "riff", 4);
  std::memcpy(bytes.data() + 12, "FMT ", 4);
  buffers_.clear();
  EXPECT_EQ(wavePlayFile(write("case.wav", bytes)), 0);
  EXPECT_EQ(allBytes().size(), 600u);
}

TEST_F(WaveTest, DamagedFilesPlayNothing) {
  WavBuilder w;
  w.rate = 384000;
  w.extra = {{"LIST", std::vector<uint8_t>(9, 'z')}};
  auto good = w.build(ramp(3000));
  // Every truncation of a good file: -1 and not one byte queued.
  for (size_t len = 0; len < good.size(); len += (len < 120 ? 1 : 97)) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(len));
    std::string file = write("t.wav", cut);
    buffers_.clear();
    EXPECT_EQ(wavePlayFile(file), -1) << len;
    EXPECT_TRUE(buffers_.empty()) << len;
    EXPECT_EQ(wavePlayImage(cut.data(), cut.size()), -1) << len;
    EXPECT_TRUE(buffers_.empty()) << len;
  }
  auto patched = [&](size_t offset, uint32_t value) {
    auto v = good;
    for (int i = 0; i < 4; ++i) v[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    return v;
  };
  const size_t fmtSizeAt = 16, listSizeAt = 40, dataSizeAt = 40 + 4 + 10 + 4;
  ASSERT_EQ(std::string(good.begin() + 36, good.begin() + 40), "LIST");
  ASSERT_EQ(std::string(good.begin() + 54, good.begin() + 58), "data");
  const std::vector<uint8_t> bad[] = {
      patched(fmtSizeAt, 0xFFFFFFF0u), patched(fmtSizeAt, 4),   patched(fmtSizeAt, 0),
      patched(listSizeAt, 0xFFFFFFFFu), patched(listSizeAt, 0x7FFFFFFFu),
      patched(dataSizeAt, 0xFFFFFFFFu), patched(dataSizeAt, 3001),
  };
  for (size_t i = 0; i < std::size(bad); ++i) {
    buffers_.clear();
    EXPECT_EQ(wavePlayFile(write("b.wav", bad[i])), -1) << i;
    EXPECT_EQ(wavePlayImage(bad[i].data(), bad[i].size()), -1) << i;
    EXPECT_TRUE(buffers_.empty()) << i;
  }
  auto noRiff = good;
  noRiff[0] = 'X';
  EXPECT_EQ(wavePlayFile(write("n.wav", noRiff)), -1);
  EXPECT_EQ(wavePlayFile((dir_ / "missing.wav").string()), -1);
  EXPECT_EQ(wavePlayFile(dir_.string()), -1);  // a directory
  EXPECT_EQ(wavePlayImage(nullptr, 0), -1);
  EXPECT_TRUE(buffers_.empty());
}

TEST_F(WaveTest, RandomlyDamagedHeadersNeverCrash) {
  WavBuilder w;
  w.rate = 48000;
  w.extra = {{"LIST", std::vector<uint8_t>(7, 'q')}};
  auto good = w.build(ramp(700));
  std::mt19937 rng(12345);
  waveAsyncFiles() = true;
  for (int round = 0; round < 300; ++round) {
    auto v = good;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) v[rng() % 70] = static_cast<uint8_t>(rng());
    if (rng() % 3 == 0) v.resize(rng() % v.size());
    int r = wavePlayFile(write("r.wav", v));
    EXPECT_TRUE(r == 0 || r == -1 || r == kWaveErrorBadFormat) << round << " " << r;
    r = wavePlayImage(v.data(), v.size());
    EXPECT_TRUE(r == 0 || r == -1 || r == kWaveErrorBadFormat) << round << " " << r;
    waveStop();
  }
}

TEST_F(WaveTest, UnplayableFormatsAndMissingDeviceReportTheirCodes) {
  std::vector<uint8_t> data(100, 128);
  EXPECT_EQ(wavePlayPcm(data.data(), data.size(), 11025, 12, 1), kWaveErrorBadFormat);
  EXPECT_EQ(wavePlayPcm(data.data(), data.size(), 11025, 8, 3), kWaveErrorBadFormat);
  EXPECT_EQ(wavePlayPcm(data.data(), data.size(), 0, 8, 1), kWaveErrorBadFormat);
  // Absurd rates are damaged headers: a piece claiming 1 Hz would be
  // resampled into gigabytes.
  for (int rate : {1, 999, 384001}) {
    EXPECT_EQ(wavePlayPcm(data.data(), data.size(), rate, 8, 1), kWaveErrorBadFormat) << rate;
    WavBuilder slow;
    slow.rate = rate;
    const std::vector<uint8_t> image = slow.build(data);
    EXPECT_EQ(wavePlayImage(image.data(), image.size()), kWaveErrorBadFormat) << rate;
  }
  EXPECT_EQ(wavePlayPcm(data.data(), data.size(), 1000, 8, 1), 0);
  waveStop();
  buffers_.clear();
  WavBuilder w;
  w.bits = 4;
  EXPECT_EQ(wavePlayFile(write("adpcm.wav", w.build(data))), kWaveErrorBadFormat);
  EXPECT_TRUE(buffers_.empty());

  platform::audioClose();
  std::string old = std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "";
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  resetWaveOutputForTests();
  setWaveQueueObserver([this](const WaveQueuedBuffer& b) { buffers_.push_back(b); });
  EXPECT_EQ(wavePlayPcm(data.data(), data.size(), 11025, 8, 1), kWaveErrorNoDevice);
  EXPECT_TRUE(buffers_.empty());
  EXPECT_FALSE(waveBusy());
  platform::audioClose();
  if (old.empty()) unsetenv("SDL_AUDIODRIVER");
  else setenv("SDL_AUDIODRIVER", old.c_str(), 1);
}

TEST_F(WaveTest, RateUpPlaysAtOneAndAHalfTimesTheRate) {
  std::vector<uint8_t> data(300, 128);
  waveRateUp() = true;
  ASSERT_EQ(wavePlayPcm(data.data(), data.size(), 11025, 8, 1), 0);
  ASSERT_EQ(wavePlayPcm(data.data(), data.size(), 22050, 16, 1), 0);
  ASSERT_EQ(buffers_.size(), 2u);
  EXPECT_EQ(buffers_[0].rate, 16537);
  EXPECT_EQ(buffers_[1].rate, 33075);
}

// An 8-bit voice-like signal: one sharp peak every `period` samples.
std::vector<uint8_t> voiced(size_t n, size_t period) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) {
    size_t k = i % period;
    v[i] = static_cast<uint8_t>(k == 0 ? 250 : k < period / 2 ? 200 - k : 100);
  }
  return v;
}

TEST(WaveCompress, DropsEveryOtherPitchPeriod) {
  auto v = voiced(8192, 100);
  auto original = v;
  size_t n = waveCompress(v.data(), v.size(), 8, 11025);
  EXPECT_GT(n, 8192u * 4 / 10);
  EXPECT_LT(n, 8192u * 6 / 10);
  // Everything up to the first peak stays as it was.
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + 300, v.begin()));
  // What follows is made of whole periods of the input: every kept period
  // runs from one peak to the next.
  size_t peaks = std::count(v.begin(), v.begin() + static_cast<long>(n), 250);
  EXPECT_GT(peaks, n / 100);

  auto w = voiced(8192, 400);
  n = waveCompress(w.data(), w.size(), 8, 44100);
  EXPECT_GT(n, 8192u * 4 / 10);
  EXPECT_LT(n, 8192u * 7 / 10);
}

TEST(WaveCompress, ShortPiecesAreKeptAndSixteenBitBecomesEightBit) {
  auto v = voiced(999, 100);
  auto original = v;
  EXPECT_EQ(waveCompress(v.data(), v.size(), 8, 11025), 999u);
  EXPECT_EQ(v, original);

  // 16-bit: the high byte moved to unsigned, halving the length.
  std::vector<uint8_t> s16 = {0x34, 0x12, 0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00};
  EXPECT_EQ(waveCompress(s16.data(), s16.size(), 16, 11025), 4u);
  EXPECT_EQ(s16[0], 0x92);
  EXPECT_EQ(s16[1], 0x00);
  EXPECT_EQ(s16[2], 0xFF);
  EXPECT_EQ(s16[3], 0x80);

  // Just above 1000 samples at another rate the first search window reaches
  // past the end of the piece: it must stay inside (sanitizers watch).
  for (size_t len : {1000u, 1100u, 1319u, 1320u, 1321u}) {
    std::vector<uint8_t> p(len, 128);
    p[len - 1] = 255;
    size_t out = waveCompress(p.data(), p.size(), 8, 22050);
    EXPECT_LE(out, len);
  }
}

TEST_F(WaveTest, CompressShortensMonoSoundOnlyAndPrefersFastRecordings) {
  waveCompressOn() = true;
  // 16-bit mono: played as 8-bit, about a quarter of the bytes (half for the
  // conversion, half for the dropped periods).
  std::vector<uint8_t> s16(2 * 8000);
  auto v = voiced(8000, 100);
  for (size_t i = 0; i < v.size(); ++i) s16[2 * i + 1] = static_cast<uint8_t>(v[i] ^ 0x80);
  ASSERT_EQ(wavePlayPcm(s16.data(), s16.size(), 384000, 16, 1), 0);
  size_t total = allBytes().size();
  EXPECT_EQ(buffers_[0].bits, 8);
  // 8000 samples after the conversion; pieces of 4096 samples lose about
  // half of what lies between their first peak and their tail.
  EXPECT_GT(total, 8000u * 4 / 10);
  EXPECT_LT(total, 8000u * 3 / 4);

  // Stereo sound is not shortened.
  buffers_.clear();
  std::vector<uint8_t> st(6000, 200);
  ASSERT_EQ(wavePlayPcm(st.data(), st.size(), 384000, 16, 2), 0);
  EXPECT_EQ(allBytes().size(), 6000u);
  EXPECT_EQ(buffers_[0].bits, 16);

  // A letter with a fast recording beside it: that one plays, unshortened,
  // and compression is on again afterwards.
  WavBuilder w;
  w.rate = 384000;
  std::string letter = write("letras/_65.wav", w.build(voiced(5000, 100)));
  auto fastData = voiced(3000, 100);
  write("letras/rapido/_65.wav", w.build(fastData));
  buffers_.clear();
  ASSERT_EQ(wavePlayFile(letter), 0);
  EXPECT_EQ(allBytes().size(), 3000u);
  EXPECT_TRUE(waveCompressOn());
  // The same name through "\" separators.
  buffers_.clear();
  std::string windowsStyle = letter;
  std::replace(windowsStyle.begin(), windowsStyle.end(), '/', '\\');
  ASSERT_EQ(wavePlayFile(windowsStyle), 0);
  EXPECT_EQ(allBytes().size(), 3000u);

  // Without a fast recording the file itself is shortened.
  std::string other = write("letras/_66.wav", w.build(voiced(5000, 100)));
  buffers_.clear();
  ASSERT_EQ(wavePlayFile(other), 0);
  EXPECT_LT(allBytes().size(), 3500u);
}

TEST_F(WaveTest, KeyCutsALongFileWithinOnePieceAndStaysQueued) {
  WavBuilder w;  // 11025 per second: 20 pieces are about 15 seconds
  auto file = write("long.wav", w.build(std::vector<uint8_t>(20 * kWavePieceBytes, 150)));
  onQueued_ = [](const WaveQueuedBuffer&) { pushKey('x'); };
  EXPECT_EQ(wavePlayFile(file), 0);
  EXPECT_EQ(buffers_.size(), 1u);
  EXPECT_FALSE(waveBusy());
  EXPECT_EQ(waveQueuedCount(), 0);
  EXPECT_TRUE(keyPressed());
  EXPECT_EQ(readKey(), 'x');

  // A key already waiting: nothing plays at all.
  onQueued_ = nullptr;
  buffers_.clear();
  pushKey('y');
  EXPECT_EQ(wavePlayFile(file), 0);
  EXPECT_TRUE(buffers_.empty());
  EXPECT_EQ(readKey(), 'y');

  // With cutOnKey off a waiting key does not keep a sound from playing.
  waveCutOnKey() = false;
  waveAsyncFiles() = true;
  pushKey('z');
  EXPECT_EQ(wavePlayFile(write("short.wav", w.build(std::vector<uint8_t>(1000, 150)))), 0);
  EXPECT_EQ(buffers_.size(), 1u);
  EXPECT_TRUE(waveBusy());
  EXPECT_EQ(readKey(), 'z');
}

TEST_F(WaveTest, NewFormatWaitsForTheQueueToDrain) {
  std::vector<uint8_t> s16(4 * kWavePieceBytes, 0);
  std::vector<uint8_t> u8(500, 128);
  // 48 kHz 16-bit stereo: each piece lasts 43 ms, far longer than queueing.
  ASSERT_EQ(wavePlayPcm(s16.data(), s16.size(), 48000, 16, 2), 0);
  ASSERT_EQ(wavePlayPcm(u8.data(), u8.size(), 48000, 8, 1), 0);
  ASSERT_EQ(buffers_.size(), 5u);
  EXPECT_EQ(queuedAtCall_[3], 4);
  EXPECT_EQ(queuedAtCall_[4], 1);  // the four 16-bit buffers had come back
  EXPECT_EQ(buffers_[4].bits, 8);
  // Same format again: no wait.
  ASSERT_EQ(wavePlayPcm(u8.data(), u8.size(), 48000, 8, 1), 0);
  EXPECT_EQ(queuedAtCall_.back(), 2);
}

TEST_F(WaveTest, DeviceNamesAreFoundIgnoringCaseAndBlanks) {
  auto names = waveDeviceNames();
  for (size_t i = 0; i < names.size(); ++i) {
    std::string lower = "  " + names[i] + " ";
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    int device = -5;
    ASSERT_TRUE(waveDeviceByName(lower, device));
    EXPECT_EQ(names[static_cast<size_t>(device)], names[i]);
  }
  int device = -5;
  EXPECT_FALSE(waveDeviceByName("no such output device", device));
  EXPECT_EQ(device, -5);
  EXPECT_EQ(waveDeviceNumber(), -1);  // no TRADUTOR/SAIDADEAUDIO in the test settings
}

}  // namespace
}  // namespace ondaria
