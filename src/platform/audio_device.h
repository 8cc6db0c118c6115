// The program's one audio output: an SDL2 output device with a small mixer.
//
// Everything audible (tones, wave output, speech servers, each stream) is an
// AudioSource attached to this one device. One device, not one per user, because
// SDL's dummy driver opens only one and because a single small device buffer
// keeps the delay between a key press and silence short.
//
// Device format: 32-bit float, 2 channels interleaved (L, R), at audioRate()
// frames per second. Sources produce that format; PcmQueueSource (below)
// converts and resamples other formats for them.
//
// Threads: audioOpen/audioClose/audioAddSource/audioRemoveSource are called from
// the main thread. AudioSource::mixInto runs on SDL's audio thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Audio thread. Adds (mixes) up to `frames` frames into `out` (interleaved
  // stereo float, nominal range -1…1). Must not block on the main thread,
  // allocate, or take locks held for long.
  virtual void mixInto(float* out, int frames) = 0;
};

// Opens the device (once; later calls return the earlier result). An empty
// name takes the default device. With SDL_AUDIODRIVER unset, real drivers are
// tried in turn (pulseaudio, pipewire, alsa). Returns false when no output can
// be opened.
bool audioOpen(const std::string& deviceName = {});
void audioClose();
bool audioIsOpen();
int audioRate();          // device frames per second (0 when closed)
int audioBufferFrames();  // device buffer size in frames

// Names of the output devices SDL reports (may be empty).
std::vector<std::string> audioOutputNames();

// Attaches a source; it is mixed from the next device buffer on.
void audioAddSource(std::shared_ptr<AudioSource> source);
// Detaches a source; on return its mixInto is not running and will not run again.
void audioRemoveSource(const AudioSource* source);

}  // namespace platform
