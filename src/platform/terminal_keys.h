// Turns the bytes a terminal sends for the keyboard into front-end events.
//
// Understood: xterm/tmux sequences (CSI "\e[…~", "\e[1;5A", SS3 "\eOP"), the
// Linux console's "\e[[A" function keys, Alt as an ESC prefix ("\ea",
// "\e\e[A"), control bytes (Enter 0x0D, Backspace 0x7F, Ctrl+Backspace 0x08,
// Tab, Ctrl+letter) and UTF-8 text. Ctrl+C (0x03) becomes Ctrl+Break, since
// the terminal is raw and the break key does not reach it otherwise. Bytes that
// are not valid UTF-8 are taken as Windows-1252 characters.
//
// Several keys may arrive in one read, and one key may be split over reads.
// A lone ESC cannot be told from the start of a sequence until no more bytes
// follow for a moment: while `hasPending` is true the caller waits about
// kEscapeWaitMs for more bytes and calls `timeout` if none come.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "platform/frontend.h"

namespace platform {

class TerminalKeyParser {
 public:
  // Long enough for a sequence split by a slow link or tmux, short enough
  // that ESC feels immediate.
  static constexpr int kEscapeWaitMs = 30;

  void feed(std::string_view bytes);
  // Takes the next complete event; false when there is none.
  bool next(FrontendEvent& event);
  // Bytes are held that may begin a longer sequence.
  bool hasPending() const { return !buffer_.empty(); }
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

  std::string buffer_;
  std::deque<FrontendEvent> events_;
};

}  // namespace platform
