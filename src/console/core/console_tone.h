// The console's tone: one second of an 8-bit square wave at 11025 samples per
// second, kept as an in-memory WAVE file and played in a loop.
#pragma once

#include <cstdint>
#include <vector>

namespace ondaria {

// Samples per second of the tone, and the most data it holds (one second).
inline constexpr int kToneRate = 11025;
// 44-byte RIFF header plus one second of samples plus the closing sample and
// one spare byte: the size of the buffer the tone is built in.
inline constexpr int kToneAllocation = 11071;

// The WAVE file of a tone of hz Hz: the 44-byte header ("RIFF", size, "WAVE",
// "fmt " chunk of 16 bytes: PCM, 1 channel, 11025 samples and bytes per
// second, block align 1, 8 bits; "data" and its size), then whole periods of
// n = 11025 / hz samples (the first n / 2 at 96, the rest at 160) for as long
// as a whole period fits in one second, then one sample of 128. Empty for hz
// outside 1…11025, where no period can be formed.
std::vector<uint8_t> buildToneWave(int hz);

}  // namespace ondaria
