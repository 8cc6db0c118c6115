// Wave output: every sound of the speech layer that a speech server does not
// speak (recorded letters and messages, joined diphone buffers, beeps, clicks).
//
// Sound is fed in pieces of at most 8192 bytes through a ring of 16 slots to
// the wave channel of the program's audio mixer (one source of
// platform/audio_device.h). A slot stays taken until its "done" notice has
// been handled; notices are derived while the console pumps its events (the
// wave output installs the console's idle hook) and in waveBusy. A key waiting
// in the console's key queue cuts playback at once (cutOnKey).
//
// Two ways of making speech faster: rateUp plays at 1.5 times the sample rate;
// compress shortens 8-bit mono sound by dropping every other pitch period and
// prefers a pre-made fast recording in the "rapido" subdirectory of a file's
// directory.
//
// Device format: the format sound was last played in (rate, bits, channels).
// A new format waits until every queued buffer has come back, as a device
// reopened in another format would; the mixer converts any format.
//
// Result codes: 0 success; -1 a file that cannot be opened or is not a
// playable WAV file; kWaveErrorNoDevice when no audio output can be opened;
// kWaveErrorBadFormat for a format that is not 8/16-bit mono/stereo PCM.
//
// Main thread only, like the console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ondaria {

constexpr int kWaveErrorNoDevice = 6;    // no driver: nothing can sound
constexpr int kWaveErrorBadFormat = 32;  // format the device cannot take

constexpr int kWaveSlots = 16;           // buffers that may be queued at once
constexpr size_t kWavePieceBytes = 8192; // largest piece (one slot's block)
constexpr size_t kWaveMinBuffer = 256;   // shortest buffer handed over
constexpr size_t kWaveHeaderSize = 44;

// Writes the 44-byte header of a PCM WAV image (little-endian) at the start of
// `block` (which must hold 44 bytes): "RIFF", dataSize + 36, "WAVE", "fmt ",
// 16, 1, channels, rate, rate * channels * (bits / 8), block align 1 (headers
// are made here only for 8-bit mono sound), bits, "data", dataSize.
void makeWaveHeader(uint8_t* block, uint32_t dataSize, int rate, int bits, int channels);

// Plays a WAV file (path as the system takes it; "\" also separates
// directories). Returns 0 when played (also when cut by a key), -1 when the
// file cannot be opened, is not a complete PCM WAV file or a piece cannot be
// read, otherwise the device's error code. Waits for the end of the sound
// unless asyncFiles is on.
int wavePlayFile(const std::string& name);

// Plays the "data" chunk of a WAV image held in memory (`size` bytes); returns
// once the last piece is queued. 0 when queued, -1 when the image is not a
// complete PCM WAV image (nothing plays), otherwise the device's error code.
int wavePlayImage(const uint8_t* image, size_t size);

// Plays raw samples (8-bit unsigned or 16-bit signed little-endian, 1 or 2
// channels interleaved). 0, or the device's error code when it cannot open.
int wavePlayPcm(const uint8_t* samples, size_t count, int rate, int bits, int channels);

// Dispatches the console's events; true while buffers are queued. A waiting
// key (with cutOnKey) or an empty queue resets the device.
bool waveBusy();

// Returns every queued buffer at once (silence within one device buffer) and
// dispatches the console's events.
void waveStop();

// Shortens 8-bit mono sound in place by dropping alternate pitch periods;
// 16-bit sound is first turned into 8-bit (n halves). Returns the new length
// in bytes. Pieces shorter than 1000 samples are kept whole. `rate` picks the
// pitch-period search parameters (11025 or any other).
size_t waveCompress(uint8_t* piece, size_t n, int bits, int rate);

// Product names of the output devices in device order, trimmed.
std::vector<std::string> waveDeviceNames();
// The first device whose trimmed name equals `name` ignoring case.
bool waveDeviceByName(const std::string& name, int& device);
// The chosen device number: -1 (the system's default output) unless
// TRADUTOR/SAIDADEAUDIO named a device.
int waveDeviceNumber();

// Switches (see the top of this file).
bool& waveCutOnKey();    // on at start
bool& waveAsyncFiles();  // off at start; the field editor turns it on
bool& waveRateUp();      // RAPIDINHO of the speed level
bool& waveCompressOn();  // CORTAFALA of the speed level

// Buffers handed to the mixer whose done notice has not been handled.
int waveQueuedCount();

// Handles the done notices of buffers the mixer has finished (what the
// console's idle hook runs); safe to call at any time on the main thread.
void waveHandleDoneNotices();

// ---- For tests ----------------------------------------------------------------

// One buffer as handed to the mixer: its slot (1…16), the device format and
// the bytes (at least 256).
struct WaveQueuedBuffer {
  int slot = 0;
  int rate = 0, bits = 0, channels = 0;
  std::vector<uint8_t> bytes;
};
// Called for every buffer queued; nullptr removes it.
void setWaveQueueObserver(std::function<void(const WaveQueuedBuffer&)> observer);
// Back to the state at program start (switches, slots, format, device choice
// read again); sound still queued is cut.
void resetWaveOutputForTests();

}  // namespace ondaria
