// Wave output over the wave channel of the program's audio mixer.
#include "speech/wave_output.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <sys/stat.h>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "platform/audio_device.h"
#include "speech/wave_format.h"

namespace ondaria {

namespace {

// Longest device name read from TRADUTOR/SAIDADEAUDIO.
constexpr size_t kDeviceNameMax = 80;
// A full ring waits for a free slot at most this many times 50 ms (2 s).
constexpr int kFullRingTries = 40;
// Step of the waits for the end of sound: the mixer does not wake the console
// when a buffer ends, so waits look again at this interval.
constexpr int kPollMs = 5;

struct WaveState {
  bool started = false;
  std::shared_ptr<platform::PcmQueueSource> source;
  bool deviceOpen = false;
  int deviceNumber = -1;
  std::string deviceName;  // empty: the default output
  int rate = 0, bits = 0, channels = 0;
  int queued = 0;
  int lastSlot = 0;
  std::deque<int> inFlight;  // slots in the order their buffers were queued
  uint64_t noticesHandled = 0;  // mixer buffers whose done notice was handled
  std::array<std::array<uint8_t, kWavePieceBytes>, kWaveSlots> blocks{};
  bool cutOnKey = true;
  bool asyncFiles = false;
  bool rateUp = false;
  bool compress = false;
  std::function<void(const WaveQueuedBuffer&)> observer;
};

WaveState& state() {
  static WaveState s;
  return s;
}

std::string trimmed(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Chunk names compared without regard to case.
bool isTag(const uint8_t* p, const char* tag) {
  return equalNoCase(std::string_view(reinterpret_cast<const char*>(p), 4), tag);
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Module start: switches at their defaults and the output device named by
// TRADUTOR/SAIDADEAUDIO in the shared settings, when there is one.
void ensureStarted() {
  WaveState& s = state();
  if (s.started) return;
  s.started = true;
  s.cutOnKey = true;
  s.asyncFiles = s.rateUp = s.compress = false;
  s.deviceNumber = -1;
  s.deviceName.clear();
  std::string wanted = readSetting("TRADUTOR", "SAIDADEAUDIO").substr(0, kDeviceNameMax);
  int device = -1;
  if (!trimmed(wanted).empty() && waveDeviceByName(wanted, device)) {
    s.deviceNumber = device;
    s.deviceName = waveDeviceNames()[static_cast<size_t>(device)];
  }
}

bool keyWaiting() { return keyPressed(); }

// Resets the device: every queued buffer comes back at once.
void resetDevice() {
  WaveState& s = state();
  if (s.source) s.source->flush();
  waveHandleDoneNotices();
}

bool validFormat(int rate, int bits, int channels) {
  platform::PcmFormat f{rate, channels, platform::PcmEncoding::U8};
  return (bits == 8 || bits == 16) && f.valid();
}

// Opening the device: the wave channel joins the mixer and the console's idle
// hook delivers the done notices from now on.
int openDevice() {
  WaveState& s = state();
  if (!validFormat(s.rate, s.bits, s.channels)) return kWaveErrorBadFormat;
  if (!platform::audioOpen(s.deviceName)) return kWaveErrorNoDevice;
  if (!s.source) {
    s.source = std::make_shared<platform::PcmQueueSource>();
    platform::audioAddSource(s.source);
    s.noticesHandled = s.source->doneCount();
  }
  setIdleHook([] { waveHandleDoneNotices(); }, [] { return !state().inFlight.empty(); });
  s.deviceOpen = true;
  return 0;
}

int setDeviceFormat(int rate, int bits, int channels) {
  WaveState& s = state();
  if (rate != s.rate || bits != s.bits || channels != s.channels) {
    while (waveBusy()) waitForConsoleEvent(kPollMs);
    s.deviceOpen = false;  // a device in another format is closed first
    s.rate = rate;
    s.bits = bits;
    s.channels = channels;
  }
  if (s.deviceOpen) return 0;
  return openDevice();
}

// Hands one piece (n bytes, at most one block) to the mixer in a free slot.
void queuePiece(const uint8_t* piece, size_t n) {
  WaveState& s = state();
  if (n == 0) return;
  for (int i = 0; i < kFullRingTries && s.queued >= kWaveSlots; ++i) {
    pumpWindowMessages();
    waveHandleDoneNotices();
    if (s.queued >= kWaveSlots) delayMs(50);
  }
  if (s.queued >= kWaveSlots) return;  // the ring did not drain: piece dropped

  ++s.queued;
  int previousSlot = s.lastSlot;
  int slot = s.lastSlot % kWaveSlots + 1;
  s.lastSlot = slot;
  uint8_t* block = s.blocks[static_cast<size_t>(slot - 1)].data();
  const bool eightBit = s.bits == 8;
  const bool eightBitMono = eightBit && s.channels == 1;
  // No buffer shorter than 256 bytes reaches the device; the padding is
  // silence of the format (128 for 8-bit sound, 0 for 16-bit), never what an
  // earlier piece left in the block.
  size_t length = std::max(n, kWaveMinBuffer);
  if (n < kWaveMinBuffer) std::memset(block + n, eightBit ? 128 : 0, kWaveMinBuffer - n);
  std::memcpy(block, piece, n);
  // An 8-bit mono piece that is not a full block ends the sound: its last
  // sample is set to the middle so the output does not end on a step (click).
  if (eightBitMono && n != kWavePieceBytes) block[n - 1] = 128;

  platform::PcmFormat format{s.rate, s.channels,
                             eightBit ? platform::PcmEncoding::U8 : platform::PcmEncoding::S16};
  if (s.source == nullptr || s.source->queue(block, length, format) == 0) {
    --s.queued;  // could not be prepared: the slot is given back
    s.lastSlot = previousSlot;
    return;
  }
  s.inFlight.push_back(slot);
  if (s.observer) {
    WaveQueuedBuffer b;
    b.slot = slot;
    b.rate = s.rate;
    b.bits = s.bits;
    b.channels = s.channels;
    b.bytes.assign(block, block + length);
    s.observer(b);
  }
}

bool fileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Reads exactly n bytes.
bool readExact(std::FILE* f, uint8_t* buf, size_t n) { return std::fread(buf, 1, n, f) == n; }

// RIFF chunks of odd size are followed by a pad byte of 0. Some writers leave
// it out; a chunk name never begins with 0, so the byte is skipped only when
// it is there.
void skipPadByte(std::FILE* f, uint32_t chunkSize) {
  if ((chunkSize & 1u) == 0) return;
  int c = std::fgetc(f);
  if (c != 0 && c != EOF) std::ungetc(c, f);
}

// The piece sizes of a file's data: 8192 bytes, except that 8193…8447 bytes
// left are split 7936 + the rest, so the last piece is never below 257 bytes.
size_t nextPieceSize(uint64_t remaining) {
  if (remaining > kWavePieceBytes && remaining < kWavePieceBytes + kWaveMinBuffer)
    return kWavePieceBytes - kWaveMinBuffer;
  return static_cast<size_t>(std::min<uint64_t>(remaining, kWavePieceBytes));
}

int playFileBody(std::FILE* f, uint64_t fileSize) {
  uint8_t buf[kWavePieceBytes];
  if (!readExact(f, buf, 12) || !isTag(buf, "RIFF")) return -1;
  if (!readExact(f, buf, 8) || !isTag(buf, "fmt ")) return -1;
  uint32_t fmtSize = le32(buf + 4);
  // The format record needs its 16 bytes; more than a block is no PCM format.
  if (fmtSize < 16 || fmtSize > kWavePieceBytes) return -1;
  if (!readExact(f, buf, fmtSize)) return -1;
  skipPadByte(f, fmtSize);
  const int channels = le16(buf + 2);
  const int rate = static_cast<int>(std::min<uint32_t>(le32(buf + 4), 0x7FFFFFFF));
  const int bits = le16(buf + 14);

  uint32_t dataSize = 0;
  while (true) {
    if (!readExact(f, buf, 8)) return -1;  // no "data" chunk
    uint32_t size = le32(buf + 4);
    long pos = std::ftell(f);
    if (pos < 0) return -1;
    uint64_t left = fileSize - static_cast<uint64_t>(pos);
    if (isTag(buf, "data")) {
      // A data chunk longer than the file is a damaged file: nothing plays.
      if (size > left) return -1;
      dataSize = size;
      break;
    }
    if (size > left || std::fseek(f, static_cast<long>(size), SEEK_CUR) != 0) return -1;
    skipPadByte(f, size);
  }

  WaveState& s = state();
  int result = 0;
  uint64_t remaining = dataSize;
  while (remaining > 0) {
    size_t want = nextPieceSize(remaining);
    size_t got = std::fread(buf, 1, want, f);
    if (got == 0) {
      result = -1;
      break;
    }
    result = wavePlayPcm(buf, got, rate, bits, channels);
    if (result != 0) break;
    remaining -= got;
    if (s.cutOnKey && keyWaiting()) break;
  }
  return result;
}

// Largest value among positions from..to (inclusive, clipped to the piece);
// the first one when several are equal.
size_t peakIn(const uint8_t* p, size_t from, size_t to, size_t n) {
  to = std::min(to, n - 1);
  size_t best = from;
  for (size_t i = from + 1; i <= to; ++i) {
    if (p[i] > p[best]) best = i;
  }
  return best;
}

}  // namespace

void makeWaveHeader(uint8_t* block, uint32_t dataSize, int rate, int bits, int channels) {
  std::memcpy(block, "RIFF", 4);
  put32(block + 4, dataSize + 36);
  std::memcpy(block + 8, "WAVE", 4);
  std::memcpy(block + 12, "fmt ", 4);
  put32(block + 16, 16);
  put16(block + 20, 1);
  put16(block + 22, static_cast<uint16_t>(channels));
  put32(block + 24, static_cast<uint32_t>(rate));
  put32(block + 28, static_cast<uint32_t>(rate * channels * (bits / 8)));
  put16(block + 32, 1);
  put16(block + 34, static_cast<uint16_t>(bits));
  std::memcpy(block + 36, "data", 4);
  put32(block + 40, dataSize);
}

int wavePlayFile(const std::string& name) {
  ensureStarted();
  WaveState& s = state();
  if (s.cutOnKey && keyWaiting()) {
    waveStop();
    return 0;
  }
  std::string path = nativePath(name);
  if (s.compress) {
    size_t slash = path.rfind('/');
    std::string fast = slash == std::string::npos
                           ? "rapido/" + path
                           : path.substr(0, slash + 1) + "rapido/" + path.substr(slash + 1);
    if (fileExists(fast)) {
      s.compress = false;
      int result = wavePlayFile(fast);
      s.compress = true;
      return result;
    }
  }
  if (!fileExists(path)) return -1;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return -1;
  int result = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    long size = std::ftell(f);
    if (size >= 0 && std::fseek(f, 0, SEEK_SET) == 0)
      result = playFileBody(f, static_cast<uint64_t>(size));
  }
  std::fclose(f);
  if (!s.asyncFiles) {
    while (waveBusy()) waitForConsoleEvent(kPollMs);
  }
  return result;
}

int wavePlayImage(const uint8_t* image, size_t size) {
  WaveLayout layout;
  if (!parseWaveImage(image, size, layout)) return -1;
  return wavePlayPcm(image + layout.dataOffset, layout.dataSize, layout.rate, layout.bits,
                     layout.channels);
}

int wavePlayPcm(const uint8_t* samples, size_t count, int rate, int bits, int channels) {
  ensureStarted();
  WaveState& s = state();
  // The pitch periods that compression looks for are measured in samples of
  // the recording, so its parameters follow the recording's own rate, also
  // when the sound is then played faster.
  const int recordedRate = rate;
  if (s.rateUp) rate = static_cast<int>(static_cast<int64_t>(rate) * 3 / 2);
  const bool mono = channels == 1;
  const bool shrink16 = s.compress && bits == 16 && mono;
  int result = setDeviceFormat(rate, shrink16 ? 8 : bits, channels);
  if (result != 0) return result;

  uint8_t piece[kWavePieceBytes];
  size_t offset = 0;
  while (offset < count) {
    while (s.queued >= kWaveSlots) {
      if (keyWaiting()) {
        waveStop();
        return 0;
      }
      delayMs(10);
      waveHandleDoneNotices();
    }
    if (s.cutOnKey && keyWaiting()) {
      waveStop();
      break;
    }
    size_t n = std::min(kWavePieceBytes, count - offset);
    std::memcpy(piece, samples + offset, n);
    offset += n;
    if (s.compress && mono) n = waveCompress(piece, n, bits, recordedRate);
    queuePiece(piece, n);
  }
  return 0;
}

bool waveBusy() {
  ensureStarted();
  WaveState& s = state();
  pumpWindowMessages();
  waveHandleDoneNotices();
  if ((s.cutOnKey && keyWaiting()) || s.queued == 0) resetDevice();
  return s.queued > 0;
}

void waveStop() {
  ensureStarted();
  if (state().queued > 0) resetDevice();
  pumpWindowMessages();
}

size_t waveCompress(uint8_t* piece, size_t n, int bits, int rate) {
  if (bits == 16) {
    // The high byte of each little-endian sample, moved to unsigned 8-bit.
    n /= 2;
    for (size_t i = 0; i < n; ++i) piece[i] = static_cast<uint8_t>(piece[2 * i + 1] ^ 0x80);
  }
  if (n < 1000) return n;
  // Pitch-period search in samples: at 11025 per second a gap of 80 (7 ms) and
  // a window of 50 (4.5 ms) span one period of a speaking voice; other rates
  // (22050, 44100 recordings) use four times as many samples.
  const size_t start = rate == 11025 ? 200 : 800;
  const size_t gap = rate == 11025 ? 80 : 320;
  const size_t window = rate == 11025 ? 50 : 200;
  const size_t span = gap + window;

  size_t peak = peakIn(piece, start, start + span, n);
  size_t write = peak;  // everything before the first peak stays
  while (n > 2 * span && peak < n - 2 * span) {
    size_t p1 = peakIn(piece, peak + gap, peak + gap + window, n);
    size_t p2 = peakIn(piece, p1 + gap, p1 + gap + window, n);
    // Of two periods the first is dropped and the second kept.
    std::memmove(piece + write, piece + p1, p2 - p1 + 1);
    write += p2 - p1 + 1;
    peak = p2;
  }
  // The tail: single samples up to the end, or until the sample about to be
  // overwritten is near silence (within 20 of the middle value 128).
  for (size_t i = peak; i < n; ++i) {
    if (std::abs(static_cast<int>(piece[write]) - 128) <= 20) break;
    piece[write++] = piece[i];
  }
  return write;
}

std::vector<std::string> waveDeviceNames() {
  std::vector<std::string> names;
  for (const auto& name : platform::audioOutputNames()) names.push_back(trimmed(name));
  return names;
}

bool waveDeviceByName(const std::string& name, int& device) {
  std::string wanted = trimmed(name);
  auto names = waveDeviceNames();
  for (size_t i = 0; i < names.size(); ++i) {
    if (equalNoCase(names[i], wanted)) {
      device = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

int waveDeviceNumber() {
  ensureStarted();
  return state().deviceNumber;
}

bool& waveCutOnKey() {
  ensureStarted();
  return state().cutOnKey;
}
bool& waveAsyncFiles() {
  ensureStarted();
  return state().asyncFiles;
}
bool& waveRateUp() {
  ensureStarted();
  return state().rateUp;
}
bool& waveCompressOn() {
  ensureStarted();
  return state().compress;
}

int waveQueuedCount() { return state().queued; }

void waveHandleDoneNotices() {
  WaveState& s = state();
  if (!s.source) return;
  // The mixer finishes buffers in the order they were queued (a reset
  // finishes all), so each notice frees the oldest slot in flight.
  const uint64_t done = s.source->doneCount();
  while (s.noticesHandled < done) {
    ++s.noticesHandled;
    if (!s.inFlight.empty()) s.inFlight.pop_front();
    if (s.queued > 0) --s.queued;
  }
}

void setWaveQueueObserver(std::function<void(const WaveQueuedBuffer&)> observer) {
  state().observer = std::move(observer);
}

void resetWaveOutputForTests() {
  WaveState& s = state();
  if (s.source) {
    s.source->flush();
    s.noticesHandled = s.source->doneCount();
  }
  s.started = false;
  s.deviceOpen = false;
  s.rate = s.bits = s.channels = 0;
  s.queued = 0;
  s.lastSlot = 0;
  s.inFlight.clear();
  s.observer = nullptr;
  ensureStarted();
}

}  // namespace ondaria
