// The program's one SDL2 output device, its mixer and the PCM queue source.
#include "platform/audio_device.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

struct DeviceState {
  // Lock order: deviceMutex, then sdlMutex, then renderMutex, then a source's
  // mutex. A device's audio thread takes only the last two, and nobody holding
  // one of those waits for the first two, so whoever holds sdlMutex may close a
  // device, which waits for that device's audio thread.
  std::mutex deviceMutex;  // orders every change of the current device
  // Held around every SDL_OpenAudioDevice, SDL_CloseAudioDevice and
  // SDL_PauseAudioDevice: SDL's table of open devices is not safe to change
  // from two threads at once, and superseded devices close on a thread of
  // their own.
  std::mutex sdlMutex;

  // Guarded by deviceMutex.
  SDL_AudioDeviceID device = 0;  // the current device
  bool triedOpen = false;
  bool openResult = false;
  bool subsystemInit = false;
  std::string deviceName;  // the name the device was actually opened with
  uint64_t lastGeneration = 0;  // the generation given to the latest open
  // The driver refused a second device while one was open (SDL's dummy and
  // disk drivers): switches close the old device first without asking again.
  bool singleDevice = false;
  std::thread closer;  // closes a superseded device; joined before the next one starts

  // Generation of the device whose callback mixes the sources; 0 while none
  // does. Written under deviceMutex and renderMutex; callbacks read it.
  std::atomic<uint64_t> generation{0};

  // Mirrors of the above for lock-free readers; written under deviceMutex.
  std::atomic<bool> isOpen{false};
  std::atomic<int> bufferFrames{kDeviceBufferFrames};
  // False on SDL's disk driver: it records into a file that each open starts
  // over, so a reopen would throw the recording away.
  std::atomic<bool> mayRelax{false};
  // True while the device is relaxed or a relax is being decided. A foreground
  // producer stamps lastForegroundMs and then reads this; the relaxing thread
  // sets this and then reads the stamp: one of them sees the other, so audio
  // queued at the same moment as a relax never plays at the long period.
  std::atomic<bool> notTight{false};
  std::atomic<int64_t> relaxedAtMs{0};

  // Recorded by the mixer for audioMaintain.
  std::atomic<int64_t> lastForegroundMs{0};  // a foreground source last had sound
  std::atomic<bool> backgroundActive{false};
  std::atomic<int> relaxDelayMs{2000};

  // Suspension: while nothing has sounded for the suspend delay, the device
  // is closed, so no audio thread wakes at all; the next sound opens it again.
  // lastSoundMs is stamped by the mixer while a source plays and by a source
  // about to play, before it looks at `suspending`; the keeper sets
  // `suspending` before it reads the stamp, so one of them always sees the
  // other (see notTight above for the same handshake).
  std::atomic<int64_t> lastSoundMs{0};
  std::atomic<bool> suspending{false};
  std::atomic<bool> suspended{false};  // written under deviceMutex
  std::atomic<int> suspendDelayMs{3000};
  std::thread keeper;
  std::mutex keeperMutex;
  std::condition_variable keeperCv;
  bool keeperStop = false;  // under keeperMutex

  // Guarded by renderMutex, which every mix holds (device callbacks and
  // audioRender alike).
  std::vector<std::shared_ptr<AudioSource>> sources;
  AudioObserver observer;
  std::mutex renderMutex;

  std::mutex statsMutex;
  AudioSwitchStats stats;  // guarded by statsMutex

  // At the end of the process the device threads must stop before the source
  // list they read is destroyed.
  ~DeviceState() {
    if (keeper.joinable()) {
      {
        std::lock_guard<std::mutex> lock(keeperMutex);
        keeperStop = true;
      }
      keeperCv.notify_all();
      keeper.join();
    }
    if (closer.joinable()) closer.join();
    if (device != 0) SDL_CloseAudioDevice(device);
  }
};

DeviceState& state() {
  static DeviceState s;
  return s;
}

// Runs `fn` with the render mutex held, so no device callback and no
// audioRender is mixing meanwhile.
template <typename Fn>
void withMixerLocked(Fn fn) {
  std::lock_guard<std::mutex> lock(state().renderMutex);
  fn();
}

// The mix itself; the caller holds renderMutex.
void mixLocked(float* out, int frames) {
  DeviceState& s = state();
  std::fill(out, out + static_cast<size_t>(frames) * 2, 0.0f);
  bool foreground = false;
  bool background = false;
  for (const auto& source : s.sources) {
    if (source->active()) (source->background() ? background : foreground) = true;
    source->mixInto(out, frames);
  }
  if (foreground || background) {
    const int64_t now = steadyMs();
    s.lastSoundMs.store(now, std::memory_order_relaxed);
    if (foreground) s.lastForegroundMs.store(now, std::memory_order_relaxed);
  }
  s.backgroundActive.store(background, std::memory_order_relaxed);
  float peak = 0;
  int firstAudible = -1;
  for (int i = 0; i < frames * 2; ++i) {
    float v = out[i];
    if (!(v == v)) v = 0;  // a NaN from a faulty source must not reach the device
    v = std::clamp(v, -1.0f, 1.0f);
    out[i] = v;
    float a = std::fabs(v);
    if (a > peak) peak = a;
    if (firstAudible < 0 && a > kAudibleLevel) firstAudible = i / 2;
  }
  if (s.observer) {
    AudioBlockReport report;
    report.when = Clock::now();
    report.frames = frames;
    report.peak = peak;
    report.firstAudible = firstAudible;
    s.observer(report);
  }
}

void* userdataFor(uint64_t generation) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(generation));
}

void SDLCALL audioCallback(void* userdata, Uint8* stream, int len) {
  const int frames = len / static_cast<int>(2 * sizeof(float));
  audioRenderForDevice(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(userdata)),
                       reinterpret_cast<float*>(stream), frames);
}

// Initialises SDL's audio subsystem with one driver (empty: SDL's choice or
// the SDL_AUDIODRIVER environment variable).
bool initAudioSubsystem(const char* driver) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (driver != nullptr) SDL_SetHint(SDL_HINT_AUDIODRIVER, driver);
  bool ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
  if (driver != nullptr) SDL_ResetHint(SDL_HINT_AUDIODRIVER);
  return ok;
}

// Opens a device (paused) whose callback mixes while `generation` is current.
SDL_AudioDeviceID openDevice(const std::string& name, int frames, uint64_t generation) {
  SDL_AudioSpec want{};
  want.freq = kMixRate;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = static_cast<Uint16>(frames);
  want.callback = audioCallback;
  want.userdata = userdataFor(generation);
  SDL_AudioSpec have{};
  std::lock_guard<std::mutex> lock(state().sdlMutex);
  // No changes allowed: SDL converts when the hardware differs, so the mixer
  // and every source can rely on kMixRate float stereo.
  return SDL_OpenAudioDevice(name.empty() ? nullptr : name.c_str(), 0, &want, &have, 0);
}

// Waits for a running callback of the device and for SDL's drain.
void closeDevice(SDL_AudioDeviceID id) {
  std::lock_guard<std::mutex> lock(state().sdlMutex);
  SDL_CloseAudioDevice(id);
}

// Opens `name` (or, failing that, the default device) at `frames`; records the
// name that worked. The caller holds deviceMutex.
SDL_AudioDeviceID openNamedOrDefault(DeviceState& s, const std::string& name, int frames,
                                     uint64_t generation) {
  SDL_AudioDeviceID id = openDevice(name, frames, generation);
  if (id != 0) {
    s.deviceName = name;
  } else if (!name.empty()) {
    id = openDevice({}, frames, generation);
    if (id != 0) s.deviceName.clear();
  }
  return id;
}

// Makes `id`, opened with `generation`, the device that mixes, and starts it.
// From here on a callback of the previous device writes silence. The caller
// holds deviceMutex.
void makeCurrent(DeviceState& s, SDL_AudioDeviceID id, uint64_t generation, int frames) {
  s.device = id;
  {
    // Under the render mutex: a callback of the previous device that is mixing
    // right now finishes first, and any later one sees the new generation.
    std::lock_guard<std::mutex> lock(s.renderMutex);
    s.generation.store(generation);
  }
  s.bufferFrames.store(frames);
  std::lock_guard<std::mutex> lock(s.sdlMutex);
  SDL_PauseAudioDevice(id, 0);
}

void noteClosed(DeviceState& s, Clock::time_point start, bool background) {
  const Clock::time_point end = Clock::now();
  std::lock_guard<std::mutex> lock(s.statsMutex);
  if (background) {
    s.stats.pendingCloses -= 1;
    s.stats.backgroundCloses += 1;
  }
  s.stats.lastClose = std::chrono::duration_cast<std::chrono::microseconds>(end - start);
  s.stats.lastCloseEnded = end;
}

// Closes a superseded device on a thread of its own, so that neither the
// caller nor the audio that the new device plays waits for SDL's drain. A close
// still running from the previous switch is waited for first (switches are
// seconds apart, so it has normally long finished). The caller holds
// deviceMutex.
void closeInBackground(DeviceState& s, SDL_AudioDeviceID old) {
  if (s.closer.joinable()) s.closer.join();
  {
    std::lock_guard<std::mutex> lock(s.statsMutex);
    s.stats.pendingCloses += 1;
  }
  try {
    s.closer = std::thread([&s, old] {
      const Clock::time_point start = Clock::now();
      closeDevice(old);
      noteClosed(s, start, true);
      audioThreadEnds();
    });
  } catch (const std::system_error&) {
    // No thread to be had: close here, as a single-device driver would.
    const Clock::time_point start = Clock::now();
    closeDevice(old);
    noteClosed(s, start, true);
  }
}

// Gives the current device a buffer of `frames` frames, keeping its output:
// where the driver allows it, the new device is opened and made current before
// the old one closes in the background; otherwise the old one is closed first.
// If no device opens at `frames`, the size it had is tried again; if that fails
// too, the device stays closed. The caller holds deviceMutex and no other lock
// of this module or of a source.
void switchLocked(DeviceState& s, int frames) {
  if (s.device == 0) return;
  const Clock::time_point start = Clock::now();
  const SDL_AudioDeviceID old = s.device;
  const int previous = s.bufferFrames.load();
  bool overlapped = false;
  const bool tryOverlap = !s.singleDevice;
  if (tryOverlap) {
    const uint64_t generation = ++s.lastGeneration;
    SDL_AudioDeviceID id = openDevice(s.deviceName, frames, generation);
    if (id != 0) {
      makeCurrent(s, id, generation, frames);
      closeInBackground(s, old);
      overlapped = true;
    }
  }
  bool opened = overlapped;
  if (!overlapped) {
    // One device at a time: SDL's close waits for the callback and the drain.
    const Clock::time_point closeStart = Clock::now();
    closeDevice(old);
    noteClosed(s, closeStart, false);
    s.device = 0;
    s.generation.store(0);
    uint64_t generation = ++s.lastGeneration;
    SDL_AudioDeviceID id = openDevice(s.deviceName, frames, generation);
    // Opening alone worked where opening beside the old device did not: this
    // driver has room for one device only.
    if (id != 0 && tryOverlap) s.singleDevice = true;
    if (id == 0) {
      frames = previous;
      generation = ++s.lastGeneration;
      id = openDevice(s.deviceName, frames, generation);
    }
    if (id != 0) {
      makeCurrent(s, id, generation, frames);
      opened = true;
    } else {
      s.isOpen.store(false);
      s.openResult = false;
      s.bufferFrames.store(kDeviceBufferFrames);
      s.notTight.store(false);
    }
  }
  std::lock_guard<std::mutex> lock(s.statsMutex);
  if (overlapped) {
    s.stats.openedBeforeClose += 1;
  } else {
    s.stats.closedFirst += 1;
  }
  if (!opened) s.stats.failed += 1;
  s.stats.lastSwitch = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
}

// Makes a relaxed device tight again (no-op when it is tight or closed).
void tighten() {
  DeviceState& s = state();
  std::lock_guard<std::mutex> lock(s.deviceMutex);
  if (s.device != 0 && s.bufferFrames.load() != kDeviceBufferFrames) {
    switchLocked(s, kDeviceBufferFrames);
  }
  s.notTight.store(s.device != 0 && s.bufferFrames.load() != kDeviceBufferFrames);
}

// Opens the device again after a suspension (tight), unless that happened
// meanwhile. A failed open leaves it suspended: the next sound tries again.
void resumeDevice() {
  DeviceState& s = state();
  std::lock_guard<std::mutex> lock(s.deviceMutex);
  if (!s.suspended.load() || !s.isOpen.load()) return;
  const uint64_t generation = ++s.lastGeneration;
  const SDL_AudioDeviceID id = openDevice(s.deviceName, kDeviceBufferFrames, generation);
  if (id == 0) return;
  s.notTight.store(false);
  makeCurrent(s, id, generation, kDeviceBufferFrames);
  s.suspended.store(false);
  std::lock_guard<std::mutex> statsLock(s.statsMutex);
  s.stats.resumes += 1;
}

// Something is about to sound: stamp it, and open the device when it is
// suspended (or being suspended right now).
void soundArrives() {
  DeviceState& s = state();
  s.lastSoundMs.store(steadyMs());
  if (s.suspending.load() || s.suspended.load()) {
    resumeDevice();
    s.keeperCv.notify_all();  // the keeper times the next silence from now
  }
}

// Foreground audio is about to be queued: stamp it, open a suspended device,
// and make the device tight first when it is relaxed (or being relaxed).
void foregroundArrives() {
  DeviceState& s = state();
  s.lastForegroundMs.store(steadyMs());
  soundArrives();
  if (s.notTight.load()) tighten();
}

// Closes the device when nothing has sounded for the suspend delay and no
// source has anything to play. Runs on the keeper thread.
void trySuspend() {
  DeviceState& s = state();
  std::lock_guard<std::mutex> lock(s.deviceMutex);
  const int delay = s.suspendDelayMs.load();
  if (s.device == 0 || s.suspended.load() || delay <= 0 || !s.mayRelax.load()) return;
  s.suspending.store(true);
  bool sounding = steadyMs() - s.lastSoundMs.load() < delay;
  if (!sounding) {
    std::lock_guard<std::mutex> render(s.renderMutex);
    for (const auto& source : s.sources) sounding = sounding || source->active();
  }
  if (!sounding) {
    const SDL_AudioDeviceID old = s.device;
    s.device = 0;
    {
      std::lock_guard<std::mutex> render(s.renderMutex);
      s.generation.store(0);
    }
    s.bufferFrames.store(kDeviceBufferFrames);
    s.notTight.store(false);
    if (s.closer.joinable()) s.closer.join();
    const Clock::time_point start = Clock::now();
    closeDevice(old);
    noteClosed(s, start, false);
    {
      std::lock_guard<std::mutex> statsLock(s.statsMutex);
      s.stats.suspensions += 1;
    }
    // A producer that comes now sees `suspending` still, and waits for the
    // device mutex to open the device again.
    s.suspended.store(true);
  }
  s.suspending.store(false);
}

// The keeper: sleeps until the suspend delay has passed since the last sound,
// suspends the device, and then sleeps until a sound wakes it.
void keeperLoop() {
  DeviceState& s = state();
  std::unique_lock<std::mutex> lock(s.keeperMutex);
  while (!s.keeperStop) {
    const int delay = s.suspendDelayMs.load();
    if (s.suspended.load() || delay <= 0 || !s.mayRelax.load()) {
      s.keeperCv.wait(lock);
      continue;
    }
    const int64_t due = s.lastSoundMs.load() + delay;
    const int64_t now = steadyMs();
    if (now < due) {
      s.keeperCv.wait_for(lock, std::chrono::milliseconds(due - now));
      continue;
    }
    lock.unlock();
    trySuspend();
    lock.lock();
    if (!s.suspended.load() && !s.keeperStop) {
      // Something sounds: look again one delay later.
      s.keeperCv.wait_for(lock, std::chrono::milliseconds(delay));
    }
  }
}

void stopKeeper(DeviceState& s) {
  if (!s.keeper.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(s.keeperMutex);
    s.keeperStop = true;
  }
  s.keeperCv.notify_all();
  s.keeper.join();
  s.keeperStop = false;
}

}  // namespace

bool audioOpen(const std::string& deviceName) {
  DeviceState& s = state();
  std::lock_guard<std::mutex> lock(s.deviceMutex);
  if (s.triedOpen) return s.openResult;
  s.triedOpen = true;
  {
    std::lock_guard<std::mutex> statsLock(s.statsMutex);
    s.stats = AudioSwitchStats{};
  }
  const uint64_t generation = ++s.lastGeneration;
  const char* env = std::getenv("SDL_AUDIODRIVER");
  if (env != nullptr && *env != '\0') {
    // The user (or the test environment) chose the driver: that one only.
    if (initAudioSubsystem(nullptr)) {
      s.subsystemInit = true;
      s.device = openNamedOrDefault(s, deviceName, kDeviceBufferFrames, generation);
    }
  } else {
    // SDL on its own would settle for ALSA, whose open fails on a machine
    // without a sound card even when a sound server runs; try the servers first.
    for (const char* driver : {"pulseaudio", "pipewire", "alsa"}) {
      if (!initAudioSubsystem(driver)) continue;
      s.device = openNamedOrDefault(s, deviceName, kDeviceBufferFrames, generation);
      if (s.device != 0) {
        s.subsystemInit = true;
        break;
      }
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
  }
  s.openResult = s.device != 0;
  if (s.openResult) {
    s.notTight.store(false);
    s.singleDevice = false;
    // Nothing has been silent for the relax delay yet.
    s.lastForegroundMs.store(steadyMs());
    const char* driver = SDL_GetCurrentAudioDriver();
    s.mayRelax.store(driver == nullptr || std::strcmp(driver, "disk") != 0);
    s.isOpen.store(true);
    s.suspended.store(false);
    s.lastSoundMs.store(steadyMs());
    makeCurrent(s, s.device, generation, kDeviceBufferFrames);
    if (!s.keeper.joinable()) {
      try {
        s.keeper = std::thread([] {
          keeperLoop();
          audioThreadEnds();
        });
      } catch (const std::system_error&) {
        // No keeper: the device simply stays open while nothing sounds.
      }
    }
    // At exit the device threads must stop before any module state a source
    // reads is destroyed; handlers registered now run before the destructors
    // of everything constructed earlier.
    static bool closeAtExit = false;
    if (!closeAtExit) {
      closeAtExit = true;
      std::atexit([] { audioClose(); });
    }
  }
  return s.openResult;
}

void audioClose() {
  DeviceState& s = state();
  stopKeeper(s);  // it may be waiting for the device mutex
  std::lock_guard<std::mutex> lock(s.deviceMutex);
  s.suspended.store(false);
  // A superseded device still closing must be gone before the subsystem is.
  if (s.closer.joinable()) s.closer.join();
  if (s.device != 0) {
    closeDevice(s.device);  // waits for a running callback
    s.device = 0;
  }
  s.generation.store(0);
  s.isOpen.store(false);
  s.bufferFrames.store(kDeviceBufferFrames);
  s.notTight.store(false);
  if (s.subsystemInit) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    s.subsystemInit = false;
  }
  s.singleDevice = false;
  s.triedOpen = false;
  s.openResult = false;
}

bool audioIsOpen() { return state().isOpen.load(); }

int audioRate() { return state().isOpen.load() ? kMixRate : 0; }

int audioBufferFrames() { return state().bufferFrames.load(); }

std::vector<std::string> audioOutputNames() {
  std::vector<std::string> names;
  DeviceState& s = state();
  bool temporary = false;
  if (SDL_WasInit(SDL_INIT_AUDIO) == 0) {
    if (!initAudioSubsystem(nullptr)) return names;
    temporary = true;
  }
  int count = SDL_GetNumAudioDevices(0);
  for (int i = 0; i < count; ++i) {
    const char* name = SDL_GetAudioDeviceName(i, 0);
    if (name != nullptr) names.emplace_back(name);
  }
  if (temporary && !s.subsystemInit) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  return names;
}

void audioAddSource(std::shared_ptr<AudioSource> source) {
  if (!source) return;
  withMixerLocked([&] {
    auto& list = state().sources;
    if (std::find(list.begin(), list.end(), source) == list.end()) list.push_back(source);
  });
}

void audioRemoveSource(const AudioSource* source) {
  DeviceState& s = state();
  std::shared_ptr<AudioSource> released;  // destroyed after the lock is gone
  withMixerLocked([&] {
    auto& list = s.sources;
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const auto& p) { return p.get() == source; });
    if (it != list.end()) {
      released = std::move(*it);
      list.erase(it);
    }
    bool background = false;
    for (const auto& p : list) background = background || (p->background() && p->active());
    s.backgroundActive.store(background);
  });
  // The last stream gone: menus and speech must be quick again at once.
  if (s.notTight.load() && !s.backgroundActive.load()) tighten();
}

void audioThreadEnds() { SDL_TLSCleanup(); }

void audioMaintain() {
  DeviceState& s = state();
  if (!s.isOpen.load() || !s.mayRelax.load() || s.suspended.load()) return;
  if (s.notTight.load()) {
    // Relaxed: tight again once no stream has sound, or when foreground audio
    // played anyway (a foreground source resumed rather than fed).
    if (!s.backgroundActive.load() || s.lastForegroundMs.load() > s.relaxedAtMs.load()) tighten();
    return;
  }
  const int64_t delay = s.relaxDelayMs.load();
  if (!s.backgroundActive.load() || steadyMs() - s.lastForegroundMs.load() < delay) return;

  std::lock_guard<std::mutex> lock(s.deviceMutex);
  if (s.device == 0 || s.bufferFrames.load() != kDeviceBufferFrames) return;
  s.notTight.store(true);
  // Read after announcing the relax (see notTight): a producer that stamped
  // before this point is seen here; one that stamps later sees notTight and
  // waits on deviceMutex to make the device tight again.
  const int64_t last = s.lastForegroundMs.load();
  const int64_t now = steadyMs();
  if (now - last < delay || !s.backgroundActive.load()) {
    s.notTight.store(false);
    return;
  }
  s.relaxedAtMs.store(now);
  switchLocked(s, kRelaxedBufferFrames);
  s.notTight.store(s.device != 0 && s.bufferFrames.load() != kDeviceBufferFrames);
}

void setAudioRelaxDelay(std::chrono::milliseconds delay) {
  state().relaxDelayMs.store(static_cast<int>(std::max<int64_t>(0, delay.count())));
}

void setAudioSuspendDelay(std::chrono::milliseconds delay) {
  DeviceState& s = state();
  s.suspendDelayMs.store(static_cast<int>(std::clamp<int64_t>(delay.count(), 0, INT32_MAX)));
  if (delay.count() <= 0) soundArrives();  // never suspended: open it again now
  s.keeperCv.notify_all();
}

bool audioSuspended() { return state().suspended.load(); }

AudioSwitchStats audioSwitchStats() {
  DeviceState& s = state();
  std::lock_guard<std::mutex> lock(s.statsMutex);
  return s.stats;
}

uint64_t audioDeviceGeneration() { return state().generation.load(); }

void audioRenderForDevice(uint64_t generation, float* out, int frames) {
  if (frames <= 0) return;
  DeviceState& s = state();
  // Checked once without the lock, so that a superseded device, which goes on
  // calling back until its close in the background is through, never waits
  // for the current one; and again under it, in case a switch came between.
  if (generation != 0 && s.generation.load() == generation) {
    std::lock_guard<std::mutex> lock(s.renderMutex);
    if (s.generation.load() == generation) {
      mixLocked(out, frames);
      return;
    }
  }
  std::fill(out, out + static_cast<size_t>(frames) * 2, 0.0f);
}

void audioRender(float* out, int frames) {
  if (frames <= 0) return;
  withMixerLocked([&] { mixLocked(out, frames); });
}

void setAudioObserver(AudioObserver observer) {
  withMixerLocked([&] { state().observer = std::move(observer); });
}

// ---------------------------------------------------------------------------
// PCM formats and conversion

int PcmFormat::bytesPerFrame() const {
  int bytes = encoding == PcmEncoding::U8 ? 1 : encoding == PcmEncoding::S16 ? 2 : 4;
  return bytes * channels;
}

bool PcmFormat::valid() const {
  // 384 kHz is the highest rate any common format uses; anything above is a
  // corrupt header and would make the resampler produce almost nothing. Below
  // kMinPcmRate a header is just as corrupt, and the resampler would turn each
  // input frame into kMixRate / rate output frames: a piece of 8 KB claiming
  // 1 Hz would ask for some 3 GB.
  return rate >= kMinPcmRate && rate <= kMaxPcmRate && (channels == 1 || channels == 2);
}

namespace {

// One input sample as float; `p` points at a sample of the given encoding.
inline float sampleAt(const uint8_t* p, PcmEncoding enc) {
  switch (enc) {
    case PcmEncoding::U8:
      return (static_cast<int>(p[0]) - 128) / 128.0f;
    case PcmEncoding::S16: {
      int16_t v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
      return v / 32768.0f;
    }
    case PcmEncoding::F32: {
      float f;
      std::memcpy(&f, p, sizeof f);
      return f == f ? f : 0.0f;
    }
  }
  return 0;
}

// Reads frame `i` as a left/right pair (mono goes to both sides).
inline void frameAt(const uint8_t* data, size_t i, const PcmFormat& f, int sampleBytes,
                    float& l, float& r) {
  const uint8_t* p = data + i * static_cast<size_t>(sampleBytes) * f.channels;
  l = sampleAt(p, f.encoding);
  r = f.channels == 2 ? sampleAt(p + sampleBytes, f.encoding) : l;
}

}  // namespace

std::vector<float> convertToMix(const void* data, size_t bytes, const PcmFormat& format,
                                PcmResampleState* carry) {
  std::vector<float> out;
  if (!format.valid() || data == nullptr) return out;
  const auto* in = static_cast<const uint8_t*>(data);
  const int frameBytes = format.bytesPerFrame();
  const int sampleBytes = frameBytes / format.channels;
  const size_t n = bytes / static_cast<size_t>(frameBytes);
  if (n == 0) return out;

  if (format.rate == kMixRate) {
    out.resize(n * 2);
    if (format.encoding == PcmEncoding::F32 && format.channels == 2) {
      // Decoded streams arrive in the mixer's own format: a copy, with NaNs
      // silenced as sampleAt does, in a loop the compiler vectorises.
      std::memcpy(out.data(), in, n * 2 * sizeof(float));
      for (float& v : out) v = v == v ? v : 0.0f;
    } else {
      for (size_t i = 0; i < n; ++i) frameAt(in, i, format, sampleBytes, out[2 * i], out[2 * i + 1]);
    }
    if (carry != nullptr) {
      carry->valid = true;
      carry->rate = format.rate;
      carry->left = out[out.size() - 2];
      carry->right = out.back();
      carry->phase = kMixRate;
    }
    return out;
  }

  // Linear interpolation over the sequence [previous frame, x0, x1, … x(n-1)],
  // index 0 being the carried frame. Positions are kept exactly as multiples of
  // 1/kMixRate input frames (integers, no accumulated rounding): each output
  // frame advances by `rate` units. A fresh start puts the first output on x0.
  const int64_t unit = kMixRate;
  const int64_t step = format.rate;
  int64_t phase = unit;
  float prevL = 0, prevR = 0;
  bool continuing = carry != nullptr && carry->valid && carry->rate == format.rate;
  if (continuing) {
    phase = carry->phase;
    prevL = carry->left;
    prevR = carry->right;
  } else {
    frameAt(in, 0, format, sampleBytes, prevL, prevR);
  }
  auto combined = [&](size_t k, float& l, float& r) {
    if (k == 0) {
      l = prevL;
      r = prevR;
    } else {
      frameAt(in, k - 1, format, sampleBytes, l, r);
    }
  };
  const int64_t last = static_cast<int64_t>(n) * unit;  // position of x(n-1)
  // A carried conversion stops at x(n-1): what lies beyond it is interpolated
  // once the next buffer arrives. A whole sound also covers the span of its last
  // frame (held), so it lasts exactly n / rate seconds and a loop closes
  // without a gap.
  const int64_t end = carry != nullptr ? last + 1 : last + unit;  // exclusive
  out.reserve(static_cast<size_t>((end - phase) / step + 1) * 2);
  while (phase < end) {
    size_t k = static_cast<size_t>(phase / unit);
    float frac = static_cast<float>(phase % unit) / static_cast<float>(unit);
    float l0, r0, l1, r1;
    combined(k, l0, r0);
    if (k < n) {
      combined(k + 1, l1, r1);
    } else {
      l1 = l0;
      r1 = r0;
    }
    out.push_back(l0 + (l1 - l0) * frac);
    out.push_back(r0 + (r1 - r0) * frac);
    phase += step;
  }
  if (carry != nullptr) {
    carry->valid = true;
    carry->rate = format.rate;
    frameAt(in, n - 1, format, sampleBytes, carry->left, carry->right);
    carry->phase = phase - last;
  }
  return out;
}

uint64_t PcmQueueSource::queue(const void* data, size_t bytes, const PcmFormat& format) {
  // Before any lock of this source: a switch that closes the device waits for
  // the audio thread, which may be mixing this very source.
  if (!background_.load()) {
    foregroundArrives();
  } else if (!paused_.load()) {
    soundArrives();
  }
  std::lock_guard<std::mutex> producer(queueMutex_);
  std::vector<float> frames = convertToMix(data, bytes, format, &carry_);
  if (frames.empty()) return 0;
  Buffer buffer;
  size_t count = frames.size() / 2;
  buffer.frames = std::move(frames);
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(buffer));
  pendingFrames_ += count;
  loop_.clear();
  loopPos_ = 0;
  hasSound_.store(true);
  return ++queued_;
}

bool PcmQueueSource::loop(const void* data, size_t bytes, const PcmFormat& format) {
  std::vector<float> frames = convertToMix(data, bytes, format);
  if (frames.empty()) return false;
  if (!background_.load()) {
    foregroundArrives();
  } else if (!paused_.load()) {
    soundArrives();
  }
  std::deque<Buffer> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(queue_);
    done_.fetch_add(dropped.size());
    pendingFrames_ = 0;
    loop_.swap(frames);
    loopPos_ = 0;
    hasSound_.store(true);
  }
  std::lock_guard<std::mutex> producer(queueMutex_);
  carry_ = PcmResampleState{};
  return true;
}

void PcmQueueSource::flush() {
  std::deque<Buffer> dropped;  // freed outside the lock
  std::vector<float> oldLoop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped.swap(queue_);
    oldLoop.swap(loop_);
    loopPos_ = 0;
    pendingFrames_ = 0;
    done_.fetch_add(dropped.size());
    hasSound_.store(false);
  }
  std::lock_guard<std::mutex> producer(queueMutex_);
  carry_ = PcmResampleState{};
}

void PcmQueueSource::setPaused(bool paused) {
  // A stream resumed with audio queued wakes a suspended device first.
  if (!paused && paused_.load() && hasSound_.load()) soundArrives();
  paused_.store(paused);
}
bool PcmQueueSource::paused() const { return paused_.load(); }

void PcmQueueSource::setBackground(bool background) { background_.store(background); }
bool PcmQueueSource::background() const { return background_.load(std::memory_order_relaxed); }

bool PcmQueueSource::active() const {
  return hasSound_.load(std::memory_order_relaxed) && !paused_.load(std::memory_order_relaxed);
}

void PcmQueueSource::setVolume(float volume) {
  // A NaN or negative factor would corrupt or invert the mix.
  if (!(volume >= 0)) volume = 0;
  volume_.store(std::min(volume, 4.0f));
}
float PcmQueueSource::volume() const { return volume_.load(); }

bool PcmQueueSource::busy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !queue_.empty() || !loop_.empty();
}

uint64_t PcmQueueSource::queuedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queued_;
}

uint64_t PcmQueueSource::doneCount() const { return done_.load(); }

size_t PcmQueueSource::pendingFrames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pendingFrames_;
}

void PcmQueueSource::mixInto(float* out, int frames) {
  if (paused_.load(std::memory_order_relaxed)) return;
  const float gain = volume_.load(std::memory_order_relaxed);
  std::lock_guard<std::mutex> lock(mutex_);
  int written = 0;
  while (written < frames && !queue_.empty()) {
    Buffer& b = queue_.front();
    size_t available = b.frames.size() / 2 - b.pos;
    size_t take = std::min(available, static_cast<size_t>(frames - written));
    const float* src = b.frames.data() + b.pos * 2;
    float* dst = out + static_cast<size_t>(written) * 2;
    for (size_t i = 0; i < take * 2; ++i) dst[i] += src[i] * gain;
    b.pos += take;
    written += static_cast<int>(take);
    pendingFrames_ -= take;
    if (b.pos * 2 >= b.frames.size()) {
      // Freeing a buffer here is the one deallocation on the audio thread; the
      // buffers are a few hundred KB at most, which the allocator returns fast.
      queue_.pop_front();
      done_.fetch_add(1);
    }
  }
  if (!loop_.empty()) {
    const size_t loopFrames = loop_.size() / 2;
    while (written < frames) {
      size_t take = std::min(loopFrames - loopPos_, static_cast<size_t>(frames - written));
      const float* src = loop_.data() + loopPos_ * 2;
      float* dst = out + static_cast<size_t>(written) * 2;
      for (size_t i = 0; i < take * 2; ++i) dst[i] += src[i] * gain;
      loopPos_ = (loopPos_ + take) % loopFrames;
      written += static_cast<int>(take);
    }
  }
  if (queue_.empty() && loop_.empty()) hasSound_.store(false, std::memory_order_relaxed);
}

}  // namespace platform
