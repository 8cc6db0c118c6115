// The console window: an 80 x 25 grid of character cells with colour
// attributes, a cursor, and a 64-byte queue of key bytes.
//
// Every screen and every question of the program goes through here: text is
// written at the cursor, keys are read as bytes. Coordinates are 1-based
// (column 1…80, row 1…25). Text is Windows-1252.
//
// Key bytes: an ordinary key is one byte (Ctrl+letter 1…26, Enter 13, Esc 27,
// Backspace 8, Tab 9, Ctrl+Enter 10, Ctrl+Backspace 127); a function, cursor
// or Alt key is the byte 0 followed by a code byte (F1 59 … F10 68, F11 69,
// F12 70, Up 72, Down 80, Left 75, Right 77, Home 71, End 79, Page Up 73,
// Page Down 81, Insert 82, Delete 83; with Ctrl: F1 94 … F10 103, F11 104,
// F12 105, Up 113, Down 114, Left 115, Right 116, Home 119, End 117,
// Page Up 132, Page Down 118, Insert 255; Shift+Insert 254; Alt+letter the
// letter's PC scan code, Alt+1…9 120…128, Alt+0 129).
//
// The window is created by the first operation that needs it and shown by the
// front-end chosen through ONDARIA_FRONTEND (see platform/frontend.h). Every
// wait (readKey, keyPressed, delayMs, pumpWindowMessages) dispatches the
// front-end's events; this is the only place keys enter the program.
//
// Threads: everything here runs on the program's main thread, except
// `wakeConsole`, which any thread may call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/frontend.h"

namespace ondaria {

inline constexpr int kConsoleColumns = 80;
inline constexpr int kConsoleRows = 25;
// Capacity of the key queue in bytes.
inline constexpr int kKeyQueueSize = 64;

// Creates the window on the first call (reads the console settings of
// "Lumare.ini", opens the front-end); later calls do nothing.
void ensureConsole();

// Writes at the cursor. Bytes 32…255 fill a cell with textAttr and advance the
// cursor; the 80th character leaves the cursor just past the row (whereX()
// is then 81) and the next character wraps to the next row first. 13 returns
// to column 1, 10 goes to column 1 of the next row (scrolling on row 25),
// 8 moves one column left and blanks that cell (never across rows), 7 rings
// the bell (logged as a Beep). Other bytes below 32, tab included, are ignored.
void writeText(const char* bytes, size_t count);
void writeText(std::string_view text);
// writeText of the text followed by carriage return and line feed.
void writeLine(std::string_view text = {});

void clearScreen();        // blanks with textAttr, cursor to 1,1
void clearToEndOfLine();   // from the cursor to the end of its row
void gotoXY(int col, int row);  // clamped into the grid
int whereX();
int whereY();
// Stored character / attribute of a cell; outside the grid: blank / 0.
uint8_t charAt(int col, int row);
uint8_t attrAt(int col, int row);

// Colour index 0…15 (higher bits ignored); nothing happens while the colours
// are fixed by the setting "CORESFIXAS".
void setTextColor(int colour);
void setTextBackground(int colour);
uint8_t textAttr();
void setTextAttr(uint8_t attr);  // both at once; also ignored when fixed

// Pumps all pending events, then tells whether a key byte is queued.
bool keyPressed();
// Removes and returns the first key byte, waiting for one. When no key can
// ever come (script of the headless front-end used up, terminal closed) the
// program ends as a window close would.
uint8_t readKey();
// Appends a byte when fewer than 64 are queued (else drops it), then wakes a
// waiting readKey. Main thread only (mouse keys, braille display keys).
void pushKey(uint8_t byte);
// Number of key bytes queued.
int keyCount();
// The queued key byte at `index` (0: the one readKey returns next), left in
// the queue; 0 past the end. An extended key takes two bytes (0 and its code).
uint8_t peekKey(int index);

// Modifier keys held when the key byte last returned by readKey was made.
struct KeyModifiers {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
};
KeyModifiers lastKeyModifiers();

// Plain line input: reads keys until Enter, echoing printable bytes and
// honouring Backspace; stores at most capacity - 2 characters, then 13 and 10.
// Returns the length including those two (less when capacity < 2).
int readRawLine(char* buffer, int capacity);

// Sleeps ms milliseconds (0…65535) while dispatching events.
void delayMs(int ms);
// Dispatches pending events without waiting.
void pumpWindowMessages();
// Waits for the next event (at most maxMs) and dispatches what arrived; for
// loops that wait for something else to finish (speech, a sound) while keys
// keep arriving. wakeConsole ends the wait at once.
void waitForConsoleEvent(int maxMs = 100);
// Any thread: ends a wait in readKey/waitForConsoleEvent/delayMs early.
void wakeConsole();

// A looping square-wave tone of hz Hz (8-bit, 11025 samples per second)
// until stopTone; a new tone replaces the old one. hz outside 1…11025 only
// stops the current tone.
void playTone(int hz);
void stopTone();

// Trims blanks at both ends; more than 140 characters become the first 140
// followed by "...".
void setWindowTitle(std::string_view title);
std::string windowTitle();

// Clipboard text in Windows-1252 (converted to and from UTF-8 at the edge).
void copyToClipboard(std::string_view cp1252);
// At most capacity - 1 characters; empty when the clipboard holds no text,
// cannot be read, or capacity is 0.
std::string pasteFromClipboard(size_t capacity);

// Ends the program: the window is closed and the process exits with
// `exitStatus` through the exit handler (which tests replace).
[[noreturn]] void closeConsole(int exitStatus = 0);

// Today's date (weekday 0 = Sunday … 6 = Saturday) and the time of day
// (hundredths = milliseconds / 10), local time.
void getDate(int& year, int& month, int& day, int& weekday);
void getTime(int& hour, int& minute, int& second, int& hundredths);

// On (the default): Ctrl+Break ends the program and Alt combinations other
// than Alt+Left/Alt+Right (and those with Ctrl) are left to the system. The
// radio program turns it off after start-up and on again for its shutdown.
bool& breakEndsProgram();
void setBreakEndsProgram(bool on);
// The window's Close command. A close request ends the program only while it
// is enabled and breakEndsProgram is on.
void setCloseEnabled(bool enabled);
bool closeEnabled();

// ---------------------------------------------------------------------------
// Hooks for the subsystems above the console. Each does nothing until it is
// installed; install them before the console is created where the creation
// matters (braille start-up, keyboard mode). Pass nullptr to remove one.

// Braille display output: while brailleOutput is on, every row shown outside
// a repaint (and the cursor's row after gotoXY) is handed over, 80 bytes.
using RowShownHook = std::function<void(int row, std::string_view chars)>;
void setRowShownHook(RowShownHook hook);
void setBrailleOutput(bool on);
bool brailleOutput();
// Called once when the window is created (and at once if it already exists):
// the braille display driver's start-up, which may turn brailleOutput on.
void setConsoleCreatedHook(std::function<void()> hook);

// Braille display keys: a driver thread posts the parameters of a key message
// (postBrailleKeyMessage, any thread); while pumping, the installed handler
// turns them into a character and a code. Character non-zero: that byte is
// queued; character 0 and code non-zero: the pair 0, code; both 0: nothing.
struct BrailleKey {
  uint8_t character = 0;
  uint8_t code = 0;
};
using BrailleKeyHook = std::function<BrailleKey(uint32_t first, uint32_t second)>;
void setBrailleKeyHook(BrailleKeyHook hook);
void postBrailleKeyMessage(uint32_t first, uint32_t second);

// Six-key braille typing on the keyboard: while the keyboard mode is not 0,
// key-downs without Ctrl are offered to the hook first (true: the key was a
// chord key and is taken), and every key-up is offered to it.
using ChordKeyHook = std::function<bool(const platform::FrontendEvent& event)>;
void setChordKeyHook(ChordKeyHook hook);
// Mode 0…2 (higher values become 1); Ctrl+Alt+F11 sets mode + 1, Ctrl+Alt+F12
// sets 0 (also with Shift: a desktop keeps Ctrl+Alt+F11 and F12 for itself);
// these switches queue no key byte. The mode hook is told of every change
// (tones, chord state).
//
// Chords are made of key releases, which a terminal never reports: on a
// front-end without them a mode other than 0 is refused (the mode stays 0)
// and the refusal hook is called the next time the program waits for a key,
// so that the user hears why (a mode asked for by the settings is refused
// when the console is created and heard at the first question).
int brailleKeyboardMode();
void setBrailleKeyboardMode(int mode);
using BrailleModeHook = std::function<void(int oldMode, int newMode)>;
void setBrailleModeHook(BrailleModeHook hook);
void setBrailleModeRefusedHook(std::function<void()> hook);

// Mouse buttons, wheel and focus events (mouse keys); true when taken.
using MouseHook = std::function<bool(const platform::FrontendEvent& event)>;
void setMouseHook(MouseHook hook);

// Called after output or the cursor changed (the magnified strip follows it).
void setOutputChangedHook(std::function<void()> hook);
// Called on every pump of events (the wave output derives its "buffer done"
// notices here). `pending` tells whether the hook has work left that needs
// another call soon (buffers still playing): while it does, readKey wakes
// every 100 ms to call it; otherwise readKey sleeps until an event comes, so
// a program left waiting for a key costs no wake-ups at all. Without
// `pending` the hook counts as always having work.
void setIdleHook(std::function<void()> hook, std::function<bool()> pending = nullptr);
// Messages of the front-end for the user (the font was made smaller than the
// settings ask, the terminal is too small for the grid), cp1252. They are
// handed over while readKey waits with no key pending, never in the middle of
// other output, so that the hook may speak them.
void setNoticeHook(std::function<void(const std::string&)> hook);
// Hands the messages the front-end holds to the notice hook now (the program
// calls it once start-up has spoken, so that a message from the window's
// creation is heard even when the user is quick to type); true when there
// was one.
bool deliverNotices();

// ---------------------------------------------------------------------------
// For tests and tools.

// Closes the window without ending the process and forgets all state and
// hooks; the next operation creates the console again.
void resetConsole();
// Uses this front-end (already constructed, not opened) for the next
// creation instead of the one ONDARIA_FRONTEND chooses.
void setConsoleFrontend(std::unique_ptr<platform::Frontend> frontend);
// The open front-end (null before creation).
platform::Frontend* consoleFrontend();
// How the process ends after closeConsole (default: std::exit with the status
// given to closeConsole). A handler that returns is followed by that exit;
// tests throw from it instead.
void setConsoleExitHandler(std::function<void()> handler);
// The colour map in use (index -> palette entry).
const platform::CellGrid& consoleGrid();

}  // namespace ondaria
