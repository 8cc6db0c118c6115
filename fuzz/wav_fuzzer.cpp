// WAV images and recorded items: the layout found always lies inside the
// image, the samples of a recorded item inside the file, and a piece of the
// samples in the format the header claims converts to a bounded amount of
// mixer audio (a damaged header must not make a small piece ask for
// gigabytes).
#include <algorithm>
#include <vector>

#include "fuzz_input.h"
#include "platform/audio_device.h"
#include "speech/wave_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ondaria::WaveLayout layout;
  if (ondaria::parseWaveImage(data, size, layout)) {
    FUZZ_CHECK(layout.dataOffset <= size);
    FUZZ_CHECK(layout.dataSize <= size - layout.dataOffset);
    FUZZ_CHECK(layout.rate >= 0);
    const platform::PcmFormat format{
        layout.rate, layout.channels,
        layout.bits == 8 ? platform::PcmEncoding::U8 : platform::PcmEncoding::S16};
    if ((layout.bits == 8 || layout.bits == 16) && format.valid()) {
      // One piece of the wave output.
      const size_t bytes = std::min<size_t>(layout.dataSize, 8192);
      const std::vector<float> mixed = platform::convertToMix(data + layout.dataOffset, bytes, format);
      const size_t frames = bytes / static_cast<size_t>(format.bytesPerFrame());
      // Never more than the slowest rate the mixer takes would give: a piece
      // of 8 KB stays a few megabytes of mixer audio.
      const size_t most = (frames * platform::kMixRate / platform::kMinPcmRate + 2) * 2;
      FUZZ_CHECK(mixed.size() <= most);
    }
  }
  size_t start = 0, count = 0;
  ondaria::recordedSamplesSpan(data, size, 64000, start, count);
  FUZZ_CHECK(start <= size);
  FUZZ_CHECK(count <= size - start);
  FUZZ_CHECK(count <= 64000);
  return 0;
}
