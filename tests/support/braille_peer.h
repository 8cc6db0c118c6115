// A braille display for tests, with no hardware: brltty runs headless with
// its virtual driver, which connects as a client to a small fake display that
// the test runs in-process on 127.0.0.1. The fake display announces its cell
// count, records every row of dots brltty shows on it, and sends keys the way
// the virtual driver's protocol has them ("LnDn", "PassDots 19", ...).
// brltty's BrlAPI server listens on 127.0.0.1 too, on a free port; programs
// under test find it through BRLAPI_HOST (see `apiHost`) with BRLAPI_AUTH=none.
//
//   test::FakeBrailleDisplay display(40);
//   test::BrlttyPeer brltty;
//   ASSERT_TRUE(brltty.start(display.port()));
//   ASSERT_TRUE(display.waitConnected(15000));
//   ... BRLAPI_HOST=brltty.apiHost() ...
//   display.waitForCells([](const std::vector<uint8_t>& cells) { ... }, 15000);
//   display.send("LnDn");
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/stream_peers.h"

namespace ondaria::test {

// True when the brltty program is installed.
bool brlttyAvailable();

class FakeBrailleDisplay {
 public:
  using Cells = std::vector<uint8_t>;  // dot patterns, bit 0 = dot 1

  // Listens at once; announces `cells` to each driver that connects, one
  // second after it connected: brltty 6.5 can damage its own memory (and
  // die) when the size comes in the same moment as the connection.
  explicit FakeBrailleDisplay(int cells);
  ~FakeBrailleDisplay();
  FakeBrailleDisplay(const FakeBrailleDisplay&) = delete;
  FakeBrailleDisplay& operator=(const FakeBrailleDisplay&) = delete;

  int port() const { return port_; }
  // Waits until brltty's driver is connected.
  bool waitConnected(int timeoutMs);
  int connections();
  // Sends one command line of the protocol (the line end is added), at least
  // kKeyIntervalMs after the one before: brltty's virtual driver takes one
  // command per read, and loses lines that arrive together.
  bool send(const std::string& line);
  static constexpr int kKeyIntervalMs = 250;

  // Waits for a row shown by brltty for which `match` is true, looking at the
  // rows from index `from` on (rows().size() at some moment: rows shown after
  // it); the row is stored in *shown when given.
  bool waitForCells(const std::function<bool(const Cells&)>& match, int timeoutMs, Cells* shown = nullptr,
                    size_t from = 0);
  // Every row shown so far, oldest first.
  std::vector<Cells> rows();

 private:
  void serve();

  int listenFd_ = -1;
  int port_ = 0;
  int cells_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable changed_;
  int clientFd_ = -1;
  bool announced_ = false;
  std::chrono::steady_clock::time_point lastSend_{};
  int connections_ = 0;
  bool stopping_ = false;
  std::vector<Cells> rows_;
};

// Dot patterns of a "Braille" line of the protocol: "1|12| |..." (empty
// when the line is no such line).
FakeBrailleDisplay::Cells parseBrailleLine(const std::string& line);

// brltty with its virtual driver as a client of a fake display.
class BrlttyPeer {
 public:
  BrlttyPeer();
  ~BrlttyPeer();
  // Starts brltty for the display listening on `displayPort`; waits until
  // its BrlAPI server is up. After `stop`, starts again on the same address.
  bool start(int displayPort);
  void stop();
  bool running() { return program_.running(); }
  // BRLAPI_HOST for clients: "127.0.0.1:N".
  const std::string& apiHost() const { return apiHost_; }
  const std::string& logFile() const { return logFile_; }

 private:
  BackgroundProgram program_;
  std::string folder_, logFile_, apiHost_;
  int apiNumber_ = 0;
};

}  // namespace ondaria::test
