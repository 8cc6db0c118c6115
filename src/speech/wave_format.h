// The layout of a WAV image in memory: where its samples are and in which
// format. Pure; used by the wave output and by the fuzzing of WAV readers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ondaria {

struct WaveLayout {
  int rate = 0;
  int bits = 0;
  int channels = 0;
  size_t dataOffset = 0;  // first byte of the "data" chunk's samples
  size_t dataSize = 0;
};

// Reads "RIFF", size, "WAVE", a "fmt " chunk of at least 16 bytes, then the
// chunks up to "data" (odd-sized chunks may be followed by a pad byte of 0).
// False when the image is no WAV image, or its "data" chunk runs past the
// end (a cut-off file plays nothing). The format is not judged here.
bool parseWaveImage(const uint8_t* image, size_t size, WaveLayout& layout);

// The samples of a recorded item (letters, words, diphone recordings), read
// leniently as the speech layer always has: the "data" chunk of a RIFF file,
// its size trusted only as far as the file goes; a file without "RIFF" or
// without a "data" chunk is taken as a 44-byte header followed by samples.
// Sets the first sample's offset and the count (at most `limit`).
void recordedSamplesSpan(const uint8_t* file, size_t size, size_t limit, size_t& start,
                         size_t& count);

}  // namespace ondaria
