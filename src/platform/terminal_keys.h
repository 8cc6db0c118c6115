// Turns the bytes a terminal sends for the keyboard into front-end events.
//
// Also the terminal's mouse reports (SGR "\e[<b;x;yM", and the older X10
// form "\e[M" with three bytes) as mouse buttons and wheel steps, and its
// focus reports ("\e[I", "\e[O").
//
// Understood: xterm/tmux sequences (CSI "\e[…~", "\e[1;5A", SS3 "\eOP"), the
// Linux console's "\e[[A" function keys, Alt as an ESC prefix ("\ea",
// "\e\e[A"), control bytes (Enter 0x0D, Backspace 0x7F, Ctrl+Backspace 0x08,
// Tab, Ctrl+letter) and UTF-8 text. Ctrl+C (0x03) becomes Ctrl+Break, since
// the terminal is raw and the break key does not reach it otherwise. Bytes that
// are not valid UTF-8 are taken as Windows-1252 characters.
//
// Bracketed paste: text between "\e[200~" and "\e[201~" is one Paste event
// (at most kPasteLimit bytes are kept), never keys, so that a pasted line end
// does not act as Enter and a long paste is not cut by the key queue.
//
// Several keys may arrive in one read, and one key may be split over reads.
// A lone ESC cannot be told from the start of a sequence until no more bytes
// follow for a moment: while `hasPending` is true the caller waits about
// kEscapeWaitMs for more bytes and calls `timeout` if none come.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "platform/frontend.h"

namespace platform {

class TerminalKeyParser {
 public:
  // Long enough for a sequence split by a slow link or tmux, short enough
  // that ESC feels immediate.
  static constexpr int kEscapeWaitMs = 30;
  // The most of one paste that is kept (far beyond any field).
  static constexpr size_t kPasteLimit = 64 * 1024;
  // A paste whose end marker has not come after this many waits of
  // kEscapeWaitMs without a byte (about a second) is taken as it stands.
  static constexpr int kPasteIdleWaits = 33;

  void feed(std::string_view bytes);
  // Takes the next complete event; false when there is none.
  bool next(FrontendEvent& event);
  // Bytes are held that may begin a longer sequence, or a paste is open.
  bool hasPending() const { return !buffer_.empty() || pasting_; }
  // No more bytes came: what is held is taken as it stands (a lone ESC is the
  // Escape key, an unfinished UTF-8 character is taken byte by byte).
  void timeout();

 private:
  // Parses one key at buffer_[pos]; returns bytes consumed, 0 when more bytes
  // are needed (never 0 when `forced`). Appends at most one event to out.
  size_t parseOne(size_t pos, bool forced, std::deque<FrontendEvent>& out);
  size_t parseCsi(size_t pos, bool forced, std::deque<FrontendEvent>& out);
  size_t parseSs3(size_t pos, bool forced, std::deque<FrontendEvent>& out);
  void parseAvailable(bool forced);
  // Takes paste text from buffer_[pos]; returns bytes consumed.
  size_t takePaste(size_t pos, bool forced);
  void endPaste();
  // The event of a mouse report's button code; nothing for motion and releases.
  static std::optional<FrontendEvent> mouseEvent(int button, bool press);

  std::string buffer_;
  std::deque<FrontendEvent> events_;
  bool pasting_ = false;
  std::string paste_;
  int pasteIdle_ = 0;
};

}  // namespace platform
