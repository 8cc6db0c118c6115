#include "support/braille_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

namespace ondaria::test {

namespace {

using Clock = std::chrono::steady_clock;

// BrlAPI's TCP ports: 4101 + the number after the colon of its host.
constexpr int kBrlapiBasePort = 4101;
// From a driver's connection to the display's size (see the header).
constexpr auto kAnnounceDelay = std::chrono::seconds(1);

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= end) return false;
    usleep(20000);
  }
  return true;
}

}  // namespace

bool brlttyAvailable() {
  for (const char* dir : {"/usr/bin", "/bin", "/usr/sbin", "/sbin"})
    if (access((std::string(dir) + "/brltty").c_str(), X_OK) == 0) return true;
  return false;
}

FakeBrailleDisplay::Cells parseBrailleLine(const std::string& line) {
  FakeBrailleDisplay::Cells cells;
  const size_t open = line.find('"');
  const size_t close = line.rfind('"');
  if (line.compare(0, 7, "Braille") != 0 || open == std::string::npos || close <= open) return cells;
  uint8_t current = 0;
  for (size_t i = open + 1; i < close; ++i) {
    const char c = line[i];
    if (c == '|') {
      cells.push_back(current);
      current = 0;
    } else if (c >= '1' && c <= '8') {
      current = static_cast<uint8_t>(current | (1u << (c - '1')));
    }
  }
  cells.push_back(current);
  return cells;
}

FakeBrailleDisplay::FakeBrailleDisplay(int cells) : cells_(cells) {
  listenFd_ = listenOnLoopback(4, port_);
  thread_ = std::thread([this] { serve(); });
}

FakeBrailleDisplay::~FakeBrailleDisplay() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  if (listenFd_ >= 0) shutdown(listenFd_, SHUT_RDWR);
  thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
}

void FakeBrailleDisplay::serve() {
  std::string pending;
  Clock::time_point connectedAt{};
  for (;;) {
    int client;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stopping_) break;
      client = clientFd_;
      if (client >= 0 && !announced_ && cells_ > 0 && Clock::now() - connectedAt >= kAnnounceDelay) {
        announced_ = true;
        const std::string line = "cells " + std::to_string(cells_) + "\n";
        (void)!::write(client, line.data(), line.size());
      }
    }
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {client, POLLIN, 0}};
    if (poll(fds, 2, 50) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        std::lock_guard<std::mutex> guard(lock_);
        if (clientFd_ >= 0) close(clientFd_);
        clientFd_ = fd;
        ++connections_;
        pending.clear();
        connectedAt = Clock::now();
        announced_ = false;
        changed_.notify_all();
      }
    }
    if (client >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buffer[4096];
      const ssize_t n = read(client, buffer, sizeof buffer);
      std::lock_guard<std::mutex> guard(lock_);
      if (n <= 0) {
        if (clientFd_ == client) {
          close(clientFd_);
          clientFd_ = -1;
        }
        changed_.notify_all();
        continue;
      }
      pending.append(buffer, static_cast<size_t>(n));
      size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 7, "Braille") == 0) rows_.push_back(parseBrailleLine(line));
      }
      changed_.notify_all();
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (clientFd_ >= 0) close(clientFd_);
  clientFd_ = -1;
}

bool FakeBrailleDisplay::waitConnected(int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return clientFd_ >= 0; });
}

int FakeBrailleDisplay::connections() {
  std::lock_guard<std::mutex> guard(lock_);
  return connections_;
}

bool FakeBrailleDisplay::send(const std::string& line) {
  Clock::time_point due;
  {
    std::lock_guard<std::mutex> guard(lock_);
    due = lastSend_ + std::chrono::milliseconds(kKeyIntervalMs);
  }
  // Outside the lock: rows shown meanwhile are still recorded.
  std::this_thread::sleep_until(due);
  std::lock_guard<std::mutex> guard(lock_);
  lastSend_ = Clock::now();
  if (clientFd_ < 0) return false;
  const std::string out = line + "\n";
  return ::write(clientFd_, out.data(), out.size()) == static_cast<ssize_t>(out.size());
}

bool FakeBrailleDisplay::waitForCells(const std::function<bool(const Cells&)>& match, int timeoutMs,
                                      Cells* shown, size_t from) {
  std::unique_lock<std::mutex> guard(lock_);
  size_t seen = from;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    for (; seen < rows_.size(); ++seen) {
      if (match(rows_[seen])) {
        if (shown) *shown = rows_[seen];
        return true;
      }
    }
    if (changed_.wait_until(guard, end) == std::cv_status::timeout && seen == rows_.size()) return false;
  }
}

std::vector<FakeBrailleDisplay::Cells> FakeBrailleDisplay::rows() {
  std::lock_guard<std::mutex> guard(lock_);
  return rows_;
}

BrlttyPeer::BrlttyPeer() {
  char pattern[] = "/tmp/ondaria-brltty-XXXXXX";
  if (mkdtemp(pattern)) folder_ = pattern;
  logFile_ = folder_ + "/brltty.log";
}

bool BrlttyPeer::start(int displayPort) {
  if (folder_.empty() || !brlttyAvailable()) return false;
  // A free TCP port above BrlAPI's base gives the API's number.
  for (int attempt = 0; attempt < 20 && apiNumber_ <= 0; ++attempt) {
    const int port = freePort();
    if (port > kBrlapiBasePort + 1) apiNumber_ = port - kBrlapiBasePort;
  }
  if (apiNumber_ <= 0) return false;
  apiHost_ = "127.0.0.1:" + std::to_string(apiNumber_);
  const std::vector<std::string> argv = {
      "brltty",
      "-n",                         // stay in the foreground
      "-e",                         // log to standard error (the log file)
      "-f", "/dev/null",            // no configuration file of the machine's
      "-F", folder_ + "/prefs",     // preferences of its own
      "-W", folder_,                // writable directory
      "-P", folder_ + "/brltty.pid",
      "-M", "10",                   // messages held 100 ms
      "-x", "no",                   // no screen to read
      "-s", "no",                   // no speech
      "-b", "vr",                   // the virtual driver...
      "-d", "client:127.0.0.1:" + std::to_string(displayPort),  // ...as the fake display's client
      "-A", "auth=none,host=" + apiHost_,
  };
  if (!program_.start(argv, logFile_)) return false;
  return waitUntil(
      [&] {
        const std::string log = readWholeFile(logFile_);
        return log.find("BrlAPI Server") != std::string::npos || !program_.running();
      },
      10000) &&
         program_.running();
}

void BrlttyPeer::stop() { program_.stop(); }

BrlttyPeer::~BrlttyPeer() {
  stop();
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

}  // namespace ondaria::test
