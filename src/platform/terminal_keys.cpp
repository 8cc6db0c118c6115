#include "platform/terminal_keys.h"

#include <algorithm>
#include <vector>

#include "platform/codepage.h"

namespace platform {

namespace {

constexpr char kEsc = '\x1B';

// xterm modifier parameter: 1 + (shift 1, alt 2, ctrl 4, meta 8).
uint8_t modifiersFromParam(int param) {
  if (param < 2) return 0;
  const int bits = param - 1;
  uint8_t mods = 0;
  if (bits & 1) mods |= kModShift;
  if (bits & (2 | 8)) mods |= kModAlt;
  if (bits & 4) mods |= kModCtrl;
  return mods;
}

KeyId tildeKey(int code) {
  switch (code) {
    case 1: case 7: return KeyId::Home;
    case 2: return KeyId::Insert;
    case 3: return KeyId::Delete;
    case 4: case 8: return KeyId::End;
    case 5: return KeyId::PageUp;
    case 6: return KeyId::PageDown;
    case 11: return KeyId::F1;
    case 12: return KeyId::F2;
    case 13: return KeyId::F3;
    case 14: return KeyId::F4;
    case 15: return KeyId::F5;
    case 17: return KeyId::F6;
    case 18: return KeyId::F7;
    case 19: return KeyId::F8;
    case 20: return KeyId::F9;
    case 21: return KeyId::F10;
    case 23: return KeyId::F11;
    case 24: return KeyId::F12;
    default: return KeyId::Unknown;
  }
}

// Final letter of "\e[…X" and "\eOX".
KeyId letterKey(char final) {
  switch (final) {
    case 'A': return KeyId::Up;
    case 'B': return KeyId::Down;
    case 'C': return KeyId::Right;
    case 'D': return KeyId::Left;
    case 'H': return KeyId::Home;
    case 'F': return KeyId::End;
    case 'P': return KeyId::F1;
    case 'Q': return KeyId::F2;
    case 'R': return KeyId::F3;
    case 'S': return KeyId::F4;
    case 'M': return KeyId::Enter;  // keypad Enter in application mode
    default: return KeyId::Unknown;
  }
}

// The key of a single control byte (below 32, or 127).
bool controlKey(uint8_t b, KeyId& key, uint8_t& mods) {
  mods = 0;
  switch (b) {
    case 0x0D: key = KeyId::Enter; return true;
    case 0x09: key = KeyId::Tab; return true;
    case 0x7F: key = KeyId::Backspace; return true;
    // xterm and tmux send 0x7F for Backspace and 0x08 for Ctrl+Backspace.
    case 0x08: key = KeyId::Backspace; mods = kModCtrl; return true;
    case 0x03: key = KeyId::Pause; mods = kModCtrl; return true;
    case 0x00: key = KeyId::Space; mods = kModCtrl; return true;
    case 0x1B: key = KeyId::Escape; return true;
    default: break;
  }
  if (b >= 1 && b <= 26) {
    key = keyLetter(static_cast<char>('A' + b - 1));
    mods = kModCtrl;
    return true;
  }
  if (b == 0x1C) {  // Ctrl+\ (also Ctrl+4 on many terminals)
    key = KeyId::Backslash;
    mods = kModCtrl;
    return true;
  }
  if (b < 32) {  // Ctrl+] ^ _
    key = KeyId::Other;
    mods = kModCtrl;
    return true;
  }
  return false;
}

// Length of the UTF-8 sequence a lead byte announces (1 for anything else).
size_t utf8Length(uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

}  // namespace

std::optional<FrontendEvent> TerminalKeyParser::mouseEvent(int button, bool press) {
  // Motion (32) and releases say nothing; the wheel (64) reports each step
  // as a press of button 4 (away from the user) or 5 (towards the user).
  if (!press || button < 0 || (button & 32)) return std::nullopt;
  FrontendEvent e;
  if (button & 64) {
    if ((button & 3) > 1) return std::nullopt;  // sideways wheel
    e.type = EventType::MouseWheel;
    e.wheel = (button & 3) == 0 ? 1 : -1;
    return e;
  }
  e.type = EventType::MouseButton;
  switch (button & 3) {
    case 0: e.button = MouseButton::Left; break;
    case 1: e.button = MouseButton::Middle; break;
    case 2: e.button = MouseButton::Right; break;
    default: return std::nullopt;  // X10 release
  }
  return e;
}

void TerminalKeyParser::feed(std::string_view bytes) {
  buffer_.append(bytes);
  if (!bytes.empty()) pasteIdle_ = 0;
  parseAvailable(false);
}

bool TerminalKeyParser::next(FrontendEvent& event) {
  if (events_.empty()) return false;
  event = std::move(events_.front());
  events_.pop_front();
  return true;
}

void TerminalKeyParser::timeout() {
  if (pasting_) {
    // A paste waits for its end marker as long as bytes keep coming.
    if (++pasteIdle_ < kPasteIdleWaits) return;
    buffer_.erase(0, takePaste(0, true));
    return;
  }
  parseAvailable(true);
}

namespace {
constexpr std::string_view kPasteEnd = "\x1B[201~";
}  // namespace

void TerminalKeyParser::endPaste() {
  FrontendEvent e;
  e.type = EventType::Paste;
  // Bytes that are not UTF-8 are taken as Windows-1252, as typed text is.
  if (isValidUtf8(paste_)) {
    e.text = std::move(paste_);
  } else {
    for (unsigned char c : paste_) appendUtf8(e.text, cp1252ToCodePoint(c));
  }
  paste_.clear();
  pasting_ = false;
  pasteIdle_ = 0;
  events_.push_back(std::move(e));
}

size_t TerminalKeyParser::takePaste(size_t pos, bool forced) {
  const std::string_view rest = std::string_view(buffer_).substr(pos);
  const size_t end = rest.find(kPasteEnd);
  size_t text = end == std::string_view::npos ? rest.size() : end;
  // Bytes that may be the start of the end marker wait for the next read.
  if (end == std::string_view::npos && !forced) {
    for (size_t k = std::min(rest.size(), kPasteEnd.size() - 1); k > 0; --k) {
      if (rest.substr(rest.size() - k) == kPasteEnd.substr(0, k)) {
        text = rest.size() - k;
        break;
      }
    }
  }
  if (paste_.size() < kPasteLimit) paste_.append(rest.substr(0, std::min(text, kPasteLimit - paste_.size())));
  if (end != std::string_view::npos) {
    endPaste();
    return end + kPasteEnd.size();
  }
  if (forced) {
    endPaste();
    return rest.size();
  }
  return text;
}

void TerminalKeyParser::parseAvailable(bool forced) {
  size_t pos = 0;
  while (pos < buffer_.size()) {
    if (pasting_) {
      const size_t used = takePaste(pos, false);
      pos += used;
      if (pasting_) break;  // the rest of the paste is still to come
      continue;
    }
    const size_t used = parseOne(pos, forced, events_);
    if (used == 0) break;
    pos += used;
  }
  buffer_.erase(0, pos);
}

size_t TerminalKeyParser::parseOne(size_t pos, bool forced, std::deque<FrontendEvent>& out) {
  const size_t avail = buffer_.size() - pos;
  const uint8_t b = static_cast<uint8_t>(buffer_[pos]);

  if (b == static_cast<uint8_t>(kEsc)) {
    if (avail == 1) {
      if (!forced) return 0;
      out.push_back(keyDownEvent(KeyId::Escape));
      return 1;
    }
    const char second = buffer_[pos + 1];
    if (second == '[') return parseCsi(pos, forced, out);
    if (second == 'O') return parseSs3(pos, forced, out);
    // ESC as an Alt prefix for the key that follows it.
    std::deque<FrontendEvent> inner;
    size_t used;
    if (second == kEsc) {
      // "\e\e" then a sequence: Alt with that key. Two ESC on their own (after
      // the wait) are two Escape presses.
      if (avail == 2 && !forced) return 0;
      if (avail == 2) {
        out.push_back(keyDownEvent(KeyId::Escape));
        return 1;
      }
      used = parseOne(pos + 1, forced, inner);
      if (used == 0) return 0;
    } else {
      used = parseOne(pos + 1, forced, inner);
      if (used == 0) return 0;
    }
    if (inner.empty()) return 1 + used;
    FrontendEvent e = std::move(inner.front());
    if (e.type == EventType::Text) {
      // Alt with a character: a letter or digit key, or some other key.
      const std::string cp = utf8ToCp1252(e.text, 0);
      const char c = cp.empty() ? 0 : cp[0];
      KeyId key = KeyId::Other;
      uint8_t mods = kModAlt;
      if (c >= 'a' && c <= 'z') {
        key = keyLetter(static_cast<char>(c - 'a' + 'A'));
      } else if (c >= 'A' && c <= 'Z') {
        key = keyLetter(c);
        mods |= kModShift;
      } else if (c >= '0' && c <= '9') {
        key = keyDigit(c - '0');
      } else if (c == ' ') {
        key = KeyId::Space;
      }
      e = keyDownEvent(key, mods);
    } else {
      e.mods |= kModAlt;
    }
    out.push_back(std::move(e));
    return 1 + used;
  }

  KeyId key;
  uint8_t mods;
  if (controlKey(b, key, mods)) {
    out.push_back(keyDownEvent(key, mods));
    return 1;
  }

  // Text: one UTF-8 character, or one byte taken as Windows-1252.
  const size_t want = utf8Length(b);
  if (want > 1) {
    size_t have = 1;
    while (have < want && have < avail &&
           (static_cast<uint8_t>(buffer_[pos + have]) & 0xC0) == 0x80)
      ++have;
    if (have < want && have == avail && !forced) return 0;  // rest still to come
    if (have == want) {
      std::string_view seq(buffer_.data() + pos, want);
      size_t p = 0;
      char32_t cp;
      if (decodeUtf8(seq, p, cp)) {
        out.push_back(textEvent(seq));
        return want;
      }
    }
  }
  std::string utf8;
  appendUtf8(utf8, cp1252ToCodePoint(b));
  out.push_back(textEvent(utf8));
  return 1;
}

size_t TerminalKeyParser::parseCsi(size_t pos, bool forced, std::deque<FrontendEvent>& out) {
  const size_t avail = buffer_.size() - pos;
  // Linux console function keys: "\e[[A" … "\e[[E" for F1 … F5.
  if (avail >= 3 && buffer_[pos + 2] == '[') {
    if (avail < 4) {
      if (!forced) return 0;
      return 3;  // broken sequence: dropped
    }
    const char f = buffer_[pos + 3];
    if (f >= 'A' && f <= 'E') out.push_back(keyDownEvent(keyFunction(f - 'A' + 1)));
    return 4;
  }
  // Mouse reports of the X10 form, "\e[M" and three bytes (button, column,
  // row, each + 32), from terminals that cannot send the SGR form we ask for.
  if (avail >= 3 && buffer_[pos + 2] == 'M') {
    // Each of the three bytes is at least 32; anything else after "\e[M"
    // is no report, and the bare "\e[M" is dropped.
    for (size_t k = 3; k < 6 && k < avail; ++k)
      if (static_cast<uint8_t>(buffer_[pos + k]) < 32) return 3;
    if (avail < 6) {
      if (!forced) return 0;
      return avail;  // broken report: dropped, never typed
    }
    const int cb = static_cast<uint8_t>(buffer_[pos + 3]) - 32;
    if (const auto e = mouseEvent(cb, true)) out.push_back(*e);
    return 6;
  }
  size_t i = pos + 2;
  std::vector<int> params;
  int current = -1;
  const bool sgrMouse = avail >= 3 && buffer_[pos + 2] == '<';
  while (i < buffer_.size()) {
    const uint8_t c = static_cast<uint8_t>(buffer_[i]);
    if (c >= '0' && c <= '9') {
      current = (current < 0 ? 0 : current) * 10 + (c - '0');
      if (current > 9999) current = 9999;  // keeps a hostile run of digits harmless
    } else if (c == ';' || c == ':') {
      params.push_back(current < 0 ? 0 : current);
      current = -1;
    } else if (c >= 0x3C && c <= 0x3F) {
      // private-parameter markers ("<", "=", ">", "?"): part of reports we ignore
    } else if (c >= 0x20 && c <= 0x2F) {
      // intermediate bytes
    } else if (c >= 0x40 && c <= 0x7E) {
      params.push_back(current < 0 ? 0 : current);
      const char final = static_cast<char>(c);
      const int p1 = params.empty() ? 0 : params[0];
      if (sgrMouse) {
        // "\e[<b;x;yM" a press (or wheel step), "...m" a release.
        if ((final == 'M' || final == 'm') && params.size() == 3)
          if (const auto e = mouseEvent(p1, final == 'M')) out.push_back(*e);
        return i - pos + 1;
      }
      if ((final == 'I' || final == 'O') && params.size() == 1 && current < 0) {
        // Focus reports: "\e[I" in, "\e[O" out.
        FrontendEvent e;
        e.type = final == 'I' ? EventType::FocusGained : EventType::FocusLost;
        out.push_back(e);
        return i - pos + 1;
      }
      const uint8_t mods = params.size() >= 2 ? modifiersFromParam(params[1]) : 0;
      KeyId key = KeyId::Unknown;
      uint8_t extra = 0;
      if (final == '~' && p1 == 200) {
        pasting_ = true;  // bracketed paste: the text follows
        paste_.clear();
        pasteIdle_ = 0;
        return i - pos + 1;
      }
      if (final == '~') {
        key = tildeKey(p1);
      } else if (final == 'Z') {
        key = KeyId::Tab;
        extra = kModShift;
      } else {
        key = letterKey(final);
        if (key == KeyId::Enter) key = KeyId::Unknown;  // "\e[M" is a mouse report
      }
      if (key != KeyId::Unknown) out.push_back(keyDownEvent(key, mods | extra));
      return i - pos + 1;
    } else {
      // Not a control sequence after all: drop "\e[" and what was read of it,
      // and let the offending byte be parsed on its own.
      return i - pos;
    }
    ++i;
  }
  if (!forced) return 0;
  // Timed out in the middle: the sequence is lost; take the bytes as typed
  // would be worse (they would show "[1;" in a field).
  return buffer_.size() - pos;
}

size_t TerminalKeyParser::parseSs3(size_t pos, bool forced, std::deque<FrontendEvent>& out) {
  size_t i = pos + 2;
  int modParam = 0;
  while (i < buffer_.size() && buffer_[i] >= '0' && buffer_[i] <= '9') {
    modParam = modParam * 10 + (buffer_[i] - '0');
    if (modParam > 99) modParam = 99;
    ++i;
  }
  if (i >= buffer_.size()) {
    if (!forced) return 0;
    // "\eO" on its own: Alt+O typed.
    if (i == pos + 2) {
      out.push_back(keyDownEvent(KeyId::O, kModAlt | kModShift));
      return 2;
    }
    return buffer_.size() - pos;
  }
  const KeyId key = letterKey(buffer_[i]);
  if (key != KeyId::Unknown) out.push_back(keyDownEvent(key, modifiersFromParam(modParam)));
  return i - pos + 1;
}

}  // namespace platform
