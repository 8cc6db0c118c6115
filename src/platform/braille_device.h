// The refreshable braille display, through brltty's client library BrlAPI.
//
// The library (libbrlapi) is loaded at run time with dlopen, so the program
// runs and builds its package without it; without the library, or without a
// brltty to talk to, nothing here is active and nothing is said.
//
// This stands in for the display maker's library that the console's braille
// driver was written against: it shows dot patterns from cell 0 and reports
// the display's keys as that library's key events (event type and code, see
// below), so the driver above keeps one mapping from events to keys.
//
// A thread of its own owns the BrlAPI connection: it connects (the server
// named by BRLAPI_HOST, default the local brltty, with the key of BRLAPI_AUTH
// or brltty's key file), takes the display with enterTtyMode, asks for dot
// combinations rather than characters (retain dots), writes the latest cells,
// reads keys, and when brltty stops or restarts, closes the connection and
// tries again every second, showing the latest cells as soon as it is back.
//
// Display size: the cells are columns x rows as BrlAPI reports them. A
// display of 0 cells (brltty without a display yet) is not taken and shows
// nothing until a size arrives; the size is asked again every second and
// after every key, and a new size is met with a fresh connection (brltty
// keeps a client's buffers at the size the display had when it was taken).
// A size above kMaxBrailleCells is taken as no display.
//
// Key events delivered to the sink (on the display's thread):
//   type 1 (kBrailleKeyEvent), codes above 255: key bits pressed, code >> 8 =
//       dots 1-8 in bits 0-7, Home bit 8, End bit 9, the space bar bit 15;
//   type 1, code 3: all keys released (the chord ends);
//   type 3 (kBrailleNavigationEvent), code 16 / 32: line up / line down;
//   type 100 (kBrailleCharacterEvent): a character already made by brltty
//       (code = the Windows-1252 byte);
//   type 101 (kBrailleExtendedKeyEvent): a PC key with no event of its own
//       (code = the console's extended key code).
// BrlAPI key codes, and what they become:
//   command PASSDOTS with dot bits and the space flag (BRLAPI_DOTC)
//       -> type 1 with those bits (no dots and no flag: the space bar), then 3
//   command LNUP / LNDN -> type 3, 16 / 32 (the up and down arrows)
//   command TOP, TOP_LEFT / BOT, BOT_LEFT -> type 1 with Home / End, then 3
//   keysym BackSpace / Return / Escape -> type 1 with dot 7 / dot 8 /
//       dots 7 and 8 (backspace, Enter, Esc), then 3
//   keysym Up / Down -> type 3, 16 / 32; Home / End -> type 1 Home / End
//   keysym Left, Right, Page Up, Page Down, Insert, Delete, F1-F12
//       -> type 101 with 75, 77, 73, 81, 82, 83, 59-68, 69, 70
//   keysym Tab -> type 100 with 9
//   a character keysym (Latin-1 or Unicode) that Windows-1252 has
//       -> type 100 with that byte; with the Control flag, a letter gives its
//       control character (Ctrl+H 8)
//   anything else (routing keys, brltty's own commands) -> nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

inline constexpr uint32_t kBrailleKeyEvent = 1;
inline constexpr uint32_t kBrailleNavigationEvent = 3;
inline constexpr uint32_t kBrailleCharacterEvent = 100;
inline constexpr uint32_t kBrailleExtendedKeyEvent = 101;
// Code of kBrailleKeyEvent that ends a chord.
inline constexpr uint32_t kBrailleChordEnd = 3;
// Codes of kBrailleNavigationEvent.
inline constexpr uint32_t kBrailleLineUp = 16;
inline constexpr uint32_t kBrailleLineDown = 32;
// Key bits (code >> 8 of kBrailleKeyEvent).
inline constexpr uint32_t kBrailleDot7 = 64;
inline constexpr uint32_t kBrailleDot8 = 128;
inline constexpr uint32_t kBrailleHomeKey = 256;
inline constexpr uint32_t kBrailleEndKey = 512;
inline constexpr uint32_t kBrailleSpaceKey = 32768;

// Larger displays than this are taken as a wrong answer (no display).
inline constexpr int kMaxBrailleCells = 4096;

struct BrailleDeviceEvent {
  uint32_t type = 0;
  uint32_t code = 0;
  bool operator==(const BrailleDeviceEvent&) const = default;
};

// The events a BrlAPI key code stands for (see the table above); empty for
// codes that mean nothing to the program.
std::vector<BrailleDeviceEvent> brailleEventsForKeyCode(uint64_t code);

// Cells of a display of columns x rows; 0 when there is none or the answer
// cannot be right.
int brailleCellsForSize(unsigned columns, unsigned rows);

class BrailleDevice {
 public:
  using KeySink = std::function<void(uint32_t type, uint32_t code)>;

  // Loads the library and starts the display's thread, which begins to
  // connect at once. Null when the library cannot be loaded. `libraries` are
  // the names tried with dlopen, in order (empty: libbrlapi's own names).
  static std::unique_ptr<BrailleDevice> start(KeySink sink, std::vector<std::string> libraries = {});
  ~BrailleDevice();  // stops the thread and closes the connection

  // Waits until the first attempt to connect has ended (at most ms) and
  // tells whether a display with cells is there.
  bool waitForFirstAttempt(int ms);
  bool connected() const;
  // Cells of the connected display; 0 while there is none.
  int cellCount() const;
  // Number of connections made so far (a reconnection counts again).
  int connections() const;

  // Shows these dot patterns from cell 0, cut to the display or padded with
  // blank cells. Any thread; only the latest call is shown when several come
  // faster than the display takes them.
  void show(std::vector<uint8_t> dots);

  BrailleDevice(const BrailleDevice&) = delete;
  BrailleDevice& operator=(const BrailleDevice&) = delete;

 private:
  struct Impl;
  explicit BrailleDevice(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
