// The built-in voice's readers take file names: the fuzz input is written to a
// file of this process's own first.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz {

inline std::string koralFile(const uint8_t* data, size_t size, const char* extension) {
  std::string path = "/tmp/ondaria-fuzz-" + std::to_string(::getpid()) + extension;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return path;
}

}  // namespace fuzz
