// Shared by the speech latency benchmarks: an audio observer that notes when
// sound starts (the first audible frame) or stops (the first silent device
// buffer) after a moment, and percentiles of the times measured.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "platform/audio_device.h"

namespace latency {

using Clock = std::chrono::steady_clock;

inline std::atomic<long long> firstAudibleAfter{0};  // ns since epoch of a frame, 0 none
inline std::atomic<long long> firstSilentAfter{0};
inline std::atomic<long long> watchFrom{0};
inline std::atomic<int> mode{0};  // 0 idle, 1 wait for sound, 2 wait for silence

inline long long ns(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

inline void observe(const platform::AudioBlockReport& r) {
  long long when = ns(r.when);
  if (when < watchFrom.load()) return;
  if (mode.load() == 1 && r.firstAudible >= 0 && firstAudibleAfter.load() == 0) {
    // The first audible frame sits firstAudible frames into this buffer.
    firstAudibleAfter.store(when + static_cast<long long>(r.firstAudible) * 1000000000LL /
                                      platform::kMixRate);
  }
  if (mode.load() == 2 && r.firstAudible < 0 && firstSilentAfter.load() == 0)
    firstSilentAfter.store(when);
}

struct Stats {
  double median, p95, max;
};

inline Stats stats(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[static_cast<size_t>(q * (v.size() - 1) + 0.5)]; };
  return {at(0.5), at(0.95), v.back()};
}

}  // namespace latency
