// Common set-up of the network tests: a private settings folder (so
// "TIMEOUT_REDE" can be set per test), a private temporary folder, a headless
// console (whose key queue shows whether waits served the window) and the
// sockets layer started.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "net/http_download.h"
#include "net/sockets.h"
#include "net/tls.h"
#include "support/headless_console.h"
#include "support/local_server.h"

namespace ondaria::test {

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    oldTmp_ = tmp ? std::optional<std::string>(tmp) : std::nullopt;
    root_ = makeTempFolder("ondnet");
    ASSERT_FALSE(root_.empty());
    std::filesystem::create_directories(root_ + "/config/lumare");
    std::filesystem::create_directories(root_ + "/system");
    std::filesystem::create_directories(root_ + "/tmp");
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("LUMARE_SYSTEM_DIR", (root_ + "/system").c_str(), 1);
    setenv("TMPDIR", tmpDir().c_str(), 1);
    setReadWait("");
    screen_ = &useHeadlessConsole();
    ASSERT_TRUE(netStartup());
  }

  void TearDown() override {
    netCleanup();
    resetConsole();
    removeTree(root_);
    if (oldTmp_) {
      setenv("TMPDIR", oldTmp_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

  // Writes LUMARE/TIMEOUT_REDE (nullopt: the key is absent).
  void setReadWait(const std::optional<std::string>& value) {
    std::ofstream out(root_ + "/config/lumare/Lumare.ini", std::ios::binary | std::ios::trunc);
    out << "[LUMARE]\r\n";
    if (value) out << "TIMEOUT_REDE=" << *value << "\r\n";
    ++writes_;
    out << "; revision " << writes_ << "\r\n";  // a new size, so the change is seen
  }

  std::string tmpDir() const { return root_ + "/tmp"; }
  std::string path(const std::string& name) const { return root_ + "/" + name; }

  // A key typed now reaches the console's queue only when the window is served.
  void typeKey() { screen_->pressKey(platform::KeyId::A); }
  // The console text, all rows.
  std::string screenText() const {
    std::string all;
    for (int row = 1; row <= kConsoleRows; ++row) {
      for (int col = 1; col <= kConsoleColumns; ++col) all.push_back(static_cast<char>(charAt(col, row)));
      all.push_back('\n');
    }
    return all;
  }

  platform::HeadlessFrontend* screen_ = nullptr;

 private:
  std::string root_;
  std::optional<std::string> oldTmp_;
  int writes_ = 0;
};

inline std::string readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::size_t countFiles(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

// A body whose bytes depend on their position, so a lost or repeated block shows.
inline std::string patternBody(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
  return body;
}

inline std::string answer200(const std::string& body, bool withLength = true) {
  std::string head = "HTTP/1.0 200 OK\r\nContent-Type: audio/x-scpls\r\n";
  if (withLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "\r\n" + body;
}

}  // namespace ondaria::test
