// The mixer and the PCM queue source, rendered into buffers directly; the
// device's buffer-size switches on SDL's dummy driver (one device at a time)
// and on drivers that open two devices at once (ALSA's null output, and a
// sound server the test starts when one is installed); once through SDL's disk
// driver.
#include "platform/audio_device.h"

#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "support/stream_peers.h"
#include "support/temp_files.h"

namespace platform {
namespace {

constexpr PcmFormat kU8Mono{11025, 1, PcmEncoding::U8};
constexpr PcmFormat kS16Stereo48{kMixRate, 2, PcmEncoding::S16};
constexpr PcmFormat kF32Stereo48{kMixRate, 2, PcmEncoding::F32};

std::vector<float> render(int frames) {
  std::vector<float> out(static_cast<size_t>(frames) * 2, 123.0f);  // garbage first
  audioRender(out.data(), frames);
  return out;
}

// Float stereo frames all holding (l, r).
std::vector<float> constant(size_t frames, float l, float r) {
  std::vector<float> v(frames * 2);
  for (size_t i = 0; i < frames; ++i) v[2 * i] = l, v[2 * i + 1] = r;
  return v;
}

class MixerTest : public ::testing::Test {
 protected:
  void SetUp() override { audioClose(); }
  void TearDown() override {
    for (auto& s : attached_) audioRemoveSource(s.get());
    setAudioObserver(nullptr);
  }
  std::shared_ptr<PcmQueueSource> attach() {
    auto s = std::make_shared<PcmQueueSource>();
    audioAddSource(s);
    attached_.push_back(s);
    return s;
  }
  std::vector<std::shared_ptr<PcmQueueSource>> attached_;
};

TEST(PcmConversion, EncodingsMapToFloatAndMonoGoesToBothSides) {
  const uint8_t u8[] = {128, 0, 255, 192};
  auto f = convertToMix(u8, sizeof u8, {kMixRate, 1, PcmEncoding::U8});
  ASSERT_EQ(f.size(), 8u);
  EXPECT_FLOAT_EQ(f[0], 0.0f);
  EXPECT_FLOAT_EQ(f[1], 0.0f);
  EXPECT_FLOAT_EQ(f[2], -1.0f);
  EXPECT_FLOAT_EQ(f[3], -1.0f);
  EXPECT_FLOAT_EQ(f[4], 127.0f / 128.0f);
  EXPECT_FLOAT_EQ(f[6], 0.5f);
  EXPECT_FLOAT_EQ(f[7], 0.5f);

  // Little-endian 16-bit, left then right; a trailing odd byte is ignored.
  const uint8_t s16[] = {0x00, 0x40, 0x00, 0xC0, 0xFF, 0x7F, 0x00, 0x80, 0x11};
  auto g = convertToMix(s16, sizeof s16, kS16Stereo48);
  ASSERT_EQ(g.size(), 4u);
  EXPECT_FLOAT_EQ(g[0], 0.5f);
  EXPECT_FLOAT_EQ(g[1], -0.5f);
  EXPECT_FLOAT_EQ(g[2], 32767.0f / 32768.0f);
  EXPECT_FLOAT_EQ(g[3], -1.0f);

  const float f32[] = {0.25f, NAN, -0.75f, 0.125f};
  auto h = convertToMix(f32, sizeof f32, kF32Stereo48);
  ASSERT_EQ(h.size(), 4u);
  EXPECT_FLOAT_EQ(h[0], 0.25f);
  EXPECT_FLOAT_EQ(h[1], 0.0f);  // NaN never reaches the mix
  EXPECT_FLOAT_EQ(h[2], -0.75f);
}

TEST(PcmConversion, RejectsInvalidFormatsAndPartialFrames) {
  const uint8_t bytes[8] = {};
  EXPECT_TRUE(convertToMix(bytes, 8, {0, 1, PcmEncoding::U8}).empty());
  EXPECT_TRUE(convertToMix(bytes, 8, {-5, 1, PcmEncoding::U8}).empty());
  EXPECT_TRUE(convertToMix(bytes, 8, {11025, 0, PcmEncoding::U8}).empty());
  EXPECT_TRUE(convertToMix(bytes, 8, {11025, 3, PcmEncoding::U8}).empty());
  EXPECT_TRUE(convertToMix(bytes, 8, {2000000000, 1, PcmEncoding::S16}).empty());
  EXPECT_TRUE(convertToMix(bytes, 3, kS16Stereo48).empty());
  EXPECT_TRUE(convertToMix(nullptr, 8, kU8Mono).empty());
}

TEST(PcmConversion, ResamplesWithLinearInterpolation) {
  // 24 kHz to 48 kHz: every second output frame lies halfway between inputs.
  const int16_t in[] = {0, 1000, 2000, 4000};
  auto out = convertToMix(in, sizeof in, {24000, 1, PcmEncoding::S16});
  ASSERT_EQ(out.size() / 2, 8u);  // positions 0, .5, 1, … 3.5 (last frame held)
  const float expect[] = {0, 500, 1000, 1500, 2000, 3000, 4000, 4000};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(out[2 * i] * 32768.0f, expect[i], 0.01f) << i;

  // One second at 11025 Hz lasts one second at the mix rate.
  std::vector<uint8_t> second(11025, 128);
  auto up = convertToMix(second.data(), second.size(), kU8Mono);
  EXPECT_EQ(up.size() / 2, static_cast<size_t>(kMixRate));
}

TEST(PcmConversion, PiecesJoinAsIfConvertedWhole) {
  // A ramp at 22050 Hz converted whole and converted in uneven pieces with a
  // carried state must give the same frames: no clicks or drift at the joins.
  std::vector<int16_t> ramp(5000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(i * 6);
  const PcmFormat fmt{22050, 1, PcmEncoding::S16};
  PcmResampleState wholeState;
  auto whole = convertToMix(ramp.data(), ramp.size() * 2, fmt, &wholeState);

  PcmResampleState state;
  std::vector<float> pieces;
  size_t pos = 0;
  for (size_t len : {1u, 7u, 333u, 1024u, 2u, 3633u}) {
    auto part = convertToMix(ramp.data() + pos, len * 2, fmt, &state);
    pieces.insert(pieces.end(), part.begin(), part.end());
    pos += len;
  }
  ASSERT_EQ(pos, ramp.size());
  ASSERT_EQ(pieces.size(), whole.size());
  for (size_t i = 0; i < whole.size(); ++i) ASSERT_NEAR(pieces[i], whole[i], 1e-4) << i;
}

TEST_F(MixerTest, TwoSourcesAreSummedWithVolumeAndClipped) {
  auto a = attach();
  auto b = attach();
  auto fa = constant(100, 0.25f, -0.5f);
  auto fb = constant(100, 0.5f, -0.75f);
  ASSERT_EQ(a->queue(fa.data(), fa.size() * 4, kF32Stereo48), 1u);
  ASSERT_EQ(b->queue(fb.data(), fb.size() * 4, kF32Stereo48), 1u);
  b->setVolume(0.5f);
  auto out = render(150);
  EXPECT_FLOAT_EQ(out[0], 0.5f);     // 0.25 + 0.5 * 0.5
  EXPECT_FLOAT_EQ(out[1], -0.875f);  // -0.5 + -0.75 * 0.5
  EXPECT_FLOAT_EQ(out[2 * 99], 0.5f);
  EXPECT_FLOAT_EQ(out[2 * 100], 0.0f);  // both ended: silence, not stale data
  EXPECT_FLOAT_EQ(out[2 * 149 + 1], 0.0f);

  b->setVolume(4.0f);
  a->queue(fa.data(), fa.size() * 4, kF32Stereo48);
  b->queue(fb.data(), fb.size() * 4, kF32Stereo48);
  out = render(10);
  EXPECT_FLOAT_EQ(out[0], 1.0f);   // 0.25 + 2.0 clipped
  EXPECT_FLOAT_EQ(out[1], -1.0f);  // -0.5 - 3.0 clipped

  b->setVolume(NAN);
  EXPECT_EQ(b->volume(), 0.0f);
  b->setVolume(-2);
  EXPECT_EQ(b->volume(), 0.0f);
}

TEST_F(MixerTest, BuffersPlayInOrderAndAreCountedDone) {
  auto s = attach();
  auto one = constant(300, 0.1f, 0.1f);
  auto two = constant(300, 0.2f, 0.2f);
  EXPECT_EQ(s->queue(one.data(), one.size() * 4, kF32Stereo48), 1u);
  EXPECT_EQ(s->queue(two.data(), two.size() * 4, kF32Stereo48), 2u);
  EXPECT_TRUE(s->busy());
  EXPECT_EQ(s->pendingFrames(), 600u);
  auto out = render(299);
  EXPECT_FLOAT_EQ(out[2 * 298], 0.1f);
  EXPECT_EQ(s->doneCount(), 0u);
  out = render(2);
  EXPECT_FLOAT_EQ(out[0], 0.1f);
  EXPECT_FLOAT_EQ(out[2], 0.2f);
  EXPECT_EQ(s->doneCount(), 1u);
  render(299);
  EXPECT_EQ(s->doneCount(), 2u);
  EXPECT_FALSE(s->busy());
  EXPECT_EQ(s->pendingFrames(), 0u);
  EXPECT_EQ(s->queuedCount(), 2u);
}

TEST_F(MixerTest, FlushSilencesAtOnceAndCountsDroppedBuffersDone) {
  auto s = attach();
  auto sound = constant(1000, 0.5f, 0.5f);
  for (int i = 0; i < 5; ++i) s->queue(sound.data(), sound.size() * 4, kF32Stereo48);
  render(1500);  // one and a half buffers played
  EXPECT_EQ(s->doneCount(), 1u);
  s->flush();
  EXPECT_FALSE(s->busy());
  EXPECT_EQ(s->doneCount(), 5u);
  auto out = render(kDeviceBufferFrames);
  for (float v : out) ASSERT_EQ(v, 0.0f);
  // The source stays usable after a cut.
  EXPECT_EQ(s->queue(sound.data(), 8, kF32Stereo48), 6u);
  EXPECT_FLOAT_EQ(render(1)[0], 0.5f);
}

TEST_F(MixerTest, LoopRepeatsUntilFlushOrNewQueue) {
  auto s = attach();
  const float pattern[] = {0.1f, 0.1f, 0.2f, 0.2f, 0.3f, 0.3f};
  ASSERT_TRUE(s->loop(pattern, sizeof pattern, kF32Stereo48));
  auto out = render(8);
  const float expect[] = {0.1f, 0.2f, 0.3f, 0.1f, 0.2f, 0.3f, 0.1f, 0.2f};
  for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(out[2 * i], expect[i]) << i;
  EXPECT_TRUE(s->busy());
  EXPECT_EQ(s->pendingFrames(), 0u);
  s->flush();
  EXPECT_FLOAT_EQ(render(1)[0], 0.0f);

  ASSERT_TRUE(s->loop(pattern, sizeof pattern, kF32Stereo48));
  const float next[] = {0.9f, 0.9f};
  s->queue(next, sizeof next, kF32Stereo48);  // ends the loop
  out = render(3);
  EXPECT_FLOAT_EQ(out[0], 0.9f);
  EXPECT_FLOAT_EQ(out[2], 0.0f);
  EXPECT_FALSE(s->busy());
  EXPECT_FALSE(s->loop(pattern, 0, kF32Stereo48));
}

TEST_F(MixerTest, PausedSourceKeepsItsSoundAndRemovedSourceIsNotMixed) {
  auto s = attach();
  auto sound = constant(10, 0.5f, 0.5f);
  s->queue(sound.data(), sound.size() * 4, kF32Stereo48);
  s->setPaused(true);
  EXPECT_FLOAT_EQ(render(5)[0], 0.0f);
  EXPECT_EQ(s->pendingFrames(), 10u);
  s->setPaused(false);
  EXPECT_FLOAT_EQ(render(5)[0], 0.5f);
  audioRemoveSource(s.get());
  EXPECT_FLOAT_EQ(render(5)[0], 0.0f);
  EXPECT_EQ(s->pendingFrames(), 5u);
}

TEST_F(MixerTest, ObserverReportsFirstAudibleFrame) {
  auto s = attach();
  std::vector<AudioBlockReport> reports;
  setAudioObserver([&](const AudioBlockReport& r) { reports.push_back(r); });
  std::vector<float> sound(200, 0.0f);
  sound[2 * 37 + 1] = 0.5f;  // right channel of frame 37
  s->queue(sound.data(), sound.size() * 4, kF32Stereo48);
  render(64);
  render(64);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].firstAudible, 37);
  EXPECT_FLOAT_EQ(reports[0].peak, 0.5f);
  EXPECT_EQ(reports[1].firstAudible, -1);
  EXPECT_EQ(reports[1].frames, 64);
}

TEST_F(MixerTest, ProducerThreadAndCuttingThreadDoNotRace) {
  // The stream decoder queues from its thread while the main thread cuts and
  // the mixer renders; counts must stay consistent (and TSan/ASan quiet).
  auto s = attach();
  std::atomic<bool> stop{false};
  std::thread producer([&] {
    std::vector<int16_t> piece(882, 1000);
    while (!stop) s->queue(piece.data(), piece.size() * 2, {44100, 2, PcmEncoding::S16});
  });
  for (int i = 0; i < 300; ++i) {
    render(kDeviceBufferFrames);
    if (i % 7 == 0) s->flush();
  }
  stop = true;
  producer.join();
  s->flush();
  EXPECT_EQ(s->doneCount(), s->queuedCount());
  EXPECT_EQ(s->pendingFrames(), 0u);
}

// The device on SDL's dummy driver, with the relax delay shortened: which
// buffer size it runs at depends on what plays.
class DeviceBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    audioClose();
    ASSERT_TRUE(audioOpen());
    watch();
  }
  // Shortens the relax delay and counts the blocks the device mixes.
  void watch() {
    ASSERT_EQ(audioBufferFrames(), kDeviceBufferFrames);
    setAudioRelaxDelay(std::chrono::milliseconds(100));
    setAudioObserver([this](const AudioBlockReport& r) {
      if (r.peak > 0.4f) {
        int64_t none = 0;
        loudAt_.compare_exchange_strong(none, r.when.time_since_epoch().count());
      }
      if (r.frames == kRelaxedBufferFrames) relaxedBlocks_.fetch_add(1);
      if (r.frames == kDeviceBufferFrames) tightBlocks_.fetch_add(1);
      if (r.firstAudible >= 0) {
        audibleFrames_.fetch_add(static_cast<uint64_t>(r.frames));
        if (r.frames == kRelaxedBufferFrames) audibleRelaxedBlocks_.fetch_add(1);
        if (r.frames == kDeviceBufferFrames) audibleTightBlocks_.fetch_add(1);
      } else {
        silentBlocks_.fetch_add(1);
      }
    });
  }
  void TearDown() override {
    setAudioObserver(nullptr);
    for (auto& s : attached_) audioRemoveSource(s.get());
    setAudioRelaxDelay(std::chrono::milliseconds(2000));
    setAudioSuspendDelay(std::chrono::milliseconds(3000));
    audioClose();
  }
  std::shared_ptr<PcmQueueSource> attach(bool background) {
    auto s = std::make_shared<PcmQueueSource>();
    s->setBackground(background);
    audioAddSource(s);
    attached_.push_back(s);
    return s;
  }
  // Queues `ms` milliseconds of a constant, audible sound.
  static void feed(PcmQueueSource& s, int ms, float level = 0.25f) {
    auto v = constant(static_cast<size_t>(kMixRate) * ms / 1000, level, level);
    s.queue(v.data(), v.size() * sizeof(float), kF32Stereo48);
  }
  // Runs the maintenance every few ms (as a stream channel does) until `done`
  // holds or `limit` passes; returns whether it held.
  template <typename Pred>
  static bool maintainUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      audioMaintain();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  // Polls `done` every 2 ms for up to ten seconds; returns whether it held.
  template <typename Pred>
  static bool waitFor(Pred done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  // Waits until the device has mixed `blocks` more buffers of the counter.
  static bool waitBlocks(const std::atomic<int>& counter, int blocks) {
    int target = counter.load() + blocks;
    for (int i = 0; i < 5000 && counter.load() < target; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return counter.load() >= target;
  }
  bool relaxed() const { return audioBufferFrames() == kRelaxedBufferFrames; }
  // Speech, streams, maintenance and attaching from several threads for three
  // seconds: the device keeps switching and never deadlocks.
  void stressSwitching(bool unpacedOutput = false);

  std::vector<std::shared_ptr<PcmQueueSource>> attached_;
  std::atomic<int> relaxedBlocks_{0}, tightBlocks_{0}, silentBlocks_{0};
  std::atomic<int> audibleRelaxedBlocks_{0}, audibleTightBlocks_{0};
  std::atomic<uint64_t> audibleFrames_{0};
  // Moment (steady clock ticks) of the first block louder than 0.4 since it
  // was last set to 0.
  std::atomic<int64_t> loudAt_{0};
};

TEST_F(DeviceBufferTest, StreamAloneRelaxesAfterTheDelayAndSpeechTightensAtOnce) {
  auto stream = attach(true);
  auto speech = attach(false);  // attached but silent, as between utterances
  feed(*stream, 20000);
  // With a delay that cannot pass, maintenance keeps the short buffer.
  setAudioRelaxDelay(std::chrono::hours(1));
  ASSERT_TRUE(waitBlocks(audibleTightBlocks_, 20));
  for (int i = 0; i < 20; ++i) {
    audioMaintain();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  EXPECT_EQ(relaxedBlocks_.load(), 0);

  setAudioRelaxDelay(std::chrono::milliseconds(100));
  const uint64_t tightGeneration = audioDeviceGeneration();
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  EXPECT_TRUE(audioIsOpen());
  EXPECT_EQ(audioRate(), kMixRate);
  EXPECT_NE(audioDeviceGeneration(), tightGeneration);
  // The dummy driver refuses a second device: the switch closed the old one
  // first, and nothing is left closing in the background.
  AudioSwitchStats stats = audioSwitchStats();
  EXPECT_EQ(stats.closedFirst, 1);
  EXPECT_EQ(stats.openedBeforeClose, 0);
  EXPECT_EQ(stats.pendingCloses, 0);
  EXPECT_EQ(stats.failed, 0);
  // The stream goes on playing, now in long buffers.
  EXPECT_TRUE(waitBlocks(audibleRelaxedBlocks_, 3));

  // Speech queued on the relaxed device: on return the device is tight again,
  // so the utterance goes out at the short period.
  auto start = std::chrono::steady_clock::now();
  feed(*speech, 50, 0.5f);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ figures ] foreground queue() on the relaxed device took %.1f ms "
              "(dummy driver: the old device closes first)\n", ms);
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  stats = audioSwitchStats();
  EXPECT_EQ(stats.closedFirst, 2);
  EXPECT_EQ(stats.openedBeforeClose, 0);
  EXPECT_EQ(stats.backgroundCloses, 0);
  int tightBefore = audibleTightBlocks_.load();
  for (int i = 0; i < 400 && speech->busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(speech->busy());
  EXPECT_GT(audibleTightBlocks_.load(), tightBefore);
  // Right after speech the delay starts again: no relax before it has passed.
  audioMaintain();
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  // A loop (the console's tone) on a foreground source tightens too.
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  const float tone[] = {0.1f, 0.1f, -0.1f, -0.1f};
  ASSERT_TRUE(speech->loop(tone, sizeof tone, kF32Stereo48));
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  speech->flush();
}

TEST_F(DeviceBufferTest, BusyForegroundKeepsTheShortBuffer) {
  auto stream = attach(true);
  auto tone = attach(false);
  feed(*stream, 20000);
  const float pattern[] = {0.1f, 0.1f, -0.1f, -0.1f};
  ASSERT_TRUE(tone->loop(pattern, sizeof pattern, kF32Stereo48));
  setAudioRelaxDelay(std::chrono::milliseconds(20));
  // Many times the delay with a tone sounding: the buffer stays short.
  EXPECT_FALSE(maintainUntil([&] { return relaxed(); }, std::chrono::milliseconds(600)));
  EXPECT_EQ(relaxedBlocks_.load(), 0);
  EXPECT_GT(tightBlocks_.load(), 0);
  // A paused foreground source has nothing to play: it does not hold the
  // device tight, but resuming it does.
  tone->setPaused(true);
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  tone->setPaused(false);
  EXPECT_TRUE(maintainUntil([&] { return !relaxed(); }));
  tone->flush();
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
}

TEST_F(DeviceBufferTest, PausedEndedOrRemovedStreamTightensTheDevice) {
  auto stream = attach(true);
  feed(*stream, 20000);
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));

  // Paused (the user stopped the radio): tight again, and no relaxing while
  // the pause lasts.
  stream->setPaused(true);
  EXPECT_TRUE(maintainUntil([&] { return !relaxed(); }));
  EXPECT_FALSE(maintainUntil([&] { return relaxed(); }, std::chrono::milliseconds(300)));
  stream->setPaused(false);
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));

  // Removed: tight when audioRemoveSource returns, without maintenance.
  audioRemoveSource(stream.get());
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  EXPECT_TRUE(audioIsOpen());

  // Ended (its queue ran dry): tight again through maintenance.
  auto shortStream = attach(true);
  feed(*shortStream, 600);
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  EXPECT_TRUE(maintainUntil([&] { return !relaxed(); }));
  EXPECT_FALSE(shortStream->busy());
}

TEST_F(DeviceBufferTest, ReopeningKeepsTheStreamsQueuedSound) {
  auto stream = attach(true);
  auto speech = attach(false);
  const size_t total = static_cast<size_t>(kMixRate) * 30;  // never runs dry here
  // Queued while paused, so that the device cannot take a block before the
  // count is checked.
  stream->setPaused(true);
  feed(*stream, 30000);
  ASSERT_EQ(stream->pendingFrames(), total);
  stream->setPaused(false);
  // Tight → relaxed → tight → relaxed: three reopens.
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  ASSERT_TRUE(waitBlocks(audibleRelaxedBlocks_, 2));
  feed(*speech, 10, 0.0f);  // silent speech: the stream alone stays audible
  ASSERT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  ASSERT_TRUE(waitBlocks(audibleTightBlocks_, 5));
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  ASSERT_TRUE(waitBlocks(audibleRelaxedBlocks_, 2));

  // Stop consumption and let any buffer being mixed finish.
  stream->setPaused(true);
  ASSERT_TRUE(waitBlocks(silentBlocks_, 2));
  // Every frame the stream gave up was mixed into an audible block (some of
  // those SDL dropped at a close); none vanished from its queue.
  EXPECT_EQ(stream->pendingFrames(), total - audibleFrames_.load());
  EXPECT_GT(stream->pendingFrames(), total / 2);
  EXPECT_EQ(stream->doneCount(), 0u);
  EXPECT_TRUE(stream->busy());
}

TEST_F(DeviceBufferTest, ReopenUsesTheOutputThatActuallyOpened) {
  // A configured output that no longer exists falls back to the default one;
  // reopening must go to that default, not retry the missing name and fail.
  audioClose();
  ASSERT_TRUE(audioOpen("ondaria no such output"));
  auto stream = attach(true);
  feed(*stream, 20000);
  ASSERT_TRUE(maintainUntil([&] { return relaxed() || !audioIsOpen(); }));
  EXPECT_TRUE(audioIsOpen());
  EXPECT_TRUE(relaxed());
  EXPECT_TRUE(waitBlocks(audibleRelaxedBlocks_, 2));
  audioRemoveSource(stream.get());
  EXPECT_TRUE(audioIsOpen());
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
}

TEST_F(DeviceBufferTest, ConcurrentProducersMaintenanceAndAttachNeverDeadlock) {
  stressSwitching();
}

void DeviceBufferTest::stressSwitching(bool unpacedOutput) {
  setAudioRelaxDelay(std::chrono::milliseconds(3));
  auto speech = attach(false);
  auto stream = attach(true);
  // An output without a clock empties a fed stream at once; a second, looped
  // one keeps a stream sounding there so the device still relaxes.
  std::shared_ptr<PcmQueueSource> hum;
  if (unpacedOutput) {
    hum = attach(true);
    const float level[] = {0.05f, 0.05f};
    ASSERT_TRUE(hum->loop(level, sizeof level, kF32Stereo48));
  }
  std::atomic<bool> stop{false};
  std::atomic<bool> finished{false};
  std::mutex watchMutex;
  std::condition_variable watchCv;
  // A deadlock would hang the run: fail loudly instead.
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(watchMutex);
    if (!watchCv.wait_for(lock, std::chrono::seconds(90), [&] { return finished.load(); })) {
      std::fprintf(stderr, "audio device stress test deadlocked\n");
      std::abort();
    }
  });

  std::thread speaker([&] {
    std::mt19937 rng(7);
    std::vector<int16_t> piece(441 * 2, 3000);  // 10 ms at 44.1 kHz stereo
    while (!stop) {
      int burst = static_cast<int>(rng() % 5);
      for (int i = 0; i < burst; ++i) speech->queue(piece.data(), piece.size() * 2, {44100, 2, PcmEncoding::S16});
      if (rng() % 4 == 0) speech->flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 60));
    }
    audioThreadEnds();
  });
  std::thread decoder([&] {
    std::vector<float> piece(480 * 2, 0.1f);
    while (!stop) {
      if (stream->pendingFrames() < static_cast<size_t>(kMixRate) / 2) {
        stream->queue(piece.data(), piece.size() * sizeof(float), kF32Stereo48);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      audioMaintain();
    }
    audioThreadEnds();
  });

  std::mt19937 rng(11);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < end) {
    auto extra = std::make_shared<PcmQueueSource>();
    extra->setBackground(rng() % 2 == 0);
    audioAddSource(extra);
    feed(*extra, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 20));
    if (rng() % 3 == 0) stream->setPaused(!stream->paused());
    audioRemoveSource(extra.get());
  }
  stop = true;
  speaker.join();
  decoder.join();
  {
    std::lock_guard<std::mutex> lock(watchMutex);
    finished = true;
  }
  watchCv.notify_all();
  watchdog.join();

  std::printf("[ figures ] stress: %d relaxed and %d tight blocks mixed\n", relaxedBlocks_.load(),
              tightBlocks_.load());
  EXPECT_TRUE(audioIsOpen());
  EXPECT_GT(relaxedBlocks_.load(), 0);  // the device did go back and forth
  speech->flush();
  EXPECT_EQ(speech->doneCount(), speech->queuedCount());
  // Everything removed: the device is tight.
  if (hum) audioRemoveSource(hum.get());
  audioRemoveSource(stream.get());
  audioRemoveSource(speech.get());
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  // Still playing after all that.
  auto last = attach(false);
  feed(*last, 20);
  for (int i = 0; i < 400 && last->busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_FALSE(last->busy());
}

// A stream-like source that adds 0.5 and counts the calls made on the thread
// that created it (the test's), so the test's renders can be told from the
// device's own.
class CountingSource : public AudioSource {
 public:
  void mixInto(float* out, int frames) override {
    if (std::this_thread::get_id() == owner_) calls_.fetch_add(1);
    for (int i = 0; i < frames * 2; ++i) out[i] += 0.5f;
  }
  bool background() const override { return true; }
  int calls() const { return calls_.load(); }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
  std::atomic<int> calls_{0};
};

bool allEqual(const std::vector<float>& v, float value) {
  return std::all_of(v.begin(), v.end(), [&](float x) { return x == value; });
}

TEST_F(DeviceBufferTest, SupersededDeviceWritesSilenceAndLeavesTheSourcesAlone) {
  auto counting = std::make_shared<CountingSource>();
  audioAddSource(counting);
  struct Detach {
    const AudioSource* source;
    ~Detach() { audioRemoveSource(source); }
  } detach{counting.get()};
  std::vector<float> out(2 * 64, 9.0f);
  const uint64_t tight = audioDeviceGeneration();
  ASSERT_NE(tight, 0u);
  // The current device mixes.
  audioRenderForDevice(tight, out.data(), 64);
  EXPECT_TRUE(allEqual(out, 0.5f));
  EXPECT_EQ(counting->calls(), 1);

  // After a switch the old device is superseded: whatever it is still asked
  // for is silence, and the sources are not touched (their sound belongs to
  // the new device).
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  const uint64_t relaxedGeneration = audioDeviceGeneration();
  ASSERT_NE(relaxedGeneration, tight);
  std::fill(out.begin(), out.end(), 9.0f);
  audioRenderForDevice(tight, out.data(), 64);
  EXPECT_TRUE(allEqual(out, 0.0f));
  EXPECT_EQ(counting->calls(), 1);
  audioRenderForDevice(relaxedGeneration, out.data(), 64);
  EXPECT_TRUE(allEqual(out, 0.5f));
  EXPECT_EQ(counting->calls(), 2);

  // Once closed no generation mixes; queued sound stays queued for the next
  // device (or a render).
  audioClose();
  EXPECT_EQ(audioDeviceGeneration(), 0u);
  auto queued = attach(false);
  feed(*queued, 10);
  const size_t pending = queued->pendingFrames();
  ASSERT_GT(pending, 64u);
  for (uint64_t generation : {uint64_t{0}, tight, relaxedGeneration}) {
    std::fill(out.begin(), out.end(), 9.0f);
    audioRenderForDevice(generation, out.data(), 64);
    EXPECT_TRUE(allEqual(out, 0.0f)) << generation;
    EXPECT_EQ(queued->pendingFrames(), pending) << generation;
  }
  audioRender(out.data(), 64);
  EXPECT_EQ(queued->pendingFrames(), pending - 64);
}

// ---- suspension: the device closed while nothing sounds ----

TEST_F(DeviceBufferTest, SilenceClosesTheDeviceAndTheNextSoundOpensItFirst) {
  setAudioSuspendDelay(std::chrono::milliseconds(150));
  ASSERT_TRUE(waitFor([] { return audioSuspended(); }));
  // Closed for SDL, open for everybody else.
  EXPECT_TRUE(audioIsOpen());
  EXPECT_EQ(audioRate(), kMixRate);
  EXPECT_EQ(audioDeviceGeneration(), 0u);
  const uint64_t before = audibleFrames_.load();
  auto speech = attach(false);
  feed(*speech, 100);
  // Woken by the queueing itself, before the sound was queued.
  EXPECT_FALSE(audioSuspended());
  EXPECT_NE(audioDeviceGeneration(), 0u);
  EXPECT_TRUE(waitFor([&] { return audibleFrames_.load() > before && !speech->busy(); }));
  // Silent again: asleep again.
  EXPECT_TRUE(waitFor([] { return audioSuspended(); }));
  const AudioSwitchStats stats = audioSwitchStats();
  EXPECT_GE(stats.suspensions, 2);
  EXPECT_GE(stats.resumes, 1);
}

TEST_F(DeviceBufferTest, APausedStreamLetsTheDeviceSleepAndASoundingOneKeepsItAwake) {
  setAudioSuspendDelay(std::chrono::milliseconds(150));
  auto stream = attach(true);
  stream->setPaused(true);
  feed(*stream, 3000);
  ASSERT_TRUE(waitFor([] { return audioSuspended(); }));
  const int suspensions = audioSwitchStats().suspensions;
  stream->setPaused(false);
  EXPECT_FALSE(audioSuspended());
  // Four suspend delays in, most of the sound is still to come: awake.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_TRUE(stream->busy());
  EXPECT_FALSE(audioSuspended());
  EXPECT_EQ(audioSwitchStats().suspensions, suspensions);
}

TEST_F(DeviceBufferTest, SoundsQueuedWhileTheKeeperSuspendsAreNeverLost) {
  // The keeper decides after a millisecond of silence: every queueing races a
  // suspension. A sound queued onto a closed device would never be played,
  // and its source would stay busy for ever.
  setAudioSuspendDelay(std::chrono::milliseconds(1));
  std::vector<std::shared_ptr<PcmQueueSource>> sources;
  for (int i = 0; i < 3; ++i) sources.push_back(attach(i == 2));
  std::vector<std::thread> producers;
  for (auto& source : sources) {
    producers.emplace_back([source] {
      std::mt19937 random(static_cast<unsigned>(reinterpret_cast<uintptr_t>(source.get())));
      for (int n = 0; n < 40; ++n) {
        feed(*source, 3);
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 8));
      }
      audioThreadEnds();  // the queueing may have opened the device
    });
  }
  for (auto& t : producers) t.join();
  for (auto& source : sources) {
    EXPECT_TRUE(waitFor([&] { return !source->busy(); }));
    EXPECT_EQ(source->doneCount(), source->queuedCount());
  }
  const AudioSwitchStats stats = audioSwitchStats();
  std::printf("[ figure ] %d suspensions and %d resumes while three producers raced the keeper\n",
              stats.suspensions, stats.resumes);
}

// A sound server for the test alone: pulseaudio with a null output, reached
// only through a socket in a temporary folder (no network, no autospawn). The
// environment it needs is set in `env` for the test's lifetime.
class LocalSoundServer {
 public:
  bool start(ondaria::test::ScopedEnv& env) {
    const std::string dir = folder_.path().string();
    if (dir.empty()) return false;
    const std::string socket = dir + "/native";
    ondaria::test::writeFileBytes(dir + "/client.conf", "autospawn = no\n");
    env.set("HOME", dir);
    env.set("XDG_RUNTIME_DIR", dir);
    env.set("XDG_CONFIG_HOME", dir);
    env.set("PULSE_RUNTIME_PATH", dir + "/run");
    env.set("PULSE_STATE_PATH", dir + "/state");
    env.set("PULSE_CLIENTCONFIG", dir + "/client.conf");
    env.set("PULSE_SERVER", "unix:" + socket);
    if (!program_.start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                         "--use-pid-file=no", "--log-target=stderr", "-L",
                         "module-null-sink sink_name=ondaria_test", "-L",
                         "module-native-protocol-unix socket=" + socket + " auth-anonymous=1"},
                        dir + "/server.log")) {
      return false;
    }
    for (int i = 0; i < 200; ++i) {
      if (::access(socket.c_str(), F_OK) == 0) return true;
      if (!program_.running()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  ondaria::test::TempFolder folder_{"ondaria-sound"};
  ondaria::test::BackgroundProgram program_;
};

// The device on drivers that open a second device beside the first. ALSA's
// null output takes any number of streams and accepts each buffer at once
// (no clock drives it), so its callbacks run back to back: it shows the order
// of events, not real timing. The sound server paces its null output like a
// sound card; it runs only where pulseaudio is installed.
class MultiDeviceTest : public DeviceBufferTest,
                        public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    audioClose();
    if (GetParam() == "alsa_null") {
      env_.set("SDL_AUDIODRIVER", "alsa");
      env_.set("AUDIODEV", "null");
    } else {
      if (!server_.start(env_)) GTEST_SKIP() << "no pulseaudio server can be started here";
      env_.set("SDL_AUDIODRIVER", "pulseaudio");
    }
    if (!audioOpen()) GTEST_SKIP() << GetParam() << ": no output opens";
    watch();
  }
  // A stream that never runs dry, even on an output without a clock.
  std::shared_ptr<PcmQueueSource> endlessStream() {
    auto stream = attach(true);
    const float hum[] = {0.1f, 0.1f, 0.1f, 0.1f};
    EXPECT_TRUE(stream->loop(hum, sizeof hum, kF32Stereo48));
    return stream;
  }
  // Figures are printed only for an output with a clock: ALSA's null output
  // keeps its audio thread busy without a pause, so there every lock the mixer
  // takes is contended and times say nothing about real use.
  bool paced() const { return GetParam() != "alsa_null"; }
  static bool noCloseRunning() {
    return waitFor([] { return audioSwitchStats().pendingCloses == 0; });
  }

  LocalSoundServer server_;
  ondaria::test::ScopedEnv env_;
};

double msBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

TEST_P(MultiDeviceTest, SpeechOnARelaxedDeviceStartsBeforeTheOldDeviceHasClosed) {
  auto stream = endlessStream();
  auto speech = attach(false);
  ASSERT_TRUE(waitBlocks(audibleTightBlocks_, 5));
  ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
  AudioSwitchStats stats = audioSwitchStats();
  EXPECT_EQ(stats.openedBeforeClose, 1);
  EXPECT_EQ(stats.closedFirst, 0);
  ASSERT_TRUE(waitBlocks(audibleRelaxedBlocks_, 3));
  ASSERT_TRUE(noCloseRunning());
  const double tightClose = audioSwitchStats().lastClose.count() / 1000.0;

  loudAt_ = 0;
  const auto start = std::chrono::steady_clock::now();
  feed(*speech, 50, 0.5f);  // with the stream: 0.6, louder than anything before
  const auto returned = std::chrono::steady_clock::now();
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  ASSERT_TRUE(waitFor([&] { return loudAt_.load() != 0; }));
  ASSERT_TRUE(noCloseRunning());
  stats = audioSwitchStats();
  EXPECT_EQ(stats.openedBeforeClose, 2);
  EXPECT_EQ(stats.closedFirst, 0);
  EXPECT_EQ(stats.failed, 0);
  EXPECT_EQ(stats.backgroundCloses, 2);
  // The speech was mixed by the new device while SDL was still closing the
  // relaxed one: it did not wait for that close.
  const std::chrono::steady_clock::time_point heard{
      std::chrono::steady_clock::duration(loudAt_.load())};
  EXPECT_GT(msBetween(heard, stats.lastCloseEnded), 0.0)
      << "the speech was first mixed after the relaxed device's close had ended";
  if (paced()) {
    std::printf("[ figures ] %s: foreground queue() on the relaxed device took %.2f ms (switch "
                "%.2f ms), speech mixed %.2f ms after it was queued; closing the relaxed device "
                "took %.1f ms in the background (the tight one %.1f ms)\n",
                GetParam().c_str(), msBetween(start, returned), stats.lastSwitch.count() / 1000.0,
                msBetween(start, heard), stats.lastClose.count() / 1000.0, tightClose);
  }
  EXPECT_TRUE(waitBlocks(audibleTightBlocks_, 3));
}

TEST_P(MultiDeviceTest, RemovingTheLastStreamDoesNotWaitAndCloseWaitsForTheOldDevice) {
  // The relaxed device's close takes SDL two long periods at least. Removing
  // the last stream hands it to the background and returns; an audioClose
  // right after must wait for it. A close that already ended by the time the
  // stream is gone proves nothing, so a few rounds are allowed to catch one
  // still running.
  bool sawPending = false;
  for (int round = 0; round < 3 && !sawPending; ++round) {
    if (round > 0) {
      ASSERT_TRUE(audioOpen());
    }
    auto stream = endlessStream();
    ASSERT_TRUE(maintainUntil([&] { return relaxed(); }));
    ASSERT_TRUE(noCloseRunning());
    const auto start = std::chrono::steady_clock::now();
    audioRemoveSource(stream.get());
    const auto removed = std::chrono::steady_clock::now();
    EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
    EXPECT_TRUE(audioIsOpen());
    const AudioSwitchStats before = audioSwitchStats();
    sawPending = before.pendingCloses == 1;
    audioClose();
    const auto closed = std::chrono::steady_clock::now();
    const AudioSwitchStats after = audioSwitchStats();
    EXPECT_EQ(after.pendingCloses, 0);
    EXPECT_EQ(after.openedBeforeClose, 2);
    EXPECT_EQ(after.backgroundCloses, 2);
    EXPECT_FALSE(audioIsOpen());
    EXPECT_EQ(audioDeviceGeneration(), 0u);
    if (paced()) {
      std::printf("[ figures ] %s: removing the last stream took %.2f ms; audioClose %.1f ms "
                  "(%s)\n",
                  GetParam().c_str(), msBetween(start, removed), msBetween(removed, closed),
                  sawPending ? "waited for the relaxed device's close" : "no close was running");
    }
  }
  EXPECT_TRUE(sawPending) << "the relaxed device was closed before the stream's removal returned";
}

TEST_P(MultiDeviceTest, ConcurrentSwitchesNeverDeadlock) {
  stressSwitching(!paced());
  EXPECT_GT(audioSwitchStats().openedBeforeClose, 0);
  EXPECT_EQ(audioSwitchStats().closedFirst, 0);
}

INSTANTIATE_TEST_SUITE_P(Drivers, MultiDeviceTest, ::testing::Values("alsa_null", "pulseaudio"),
                         [](const auto& info) { return info.param; });

TEST(AudioDevice, DiskDriverReceivesTheMixedSamples) {
  // SDL's disk driver writes what the device is given to a file: the sound
  // must come out there in device format (float stereo at the mix rate).
  namespace fs = std::filesystem;
  audioClose();
  fs::path dir = fs::temp_directory_path() / ("ondaria_audio_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path file = dir / "out.raw";
  std::string oldDriver = std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "";
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "1", 1);  // about 5 x real time, bounded file size

  ASSERT_TRUE(audioOpen());
  EXPECT_EQ(audioRate(), kMixRate);
  // A stream with maintenance running and no relax delay: the disk driver is a
  // recorder, and a reopen would start its file over, so the device must keep
  // its buffer (and its file).
  setAudioRelaxDelay(std::chrono::milliseconds(0));
  setAudioSuspendDelay(std::chrono::milliseconds(1));  // nor ever close it
  auto s = std::make_shared<PcmQueueSource>();
  s->setBackground(true);
  audioAddSource(s);
  // 20000 frames of a recognisable value at 24 kHz (39999 frames once mixed:
  // the last half frame waits for a following buffer to interpolate towards).
  std::vector<int16_t> mark(20000, 16384);
  s->queue(mark.data(), mark.size() * 2, {24000, 1, PcmEncoding::S16});
  for (int i = 0; i < 4000 && s->busy(); ++i) {
    audioMaintain();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(s->busy());
  EXPECT_EQ(s->doneCount(), 1u);
  EXPECT_EQ(audioBufferFrames(), kDeviceBufferFrames);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(audioSuspended());
  audioRemoveSource(s.get());
  setAudioRelaxDelay(std::chrono::milliseconds(2000));
  setAudioSuspendDelay(std::chrono::milliseconds(3000));
  audioClose();
  if (oldDriver.empty()) unsetenv("SDL_AUDIODRIVER");
  else setenv("SDL_AUDIODRIVER", oldDriver.c_str(), 1);
  unsetenv("SDL_DISKAUDIOFILE");
  unsetenv("SDL_DISKAUDIODELAY");

  std::ifstream in(file, std::ios::binary);
  std::vector<float> samples;
  float v;
  while (in.read(reinterpret_cast<char*>(&v), sizeof v)) samples.push_back(v);
  size_t marked = 0;
  for (float x : samples) marked += std::fabs(x - 0.5f) < 1e-6f;
  EXPECT_EQ(marked, 39999u * 2);  // every frame, both channels, exactly once
  fs::remove_all(dir);
}

TEST(AudioDevice, OpenWithoutUsableDriverFailsCleanly) {
  audioClose();
  std::string oldDriver = std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "";
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  EXPECT_FALSE(audioOpen());
  EXPECT_FALSE(audioIsOpen());
  EXPECT_EQ(audioRate(), 0);
  EXPECT_FALSE(audioOpen());  // the earlier result is kept
  audioClose();
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  EXPECT_TRUE(audioOpen());  // a later open tries again
  audioClose();
  if (oldDriver.empty()) unsetenv("SDL_AUDIODRIVER");
  else setenv("SDL_AUDIODRIVER", oldDriver.c_str(), 1);
}

}  // namespace
}  // namespace platform
