#include "console/core/console_tone.h"

#include <cstring>
#include <string>

#include "console/core/console.h"
#include "console/core/console_state.h"
#include "platform/audio_device.h"
#include "platform/speech_log.h"

namespace ondaria {

namespace {

constexpr int kHeaderSize = 44;
constexpr uint8_t kLow = 96;
constexpr uint8_t kHigh = 160;
constexpr uint8_t kSilence = 128;

void put32(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
  at[2] = static_cast<uint8_t>(v >> 16);
  at[3] = static_cast<uint8_t>(v >> 24);
}

void put16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

// Whether a tone was started (and logged) and not yet stopped; the mixer
// source exists only when the audio device could be opened.
bool g_toneOn = false;

void stopToneQuietly() {
  detail::ConsoleState& s = detail::state();
  if (s.tone) {
    s.tone->flush();
    platform::audioRemoveSource(s.tone.get());
    s.tone.reset();
  }
}

}  // namespace

std::vector<uint8_t> buildToneWave(int hz) {
  // A frequency above the sample rate would give empty periods (and a loop
  // that never ends); zero or less has no period at all.
  if (hz <= 0 || hz > kToneRate) return {};
  const int n = kToneRate / hz;
  std::vector<uint8_t> wave(kToneAllocation, 0);
  uint8_t* data = wave.data() + kHeaderSize;
  int size = 0;
  while (size + n <= kToneRate) {
    for (int i = 0; i < n; ++i) data[size + i] = i < n / 2 ? kLow : kHigh;
    size += n;
  }
  data[size++] = kSilence;
  uint8_t* h = wave.data();
  std::memcpy(h, "RIFF", 4);
  put32(h + 4, static_cast<uint32_t>(size + 36));
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  put32(h + 16, 16);      // fmt chunk size
  put16(h + 20, 1);       // PCM
  put16(h + 22, 1);       // mono
  put32(h + 24, kToneRate);
  put32(h + 28, kToneRate);  // bytes per second: one byte per sample
  put16(h + 32, 1);       // block align
  put16(h + 34, 8);       // bits per sample
  std::memcpy(h + 36, "data", 4);
  put32(h + 40, static_cast<uint32_t>(size));
  wave.resize(kHeaderSize + size);
  return wave;
}

void playTone(int hz) {
  stopToneQuietly();
  const std::vector<uint8_t> wave = buildToneWave(hz);
  if (wave.empty()) {
    stopTone();
    return;
  }
  g_toneOn = true;
  platform::logSpeech(platform::SpeechEvent::Tone, std::to_string(hz));
  if (!platform::audioOpen()) return;  // no sound output: the tone is only logged
  auto source = std::make_shared<platform::PcmQueueSource>();
  const platform::PcmFormat format{kToneRate, 1, platform::PcmEncoding::U8};
  if (!source->loop(wave.data() + kHeaderSize, wave.size() - kHeaderSize, format)) return;
  platform::audioAddSource(source);
  detail::state().tone = std::move(source);
}

void stopTone() {
  stopToneQuietly();
  if (!g_toneOn) return;
  g_toneOn = false;
  platform::logSpeech(platform::SpeechEvent::Tone, "off");
}

}  // namespace ondaria
