// The program's one audio output: an SDL2 output device with a small mixer.
//
// Everything audible (tones, wave output, speech servers, each stream) is an
// AudioSource attached to this one device. One device, not one per user, because
// SDL's dummy and disk drivers open only one output at a time and because a
// single small device buffer keeps the delay between a key press and silence
// short.
//
// The device buffer has two sizes. It is tight (kDeviceBufferFrames) whenever
// speech, tones or wave output play, so a key cuts or starts them within a few
// milliseconds. While only background sources (streams) have sound and no
// foreground source has had anything to play for the relax delay, audioMaintain
// switches the device to kRelaxedBufferFrames: the audio thread then wakes
// about 12 times a second instead of 190, which is most of what playing a
// stream costs. Foreground audio arriving on a relaxed device switches it back
// to tight before that audio is queued.
//
// SDL cannot resize an open device, so a switch opens another one. Where the
// driver allows two open outputs (the sound servers: pulseaudio, pipewire, ALSA
// through a server), the new device is opened and made current first and the
// old one is closed afterwards on a thread of its own: the switch costs its
// caller one device open (a few milliseconds against a local server), and the
// first speech after a relaxed stretch starts at once. Only the current device
// mixes the sources: each open gets a generation number, and the callback of a
// superseded device writes silence until its close is through. What the old
// device had already taken from the sources (a period or two) plays out beside
// the new device's first buffers as far as the driver drains it. Where the
// driver allows one output only (SDL's dummy and disk drivers refuse a second
// one; the refusal is remembered until audioClose), the old device is closed
// first, and the switch costs its caller SDL's close: up to a period plus a
// two-period drain, some 250 ms for the relaxed device, with a gap in the
// stream as long. Either way the sources keep everything still queued. SDL's
// disk driver records into a file that each open starts over, so on it the
// device never relaxes.
//
// Device format: 32-bit float, 2 channels interleaved (L, R), at audioRate()
// frames per second. Sources produce that format; PcmQueueSource (below)
// converts and resamples other formats for them.
//
// Threads: audioOpen/audioClose/audioAddSource/audioRemoveSource are called from
// the main thread; audioMaintain from any thread but the audio thread (stream
// channel threads call it). AudioSource::mixInto runs on SDL's audio thread. A
// device mutex orders every change of the device, and every SDL open, start
// and close of a device goes through one more mutex (SDL's table of open
// devices is not safe to change from two threads), which the background close
// holds too: it may delay a switch that follows within its ~250 ms, never the
// open of the device replacing the one being closed. The audio threads take
// only the mixer's own mutex and the sources' short locks, so no switch waits
// for anything an audio thread holds. audioClose waits for a background close
// still running, so no device outlives the module.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
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

  // Background sources (streams) let the device relax its buffer while only
  // they play; foreground sources (speech, tones, wave output) keep it tight.
  virtual bool background() const { return false; }
  // True while the source has something to play right now. Called by the mixer
  // on the audio thread before each buffer: must be cheap and take no lock. A
  // source that cannot tell counts as always playing.
  virtual bool active() const { return true; }
};

// Opens the device (once; later calls return the earlier result). An empty
// name takes the default device. With SDL_AUDIODRIVER unset, real drivers are
// tried in turn (pulseaudio, pipewire, alsa). Returns false when no output can
// be opened.
bool audioOpen(const std::string& deviceName = {});
void audioClose();
bool audioIsOpen();
int audioRate();          // device frames per second (0 when closed)
int audioBufferFrames();  // current device buffer size in frames (tight or relaxed)

// Names of the output devices SDL reports (may be empty).
std::vector<std::string> audioOutputNames();

// Attaches a source; it is mixed from the next device buffer on.
void audioAddSource(std::shared_ptr<AudioSource> source);
// Detaches a source; on return its mixInto is not running and will not run again.
// When no attached background source has sound any more, a relaxed device is
// made tight again before returning.
void audioRemoveSource(const AudioSource* source);

// Adapts the device buffer to what plays: relaxes it when a background source
// has sound and no foreground source has had any for the relax delay; makes it
// tight again when no background source has sound (or foreground audio played
// meanwhile). Cheap when nothing changes (a few atomic reads); a change opens
// the new device in the calling thread (and, on a single-device driver, closes
// the old one there first). Never call it from the audio thread or from an
// observer.
void audioMaintain();

// Frees what SDL keeps for a thread it did not create (its error buffer and
// thread-local table). Every thread of ours that may open or close the device
// (directly or through audioMaintain or a foreground queue) calls it last.
void audioThreadEnds();

// How long foreground sources must have been silent before the device relaxes
// (2000 ms by default; tests shorten it).
void setAudioRelaxDelay(std::chrono::milliseconds delay);

// Suspension. A device left open wakes its audio thread every buffer even in
// silence (some 190 times a second when tight), which costs a laptop left at
// the main menu all day its battery. So when no source has sounded for the
// suspend delay (3000 ms by default; 0 = never suspend), a keeper thread
// closes the device; it stays "open" for everybody, and the next source that
// has something to play (a queued buffer, a loop, a stream resumed) opens it
// again, tight, before its audio is queued: one device open, a few
// milliseconds at most. Never on SDL's disk driver (each open would start its
// recording over).
void setAudioSuspendDelay(std::chrono::milliseconds delay);
bool audioSuspended();

// ---------------------------------------------------------------------------
// Additions: the mixer's fixed rate, rendering without a device, an observer
// for latency measurements, and a general-purpose PCM source.

// The mixer always runs at this rate; audioRate() returns it while the device
// is open (SDL converts when the hardware runs at another rate). 48 kHz is the
// native rate of nearly every current sound server, so usually nothing converts.
constexpr int kMixRate = 48000;

// Frames of one device buffer while anything but streams plays (the tight
// size, and the size the device opens with). 256 frames at 48 kHz are 5.3 ms: a
// cut made on the main thread reaches the speaker after at most one buffer
// already handed over plus the one being filled (about 11 ms), inside the 20 ms
// a cut may take.
constexpr int kDeviceBufferFrames = 256;

// Frames of one device buffer while only streams play (85 ms): the audio
// thread wakes about 12 times a second instead of about 190. Pausing a stream
// or changing its volume is heard within that much; the stream's own queue
// holds several times more.
constexpr int kRelaxedBufferFrames = 4096;

// Mixes the attached sources into `out` (interleaved stereo float, `frames`
// frames; zeroed first, result clipped to -1…1) exactly as the device callback
// does. For tests and tools; it holds the mixer lock the callback takes, so
// while the device is open the sources are consumed by whichever caller comes
// first.
void audioRender(float* out, int frames);

// Each device this module opens gets a new generation number (from 1), which
// its callback carries. The generation of the current device; 0 while closed.
uint64_t audioDeviceGeneration();
// What the callback of the device opened with `generation` does (it is that
// callback's body): while that device is current it mixes like audioRender; a
// superseded device, still being closed in the background, gets silence and
// leaves the sources and the observer alone. For tests.
void audioRenderForDevice(uint64_t generation, float* out, int frames);

// How the device's buffer-size switches went since audioOpen (kept after
// audioClose until the next open). For tests and latency figures.
struct AudioSwitchStats {
  int openedBeforeClose = 0;  // the new device opened beside the old one
  int closedFirst = 0;        // the old device closed first (single-device driver)
  int failed = 0;             // no device opened at either size: the device is closed
  int pendingCloses = 0;      // superseded devices whose close is still running
  int backgroundCloses = 0;   // superseded devices closed in the background
  int suspensions = 0;        // closed because nothing sounded
  int resumes = 0;            // opened again by a sound after a suspension
  std::chrono::microseconds lastSwitch{0};  // what the latest switch cost its caller
  std::chrono::microseconds lastClose{0};   // how long SDL took for the latest close
  std::chrono::steady_clock::time_point lastCloseEnded;  // when that close returned
};
AudioSwitchStats audioSwitchStats();

// One device buffer as it was handed to the device (audio thread).
struct AudioBlockReport {
  std::chrono::steady_clock::time_point when;  // moment the buffer was mixed
  int frames = 0;
  float peak = 0;           // largest absolute sample value after mixing
  int firstAudible = -1;    // first frame with |sample| > kAudibleLevel, or -1
};
// A sample above this (about -60 dBFS) counts as "not silent" in reports.
constexpr float kAudibleLevel = 0.001f;

// Optional observer called on the audio thread (and by audioRender) after each
// buffer is mixed. It must return quickly and must not call back into this
// module. Pass nullptr to remove it.
using AudioObserver = std::function<void(const AudioBlockReport&)>;
void setAudioObserver(AudioObserver observer);

// Sample encodings a PcmQueueSource accepts.
enum class PcmEncoding {
  U8,   // unsigned 8-bit, silence 128 (WAV 8-bit)
  S16,  // signed 16-bit little-endian (WAV 16-bit, espeak-ng)
  F32,  // 32-bit float, native endianness, nominal range -1…1 (decoders)
};

// Sample rates a PcmFormat may have: no sound of any format is recorded
// below 1 kHz or above 384 kHz; other values come from damaged headers.
constexpr int kMinPcmRate = 1000;
constexpr int kMaxPcmRate = 384000;

struct PcmFormat {
  int rate = 0;      // frames per second, kMinPcmRate…kMaxPcmRate
  int channels = 0;  // 1 (mono, played on both sides) or 2 (interleaved L, R)
  PcmEncoding encoding = PcmEncoding::S16;
  int bytesPerFrame() const;
  bool valid() const;
};

// Resampler state carried from one buffer to the next of the same stream, so
// that pieces converted one after the other join without a click or drift.
struct PcmResampleState {
  bool valid = false;
  int rate = 0;
  float left = 0, right = 0;  // last input frame of the previous buffer
  int64_t phase = 0;  // next output position after that frame, in 1/kMixRate input frames
};

// Converts interleaved samples to float stereo at kMixRate. With a state, the
// conversion continues where the previous buffer of that state ended (when the
// rate is the same). A trailing partial frame is ignored; an invalid format or
// no whole frame gives an empty result.
std::vector<float> convertToMix(const void* data, size_t bytes, const PcmFormat& format,
                                PcmResampleState* state = nullptr);

// A mixer channel that plays queued PCM buffers in order.
//
// Buffers of any PcmFormat are converted to float stereo and resampled to
// kMixRate (linear interpolation, phase kept from one buffer to the next while
// the rate stays the same, so a stream fed in small pieces plays seamlessly) as
// they are queued; the audio thread then only copies. Alternatively one buffer
// can be looped (the console's tone).
//
// Threads: every member may be called from any thread (the stream decoder
// feeds from its own thread, the main thread cuts). A short mutex guards the
// queue; conversion happens outside it. mixInto is the audio thread's. queue and
// loop on a foreground source may switch a relaxed device to tight first (see
// the top of this file), which can close a device and so wait for its audio
// thread: they must not be called while holding a lock the audio thread or an
// audio observer takes.
class PcmQueueSource : public AudioSource {
 public:
  PcmQueueSource() = default;

  // Queues `bytes` bytes of interleaved samples after what is already queued
  // (a trailing partial frame is ignored). Returns the buffer's sequence number
  // (1, 2, 3, … per source), or 0 when nothing was queued (no whole frame, or
  // an invalid format). An active loop ends when queued buffers arrive.
  uint64_t queue(const void* data, size_t bytes, const PcmFormat& format);

  // Replaces everything (queue and loop) by one buffer played over and over
  // until flush(). Returns false for an empty buffer or an invalid format.
  bool loop(const void* data, size_t bytes, const PcmFormat& format);

  // Cut: drops the queued buffers and the loop at once; the audio thread is
  // silent from its next buffer on. Dropped buffers count as done.
  void flush();

  // Stops and resumes consumption without dropping anything (stream pause).
  void setPaused(bool paused);
  bool paused() const;

  // Marks the source as background (a stream) or foreground (the default).
  // Set it before the source receives audio.
  void setBackground(bool background);
  bool background() const override;
  // Has queued frames or a loop, and is not paused. Lock-free.
  bool active() const override;

  // Volume factor applied while mixing: 0 silent, 1 unchanged (up to 4).
  void setVolume(float volume);
  float volume() const;

  // True while queued frames remain or a loop plays.
  bool busy() const;
  // Buffers queued since creation, and buffers finished (played to their last
  // frame, or dropped by flush). queuedCount() - doneCount() are in flight.
  uint64_t queuedCount() const;
  uint64_t doneCount() const;
  // Frames (at kMixRate) still to play, the loop not counted.
  size_t pendingFrames() const;

  void mixInto(float* out, int frames) override;

 private:
  struct Buffer {
    std::vector<float> frames;  // interleaved stereo at kMixRate
    size_t pos = 0;             // next frame to play
  };
  mutable std::mutex mutex_;
  std::deque<Buffer> queue_;
  std::vector<float> loop_;
  size_t loopPos_ = 0;
  PcmResampleState carry_;  // guarded by queueMutex_, which orders producers
  std::mutex queueMutex_;
  size_t pendingFrames_ = 0;
  uint64_t queued_ = 0;
  std::atomic<uint64_t> done_{0};
  std::atomic<float> volume_{1.0f};
  std::atomic<bool> paused_{false};
  std::atomic<bool> background_{false};
  std::atomic<bool> hasSound_{false};  // queue or loop not empty; written under mutex_
};

}  // namespace platform
