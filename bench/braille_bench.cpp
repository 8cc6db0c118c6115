// Braille display costs:
//   - translating an 80-column row into Portuguese braille and its dot
//     patterns (goal: under 20 µs);
//   - a row written on the console until it reaches the display (goal: under
//     5 ms), and a key of the display until it is in the key queue (goal:
//     under 5 ms). These run against brltty with its virtual driver and a fake
//     display on 127.0.0.1 (the tests' peers), so the figures include
//     brltty's own handling. brltty reads its virtual driver's keys on a
//     40 ms poll (seen as a 40 ms sawtooth when the key's moment is swept),
//     so a key's whole way waits 0-40 ms for that poll; the program's part,
//     from brltty's key message on the BrlAPI connection to the key queue, is
//     timed by a relay on that connection. Also measured on their own:
//     writing on the console until the dots are handed to the display's
//     thread, and a posted key until it is read.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "braille/braille_display.h"
#include "braille/braille_translation.h"
#include "console/core/console.h"
#include "platform/frontend.h"
#include "support/braille_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void printFigures(const char* label, std::vector<double> us) {
  std::sort(us.begin(), us.end());
  const double median = us[us.size() / 2];
  const double p95 = us[us.size() * 95 / 100];
  std::printf("%-44s median %9.1f us   p95 %9.1f us   max %9.1f us   (%zu runs)\n", label, median, p95,
              us.back(), us.size());
}

// Rows of the kinds the program shows: menus, a playing title, numbers,
// capitals, brackets; each padded to 80 columns like a console row.
std::vector<std::string> sampleRows() {
  const char* texts[] = {
      "Ondaria - Que deseja? ",
      "P - preferidas        F - folhear categorias        B - buscar uma r\xE1" "dio",
      "Tocando: R\xE1" "dio Exemplo FM 98,5 - Not\xED" "cias (ao vivo) 24 horas",
      "Volume atual: 75   Taxa: 128 kb/s   Amostragem: 44100 Hz   Canais: 2",
      "BRASIL e PORTUGAL: 12.345 ouvintes em 3.5 horas, 1\xBA lugar, 2as. feiras",
      "Endere\xE7o selecionado: http://radio.exemplo.com.br:8000/ao-vivo.mp3?fonte=1",
  };
  std::vector<std::string> rows;
  for (const char* t : texts) {
    std::string row(t);
    row.resize(80, ' ');
    rows.push_back(row);
  }
  return rows;
}

void translation() {
  const std::vector<std::string> rows = sampleRows();
  constexpr int kRounds = 20000;
  size_t cells = 0;
  std::vector<double> perRow;
  for (int round = 0; round < 20; ++round) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
      const std::vector<uint8_t> dots = ondaria::brailleTextToDots(ondaria::translateToBraille(rows[i % rows.size()]));
      cells += dots.size();
    }
    perRow.push_back(microsecondsSince(start) / kRounds);
  }
  printFigures("translate an 80-column row (+ dot patterns)", perRow);
  std::printf("  (%zu cells made)\n", cells);
}

// A TCP relay on 127.0.0.1 between the program and brltty's BrlAPI port that
// notes when each piece of brltty's answers passes through.
class TimingRelay {
 public:
  explicit TimingRelay(int serverPort) : serverPort_(serverPort) {
    // BrlAPI names a TCP port as an offset from 4101: take one at or above.
    for (int tries = 0; tries < 50 && listenFd_ < 0; ++tries) {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t len = sizeof a;
      if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(fd, 4) == 0 &&
          getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 && ntohs(a.sin_port) >= 4101) {
        listenFd_ = fd;
        port_ = ntohs(a.sin_port);
      } else {
        ::close(fd);
      }
    }
    if (listenFd_ >= 0) thread_ = std::thread([this] { run(); });
  }
  ~TimingRelay() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
  }
  // The BRLAPI_HOST that reaches brltty through the relay.
  std::string host() const { return "127.0.0.1:" + std::to_string(port_ - 4101); }
  bool ok() const { return listenFd_ >= 0; }
  // The first time brltty sent something after `since`, if it has.
  bool firstAnswerAfter(Clock::time_point since, Clock::time_point& at) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const Clock::time_point t : answers_)
      if (t >= since) {
        at = t;
        return true;
      }
    return false;
  }

 private:
  void run() {
    int client = -1, server = -1;
    while (!stop_) {
      pollfd fds[3] = {{listenFd_, POLLIN, 0}, {client, POLLIN, 0}, {server, POLLIN, 0}};
      if (poll(fds, 3, 50) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        // A new connection of the program (it reconnects on a new size).
        if (client >= 0) ::close(client), ::close(server);
        client = accept(listenFd_, nullptr, nullptr);
        server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(serverPort_));
        const int one = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
          ::close(client), ::close(server);
          client = server = -1;
        }
        continue;
      }
      char buffer[4096];
      for (int i = 1; i <= 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0) {
          ::close(client), ::close(server);
          client = server = -1;
          break;
        }
        if (i == 2) {
          std::lock_guard<std::mutex> guard(lock_);
          answers_.push_back(Clock::now());
        }
        if (write(i == 1 ? server : client, buffer, static_cast<size_t>(n)) != n) break;
      }
    }
    if (client >= 0) ::close(client), ::close(server);
  }

  int serverPort_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::vector<Clock::time_point> answers_;
};

// The console with the braille display driver, on the headless front-end.
bool openConsoleWithDisplay() {
  ondaria::resetConsole();
  ondaria::setConsoleFrontend(std::make_unique<platform::HeadlessFrontend>(-1));
  ondaria::installBrailleDisplay();
  ondaria::ensureConsole();
  const Clock::time_point end = Clock::now() + std::chrono::seconds(20);
  while (ondaria::brailleCellCount() == 0 && Clock::now() < end) ondaria::delayMs(50);
  return ondaria::brailleCellCount() > 0;
}

void displayLatency() {
  if (!ondaria::test::brlttyAvailable()) {
    std::printf("display latency: brltty is not installed\n");
    return;
  }
  ondaria::test::FakeBrailleDisplay display(40);
  ondaria::test::BrlttyPeer brltty;
  if (!brltty.start(display.port()) || !display.waitConnected(15000)) {
    std::printf("display latency: brltty did not start\n");
    return;
  }
  // brltty's API host is "127.0.0.1:N", TCP port 4101 + N.
  const std::string api = brltty.apiHost();
  TimingRelay relay(4101 + std::stoi(api.substr(api.rfind(':') + 1)));
  if (!relay.ok()) {
    std::printf("display latency: no port for the relay\n");
    return;
  }
  setenv("BRLAPI_HOST", relay.host().c_str(), 1);
  setenv("BRLAPI_AUTH", "none", 1);
  if (!openConsoleWithDisplay()) {
    std::printf("display latency: no display reached\n");
    return;
  }

  // A row written until its dots arrive: each round writes a different
  // letter at the start of the row, which the display must show.
  std::vector<double> rowLatency;
  // brltty holds its own messages on the display for 100 ms (the peer's -M
  // 10), and shows one as a client takes the display: not our latency.
  ondaria::delayMs(300);
  const char letters[] = "abcdefghij";
  for (int i = 0; i < 100; ++i) {
    const char letter = letters[i % 10];
    const uint8_t firstCell = ondaria::brailleCellDots(static_cast<uint8_t>(letter));
    const Clock::time_point start = Clock::now();
    ondaria::gotoXY(1, 5);
    ondaria::writeText(std::string(1, letter) + " linha de teste");
    const bool arrived = display.waitForCells(
        [&](const auto& cells) { return !cells.empty() && cells[0] == firstCell; }, 2000);
    if (arrived) rowLatency.push_back(microsecondsSince(start));
    ondaria::delayMs(20);  // brltty sees a new row each time, not a burst
  }
  if (!rowLatency.empty()) printFigures("row written -> cells at the display", rowLatency);

  // Our part of it: writing on the console and handing the dots over.
  std::vector<double> handOver;
  for (int i = 0; i < 2000; ++i) {
    const Clock::time_point start = Clock::now();
    ondaria::gotoXY(1, 6);
    ondaria::writeText("Tocando: R\xE1" "dio Exemplo FM 98,5");
    handOver.push_back(microsecondsSince(start));
  }
  printFigures("row written -> dots handed to the display", handOver);

  // A key of the display until the program reads it.
  std::vector<double> keyLatency, keyFromBrltty;
  ondaria::delayMs(ondaria::test::FakeBrailleDisplay::kKeyIntervalMs);
  for (int i = 0; i < 60; ++i) {
    while (ondaria::keyPressed()) ondaria::readKey();
    const Clock::time_point start = Clock::now();
    display.send("PassDots 1");
    const Clock::time_point end = start + std::chrono::seconds(2);
    bool got = false;
    while (Clock::now() < end) {
      ondaria::waitForConsoleEvent(5);
      if (ondaria::keyCount() > 0) {
        got = true;
        break;
      }
    }
    if (got) {
      const Clock::time_point queued = Clock::now();
      keyLatency.push_back(std::chrono::duration<double, std::micro>(queued - start).count());
      Clock::time_point answered;
      if (relay.firstAnswerAfter(start, answered))
        keyFromBrltty.push_back(std::chrono::duration<double, std::micro>(queued - answered).count());
    }
    // The fake display sends one key per interval (brltty's virtual driver
    // takes one command per read): wait it out here, not inside the timing.
    ondaria::delayMs(ondaria::test::FakeBrailleDisplay::kKeyIntervalMs + 10);
  }
  if (!keyLatency.empty()) printFigures("display key -> key queue (brltty's poll)", keyLatency);
  if (!keyFromBrltty.empty()) printFigures("brltty's key message -> key queue", keyFromBrltty);

  // Our part of it: a key message posted by the display's thread until read.
  std::vector<double> posted;
  for (int i = 0; i < 2000; ++i) {
    const Clock::time_point start = Clock::now();
    ondaria::postBrailleKeyMessage(100, 'a');
    while (ondaria::keyCount() == 0) ondaria::waitForConsoleEvent(5);
    ondaria::readKey();
    posted.push_back(microsecondsSince(start));
  }
  printFigures("posted display key -> key read", posted);
  ondaria::resetBrailleDisplay();
  ondaria::resetConsole();
}

}  // namespace

int main() {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  translation();
  displayLatency();
  return 0;
}
