#include "platform/braille_device.h"

#include <dlfcn.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/codepage.h"
#include "platform/frontend.h"

// Only the types and constants of the header are used; every function is
// looked up in the library loaded at run time.
#define BRLAPI_NO_SINGLE_SESSION 1
#define BRLAPI_NO_DEPRECATED 1
#include <brlapi.h>

namespace platform {

namespace {

// Between two attempts to reach brltty, and between two looks at the size of
// a display that has none yet.
constexpr int kRetryMs = 1000;

// Extended key codes of the console (see console/core/console.h).
constexpr uint32_t kKeyLeft = 75, kKeyRight = 77, kKeyPageUp = 73, kKeyPageDown = 81;
constexpr uint32_t kKeyInsert = 82, kKeyDelete = 83, kKeyF1 = 59, kKeyF11 = 69, kKeyF12 = 70;

std::vector<BrailleDeviceEvent> chord(uint32_t bits) {
  return {{kBrailleKeyEvent, bits << 8}, {kBrailleKeyEvent, kBrailleChordEnd}};
}

std::vector<BrailleDeviceEvent> single(uint32_t type, uint32_t code) { return {{type, code}}; }

std::vector<BrailleDeviceEvent> commandEvents(uint64_t code) {
  const uint64_t block = code & BRLAPI_KEY_CMD_BLK_MASK;
  const uint32_t argument = static_cast<uint32_t>(code & BRLAPI_KEY_CMD_ARG_MASK);
  if (block == BRLAPI_KEY_CMD_PASSDOTS) {
    uint32_t bits = argument & 0xFF;
    if (argument & BRLAPI_DOTC) bits |= kBrailleSpaceKey;
    if (bits == 0) bits = kBrailleSpaceKey;  // an empty cell is the space bar
    return chord(bits);
  }
  if (block != 0) return {};
  // Basic commands: the block is 0 and the argument is the command.
  switch (argument) {
    case BRLAPI_KEY_CMD_LNUP: return single(kBrailleNavigationEvent, kBrailleLineUp);
    case BRLAPI_KEY_CMD_LNDN: return single(kBrailleNavigationEvent, kBrailleLineDown);
    case BRLAPI_KEY_CMD_TOP:
    case BRLAPI_KEY_CMD_TOP_LEFT: return chord(kBrailleHomeKey);
    case BRLAPI_KEY_CMD_BOT:
    case BRLAPI_KEY_CMD_BOT_LEFT: return chord(kBrailleEndKey);
    default: return {};
  }
}

std::vector<BrailleDeviceEvent> keysymEvents(uint64_t code) {
  const uint32_t sym = static_cast<uint32_t>(code & BRLAPI_KEY_CODE_MASK);
  const bool control = (code & BRLAPI_KEY_FLG_CONTROL) != 0;
  switch (sym) {
    case BRLAPI_KEY_SYM_BACKSPACE: return chord(kBrailleDot7);
    case BRLAPI_KEY_SYM_LINEFEED: return chord(kBrailleDot8);
    case BRLAPI_KEY_SYM_ESCAPE: return chord(kBrailleDot7 | kBrailleDot8);
    case BRLAPI_KEY_SYM_UP: return single(kBrailleNavigationEvent, kBrailleLineUp);
    case BRLAPI_KEY_SYM_DOWN: return single(kBrailleNavigationEvent, kBrailleLineDown);
    case BRLAPI_KEY_SYM_HOME: return chord(kBrailleHomeKey);
    case BRLAPI_KEY_SYM_END: return chord(kBrailleEndKey);
    case BRLAPI_KEY_SYM_TAB: return single(kBrailleCharacterEvent, 9);
    case BRLAPI_KEY_SYM_LEFT: return single(kBrailleExtendedKeyEvent, kKeyLeft);
    case BRLAPI_KEY_SYM_RIGHT: return single(kBrailleExtendedKeyEvent, kKeyRight);
    case BRLAPI_KEY_SYM_PAGE_UP: return single(kBrailleExtendedKeyEvent, kKeyPageUp);
    case BRLAPI_KEY_SYM_PAGE_DOWN: return single(kBrailleExtendedKeyEvent, kKeyPageDown);
    case BRLAPI_KEY_SYM_INSERT: return single(kBrailleExtendedKeyEvent, kKeyInsert);
    case BRLAPI_KEY_SYM_DELETE: return single(kBrailleExtendedKeyEvent, kKeyDelete);
    default: break;
  }
  if (sym >= BRLAPI_KEY_SYM_FUNCTION && sym < BRLAPI_KEY_SYM_FUNCTION + 12) {
    const uint32_t n = sym - static_cast<uint32_t>(BRLAPI_KEY_SYM_FUNCTION);
    const uint32_t key = n < 10 ? kKeyF1 + n : (n == 10 ? kKeyF11 : kKeyF12);
    return single(kBrailleExtendedKeyEvent, key);
  }
  char32_t cp;
  if (sym & BRLAPI_KEY_SYM_UNICODE)
    cp = sym & (BRLAPI_KEY_SYM_UNICODE - 1);
  else if (sym >= 0x20 && sym <= 0xFF)
    cp = sym;  // Latin-1 keysyms are their own code points
  else
    return {};
  uint8_t byte;
  if (cp < 0x20 || !codePointToCp1252(cp, byte)) return {};
  if (control) {
    const uint8_t upper = (byte >= 'a' && byte <= 'z') ? static_cast<uint8_t>(byte - 32) : byte;
    if (upper < 'A' || upper > 'Z') return {};
    byte = static_cast<uint8_t>(upper - 'A' + 1);
  }
  return single(kBrailleCharacterEvent, byte);
}

using GetHandleSize = decltype(&brlapi_getHandleSize);
using OpenConnection = decltype(&brlapi__openConnection);
using CloseConnection = decltype(&brlapi__closeConnection);
using GetDisplaySize = decltype(&brlapi__getDisplaySize);
using EnterTtyModeWithPath = decltype(&brlapi__enterTtyModeWithPath);
using WriteDots = decltype(&brlapi__writeDots);
using ReadKey = decltype(&brlapi__readKey);
using SetExceptionHandler = decltype(&brlapi__setExceptionHandler);
using SetParameter = decltype(&brlapi__setParameter);

// The library's functions; the library is never unloaded (its threads and
// handlers may outlive any one connection).
struct Library {
  GetHandleSize getHandleSize = nullptr;
  OpenConnection openConnection = nullptr;
  CloseConnection closeConnection = nullptr;
  GetDisplaySize getDisplaySize = nullptr;
  EnterTtyModeWithPath enterTtyModeWithPath = nullptr;
  WriteDots writeDots = nullptr;
  ReadKey readKey = nullptr;
  SetExceptionHandler setExceptionHandler = nullptr;
  SetParameter setParameter = nullptr;  // optional (older servers lack it)
};

template <typename F>
bool resolve(void* module, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(module, name));
  return function != nullptr;
}

bool loadLibrary(const std::vector<std::string>& names, Library& lib) {
  void* module = nullptr;
  for (const std::string& name : names) {
    module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module) break;
  }
  if (!module) return false;
  const bool ok = resolve(module, "brlapi_getHandleSize", lib.getHandleSize) &&
                  resolve(module, "brlapi__openConnection", lib.openConnection) &&
                  resolve(module, "brlapi__closeConnection", lib.closeConnection) &&
                  resolve(module, "brlapi__getDisplaySize", lib.getDisplaySize) &&
                  resolve(module, "brlapi__enterTtyModeWithPath", lib.enterTtyModeWithPath) &&
                  resolve(module, "brlapi__writeDots", lib.writeDots) &&
                  resolve(module, "brlapi__readKey", lib.readKey) &&
                  resolve(module, "brlapi__setExceptionHandler", lib.setExceptionHandler);
  resolve(module, "brlapi__setParameter", lib.setParameter);
  if (!ok) dlclose(module);
  return ok;
}

// The library's own handler for errors the server reports afterwards ends
// the process; a wrong write or a display that changed size must not.
void ignoreException(brlapi_handle_t*, int, brlapi_packetType_t, const void*, size_t) {}

}  // namespace

std::vector<BrailleDeviceEvent> brailleEventsForKeyCode(uint64_t code) {
  switch (code & BRLAPI_KEY_TYPE_MASK) {
    case BRLAPI_KEY_TYPE_CMD: return commandEvents(code);
    case BRLAPI_KEY_TYPE_SYM: return keysymEvents(code);
    default: return {};
  }
}

int brailleCellsForSize(unsigned columns, unsigned rows) {
  const unsigned long long cells = static_cast<unsigned long long>(columns) * rows;
  if (cells == 0 || cells > static_cast<unsigned long long>(kMaxBrailleCells)) return 0;
  return static_cast<int>(cells);
}

struct BrailleDevice::Impl {
  Library lib;
  KeySink sink;
  std::thread thread;
  WakePipe wake;
  std::atomic<bool> stopping{false};
  std::atomic<bool> connected{false};
  std::atomic<int> cells{0};
  std::atomic<int> connections{0};

  std::mutex lock;  // guards the fields below
  std::condition_variable attempted;
  bool firstAttemptDone = false;
  std::vector<uint8_t> wanted;  // the latest dots asked for
  bool dirty = false;

  // Connection state, owned by the thread.
  std::vector<unsigned char> handleMemory;
  int fd = -1;
  std::vector<uint8_t> written;  // what the display shows, for the size it has

  brlapi_handle_t* handle() { return reinterpret_cast<brlapi_handle_t*>(handleMemory.data()); }

  // Connects; takes the display (tty mode) only when it has cells, since
  // brltty keeps the buffers of a client that took the display at the size
  // the display had then, and damages its memory when that client writes
  // after the size changed (brltty 6.5 dies of it). A change of size is
  // therefore met with a fresh connection (see refreshSize).
  bool connect() {
    handleMemory.assign(lib.getHandleSize(), 0);
    // Settings from the environment: BRLAPI_HOST and BRLAPI_AUTH.
    fd = lib.openConnection(handle(), nullptr, nullptr);
    if (fd < 0) {
      fd = -1;
      return false;
    }
    lib.setExceptionHandler(handle(), &ignoreException);
    unsigned x = 0, y = 0;
    if (lib.getDisplaySize(handle(), &x, &y) < 0) {
      disconnect();
      return false;
    }
    const int n = brailleCellsForSize(x, y);
    if (n > 0) {
      // The display as the program's own, whichever terminal it runs in.
      if (lib.enterTtyModeWithPath(handle(), nullptr, 0, nullptr) < 0) {
        disconnect();
        return false;
      }
      if (lib.setParameter) {
        // Dots as dots: the program translates them with its own tables.
        const brlapi_param_retainDots_t on = 1;
        lib.setParameter(handle(), BRLAPI_PARAM_RETAIN_DOTS, 0, BRLAPI_PARAMF_LOCAL, &on, sizeof on);
      }
      connections.fetch_add(1);
    }
    written.clear();
    cells.store(n);
    connected.store(true);
    std::lock_guard<std::mutex> guard(lock);
    dirty = true;  // show the latest row on the new connection
    return true;
  }

  void disconnect() {
    if (fd >= 0) lib.closeConnection(handle());
    fd = -1;
    connected.store(false);
    cells.store(0);
  }

  void refreshSize() {
    unsigned x = 0, y = 0;
    if (lib.getDisplaySize(handle(), &x, &y) < 0) {
      disconnect();
      return;
    }
    if (brailleCellsForSize(x, y) == cells.load()) return;
    disconnect();
    connect();
  }

  // Writes the latest dots when they differ from what the display shows.
  void writeLatest() {
    const int n = cells.load();
    std::vector<uint8_t> out;
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!dirty || n <= 0) return;
      dirty = false;
      out = wanted;
    }
    out.resize(static_cast<size_t>(n), 0);
    if (out == written) return;
    if (lib.writeDots(handle(), out.data()) < 0) {
      // The size may have changed under us: look again; a lost connection
      // shows up on the next read.
      refreshSize();
      return;
    }
    written = std::move(out);
  }

  void readKeys() {
    for (;;) {
      brlapi_keyCode_t code = 0;
      const int got = lib.readKey(handle(), 0, &code);
      if (got < 0) {
        disconnect();
        return;
      }
      if (got == 0) return;
      for (const BrailleDeviceEvent& e : brailleEventsForKeyCode(code)) sink(e.type, e.code);
      refreshSize();
      if (fd < 0) return;
    }
  }

  void markAttempted() {
    std::lock_guard<std::mutex> guard(lock);
    if (firstAttemptDone) return;
    firstAttemptDone = true;
    attempted.notify_all();
  }

  void waitWake(int ms) {
    pollfd p{wake.readFd(), POLLIN, 0};
    poll(&p, 1, ms);
    wake.drain();
  }

  void run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextSizeCheck = Clock::now();
    while (!stopping.load()) {
      if (fd < 0) {
        const bool ok = connect();
        markAttempted();
        if (!ok) {
          waitWake(kRetryMs);
          continue;
        }
        nextSizeCheck = Clock::now() + std::chrono::milliseconds(kRetryMs);
      }
      writeLatest();
      pollfd fds[2] = {{wake.readFd(), POLLIN, 0}, {fd, POLLIN, 0}};
      const int n = poll(fds, 2, kRetryMs);
      if (stopping.load()) break;
      if (n > 0 && (fds[0].revents & POLLIN)) wake.drain();
      if (n > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) readKeys();
      if (fd >= 0 && Clock::now() >= nextSizeCheck) {
        refreshSize();
        nextSizeCheck = Clock::now() + std::chrono::milliseconds(kRetryMs);
      }
    }
    disconnect();
  }
};

BrailleDevice::BrailleDevice(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<BrailleDevice> BrailleDevice::start(KeySink sink, std::vector<std::string> libraries) {
  if (libraries.empty()) libraries = {"libbrlapi.so.0.8", "libbrlapi.so"};
  auto impl = std::make_unique<Impl>();
  if (!loadLibrary(libraries, impl->lib)) return nullptr;
  impl->sink = std::move(sink);
  std::unique_ptr<BrailleDevice> device(new BrailleDevice(std::move(impl)));
  Impl* state = device->impl_.get();
  state->thread = std::thread([state] { state->run(); });
  return device;
}

BrailleDevice::~BrailleDevice() {
  impl_->stopping.store(true);
  impl_->wake.signal();
  if (impl_->thread.joinable()) impl_->thread.join();
}

bool BrailleDevice::waitForFirstAttempt(int ms) {
  std::unique_lock<std::mutex> guard(impl_->lock);
  impl_->attempted.wait_for(guard, std::chrono::milliseconds(ms), [&] { return impl_->firstAttemptDone; });
  return impl_->connected.load() && impl_->cells.load() > 0;
}

bool BrailleDevice::connected() const { return impl_->connected.load(); }
int BrailleDevice::cellCount() const { return impl_->cells.load(); }
int BrailleDevice::connections() const { return impl_->connections.load(); }

void BrailleDevice::show(std::vector<uint8_t> dots) {
  {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->wanted = std::move(dots);
    impl_->dirty = true;
  }
  // Without a connection the dots wait for the next one, which shows them.
  if (impl_->connected.load()) impl_->wake.signal();
}

}  // namespace platform
