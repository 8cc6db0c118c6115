// Helpers shared by the fuzz programs: taking an input apart into the pieces
// a reader gets, and failing loudly when a property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

// Reads an input front to back.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(reinterpret_cast<const char*>(data)), size_(size) {}

  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return empty() ? 0 : static_cast<uint8_t>(data_[pos_++]); }
  // A piece of up to `max` bytes, its length taken from the next byte.
  std::string_view piece(size_t max = 255) {
    const size_t want = byte() % (max + 1);
    const size_t n = want < size_ - pos_ ? want : size_ - pos_;
    std::string_view out(data_ + pos_, n);
    pos_ += n;
    return out;
  }
  // Everything not yet read.
  std::string_view rest() {
    std::string_view out(data_ + pos_, size_ - pos_);
    pos_ = size_;
    return out;
  }
  // The input up to the first `separator` (or all of it), and the rest after it.
  static void split(std::string_view all, char separator, std::string_view& first,
                    std::string_view& second) {
    const size_t at = all.find(separator);
    first = all.substr(0, at);
    second = at == std::string_view::npos ? std::string_view() : all.substr(at + 1);
  }

 private:
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A property that must hold; a failure ends the run as a crash would, so the
// input is kept as a finding.
#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

}  // namespace fuzz
