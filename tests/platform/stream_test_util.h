// Shared by the stream engine tests: a fixture that initialises the engine
// with the program's settings, and helpers that read decoding channels and
// measure the tone that comes out.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_device.h"
#include "platform/stream_engine.h"
#include "support/stream_peers.h"

namespace platform::streamtest {

// The tone files of the stream engine's tests, made once per test program.
inline ondaria::test::ToneFiles& tones() {
  static ondaria::test::ToneFiles files;
  return files;
}

// Flags the stream player uses for every stream.
constexpr uint32_t kPlayerFlags = STREAM_BLOCK | STREAM_STATUS | STREAM_AUTOFREE;

class StreamEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Init(-1, 44100, 0, nullptr, nullptr)) {
      ASSERT_EQ(ErrorGetCode(), ERROR_ALREADY);
    }
    SetConfig(CONFIG_GVOL_STREAM, 10000);
    SetConfig(CONFIG_NET_TIMEOUT, 5000);
    SetConfig(CONFIG_NET_BUFFER, 5000);
    SetConfig(CONFIG_NET_PREBUF, 0);  // as the stream player sets it
    SetConfig(CONFIG_NET_PLAYLIST, 1);
    SetConfig(CONFIG_NET_READTIMEOUT, 0);
    SetConfig(CONFIG_NET_RECONNECT, 0);
    SetConfigPtr(CONFIG_NET_PROXY, nullptr);
    setStreamWakeHook(nullptr);
  }
  void TearDown() override {
    setStreamWakeHook(nullptr);
    Free();
  }
};

struct Decoded {
  std::vector<float> left;  // left channel at kMixRate
  std::vector<float> right;
  bool ended = false;
};

// Reads a decoding channel to its end (or maxSeconds of audio).
inline Decoded decodeAll(HSTREAM h, double maxSeconds = 60) {
  Decoded d;
  std::vector<float> buf(4096 * 2);
  size_t limit = static_cast<size_t>(maxSeconds * kMixRate);
  while (d.left.size() < limit) {
    uint32_t got = ChannelGetData(h, buf.data(), static_cast<uint32_t>(buf.size() * sizeof(float)) | DATA_FLOAT);
    if (got == 0xFFFFFFFF) {
      d.ended = ErrorGetCode() == ERROR_ENDED;
      break;
    }
    for (size_t i = 0; i < got / sizeof(float); i += 2) {
      d.left.push_back(buf[i]);
      d.right.push_back(buf[i + 1]);
    }
  }
  return d;
}

// Frequency from upward zero crossings, over the samples between the first
// and last tenth (encoder start-up and padding left out).
inline double toneFrequency(const std::vector<float>& s, int rate = kMixRate) {
  if (s.size() < 1000) return 0;
  size_t from = s.size() / 10, to = s.size() - s.size() / 10;
  int crossings = 0;
  for (size_t i = from + 1; i < to; ++i) crossings += (s[i - 1] <= 0 && s[i] > 0);
  return crossings / (static_cast<double>(to - from) / rate);
}

inline double rms(const std::vector<float>& s, size_t from = 0, size_t to = SIZE_MAX) {
  to = std::min(to, s.size());
  if (to <= from) return 0;
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

// Polls `done` every 20 ms for up to `seconds`; true when it became true.
inline bool waitUntil(const std::function<bool()>& done, double seconds = 10) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// The stream player's buffer wait, bounded for the test: true when it ends
// by its own conditions (end unknown, buffer > 75 % full, download over).
inline bool bufferWaitEnds(HSTREAM h, double seconds = 10) {
  return waitUntil(
      [&] {
        uint64_t total = StreamGetFilePosition(h, FILEPOS_END);
        if (total == ~uint64_t{0}) return true;
        if (total == 0) return false;
        if (StreamGetFilePosition(h, FILEPOS_BUFFER) * 100 / total > 75) return true;
        return StreamGetFilePosition(h, FILEPOS_CONNECTED) == 0;
      },
      seconds);
}

// Syncs as they were called, from any thread.
struct SyncLog {
  std::mutex mutex;
  std::vector<std::pair<uint32_t, uint32_t>> events;  // (type, data)
  void add(uint32_t type, uint32_t data) {
    std::lock_guard<std::mutex> lock(mutex);
    events.emplace_back(type, data);
  }
  int count(uint32_t type) {
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (auto& e : events) n += e.first == type;
    return n;
  }
  // The data of every call of one type, in order.
  std::vector<uint32_t> data(uint32_t type) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<uint32_t> out;
    for (auto& e : events)
      if (e.first == type) out.push_back(e.second);
    return out;
  }
};

template <uint32_t Type>
void logSync(HSYNC, uint32_t, uint32_t data, void* user) {
  static_cast<SyncLog*>(user)->add(Type, data);
}

// The texts of a header tag block: zero-terminated texts, an empty one last.
inline std::vector<std::string> tagLines(const char* tags) {
  std::vector<std::string> lines;
  if (!tags) return lines;
  while (*tags) {
    lines.emplace_back(tags);
    tags += lines.back().size() + 1;
  }
  return lines;
}

}  // namespace platform::streamtest
