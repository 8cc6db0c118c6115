#include "net/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <utility>

#include "console/core/console.h"
#include "console/core/settings.h"
#include "net/tls.h"

namespace ondaria {
namespace {

// The sleep between two empty polls, as the reader has always done: it lets the
// window be served at a steady pace during a silent wait. The wait ends early
// when data arrives, so it never delays a transfer.
constexpr long kEmptyPollMicros = 100000;
// Largest read-wait accepted from the settings file (one minute); beyond it a
// single poll would leave the window unserved for too long.
constexpr long kMaxReadWaitMicros = 60L * 1000 * 1000;

struct SocketsState {
  long readWaitMicros = kDefaultReadWaitMicros;
  bool started = false;
  NetGiveUpCheck giveUpCheck;
  bool givenUp = false;
};

SocketsState& state() {
  static SocketsState s;
  return s;
}

// Keys typed and repaints asked for during a wait reach the console; then the
// user's check may ask to give the wait up.
void serveWindow() {
  pumpWindowMessages();
  SocketsState& s = state();
  if (s.giveUpCheck && !s.givenUp && s.giveUpCheck()) s.givenUp = true;
}

// Waits up to `micros` for `events` on one socket. True when any of them (or a
// hang-up or error, which a following call will report) is signalled.
bool waitSocket(int socket, short events, long micros) {
  pollfd p{};
  p.fd = socket;
  p.events = events;
  timespec ts{};
  ts.tv_sec = micros / 1000000;
  ts.tv_nsec = (micros % 1000000) * 1000;
  for (;;) {
    int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0 && errno == EINTR) continue;  // ts is not updated: a bounded retry
    return r > 0 && (p.revents & (events | POLLHUP | POLLERR | POLLNVAL)) != 0;
  }
}

// Waits up to the read-wait time, serving the window at least every 100 ms
// so that a long read-wait does not freeze it.
bool waitReadWait(int socket, short events) {
  long left = state().readWaitMicros;
  for (;;) {
    long slice = std::min(left, kEmptyPollMicros);
    bool ready = waitSocket(socket, events, slice);
    serveWindow();
    left -= slice;
    if (ready || left <= 0) return ready;
  }
}

// One empty poll of the wait discipline: the read-wait, the 100 ms pause (cut
// short by the socket becoming ready), the window served after each.
bool pollForEvent(int socket, short events) {
  if (waitReadWait(socket, events)) return true;
  bool ready = waitSocket(socket, events, kEmptyPollMicros);
  serveWindow();
  return ready;
}

bool limitExceeded(int limit, int emptyPolls) {
  if (state().givenUp) return true;
  // 10 polls per unit of limit, as the reader has always counted.
  return limit != 0 && emptyPolls > limit * 10;
}

long parseReadWait(const std::string& text) {
  std::size_t b = text.find_first_not_of(" \t");
  std::size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return kDefaultReadWaitMicros;
  const char* first = text.data() + b;
  const char* last = text.data() + e + 1;
  long long value = 0;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last || value < 0 || value > kMaxReadWaitMicros) {
    return kDefaultReadWaitMicros;
  }
  return static_cast<long>(value);
}

// Completes a non-blocking connect within the shared budget of empty polls.
bool finishConnect(int socket, int limit, int& emptyPolls) {
  for (;;) {
    if (state().givenUp) return false;
    if (pollForEvent(socket, POLLOUT)) {
      int error = 0;
      socklen_t len = sizeof error;
      if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return false;
      return error == 0;
    }
    ++emptyPolls;
    if (limitExceeded(limit, emptyPolls)) return false;
  }
}

// Takes one byte from the buffer, refilling it with one receive when it is
// empty. 1: byte given; 0: nothing now (see reader->state; open = try again).
int takeByte(Reader* reader, char& byte) {
  if (reader->position >= reader->count) {
    if (reader->state != ReaderState::open) return 0;
    int n = netRecv(reader->socket, reader->buffer.data(), reader->buffer.size());
    if (n == kNetWouldBlock) return 0;
    if (n <= 0) {
      reader->state = n == 0 ? ReaderState::ended : ReaderState::failed;
      reader->position = reader->count = 0;
      return 0;
    }
    reader->position = 0;
    reader->count = static_cast<std::size_t>(n);
  }
  byte = reader->buffer[reader->position++];
  return 1;
}

// A time-out or an over-long line leaves the connection usable; the end of the
// data or a broken connection is final.
void reopenAfterSoftStop(Reader* reader) {
  if (reader->state == ReaderState::timedOut || reader->state == ReaderState::tooLong) {
    reader->state = ReaderState::open;
  }
}

}  // namespace

bool netStartup() {
  // A write to a connection the peer has closed raises SIGPIPE, whose default
  // action ends the process; here it must be an error result instead (OpenSSL
  // writes with plain write(), so MSG_NOSIGNAL alone does not cover TLS).
  struct sigaction sa {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  if (sigaction(SIGPIPE, &sa, nullptr) != 0) return false;
  state().started = true;
  return true;
}

void netCleanup() {
  tlsClose();
  state().started = false;
}

long readWaitMicros() { return state().readWaitMicros; }

void setNetGiveUpCheck(NetGiveUpCheck check) {
  SocketsState& s = state();
  s.giveUpCheck = std::move(check);
  s.givenUp = false;
}

bool netGivenUp() { return state().givenUp; }

bool waitSocketEvent(int socket, bool forWrite, int limit, int& emptyPolls) {
  if (socket < 0) return false;
  for (;;) {
    if (state().givenUp) return false;
    if (pollForEvent(socket, forWrite ? POLLOUT : POLLIN)) return true;
    ++emptyPolls;
    if (limitExceeded(limit, emptyPolls)) return false;
  }
}

std::vector<NetAddress> resolveHost(const std::string& host, int port) {
  std::vector<NetAddress> result;
  std::string name = host;
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  if (name.empty() || port < 1 || port > 65535) return result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  // A host that begins with a digit is an address, never a name to look up.
  if (name.front() >= '0' && name.front() <= '9') hints.ai_flags |= AI_NUMERICHOST;
  hints.ai_flags |= AI_NUMERICSERV;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(name.c_str(), service.c_str(), &hints, &list) != 0) return result;
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    NetAddress addr;
    std::memcpy(&addr.storage, a->ai_addr, a->ai_addrlen);
    addr.length = a->ai_addrlen;
    result.push_back(addr);
  }
  freeaddrinfo(list);
  return result;
}

int connectTcp(const std::string& host, int port, int limit) {
  state().readWaitMicros = parseReadWait(readSetting("LUMARE", "TIMEOUT_REDE"));
  if (state().givenUp) return -1;
  std::vector<NetAddress> addresses = resolveHost(host, port);
  int emptyPolls = 0;
  for (const NetAddress& addr : addresses) {
    int s = ::socket(addr.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     IPPROTO_TCP);
    if (s < 0) continue;
    int r = ::connect(s, reinterpret_cast<const sockaddr*>(&addr.storage), addr.length);
    if (r == 0) return s;
    if (errno == EINPROGRESS && finishConnect(s, limit, emptyPolls)) return s;
    ::close(s);
    if (limitExceeded(limit, emptyPolls)) break;
  }
  return -1;
}

void closeConnection(int socket) {
  if (socket < 0) return;
  if (socket == tlsSocket()) tlsClose();
  ::close(socket);
}

int netSend(int socket, const char* bytes, std::size_t length) {
  if (socket < 0) return -1;
  int emptyPolls = 0;
  for (;;) {
    int n;
    if (tlsUp() && socket == tlsSocket()) {
      n = tlsWrite(bytes, length);
    } else {
      ssize_t r = ::send(socket, bytes, length, MSG_NOSIGNAL);
      n = r >= 0 ? static_cast<int>(r)
                 : (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? kNetWouldBlock
                                                                               : -1;
    }
    if (n != kNetWouldBlock) return n;
    if (!pollForEvent(socket, POLLOUT)) {
      ++emptyPolls;
      if (limitExceeded(kDefaultWaitLimit, emptyPolls)) return -1;
    }
  }
}

int netRecv(int socket, char* buffer, std::size_t size) {
  if (socket < 0) return -1;
  if (tlsUp() && socket == tlsSocket()) return tlsRead(buffer, size);
  ssize_t r = ::recv(socket, buffer, size, 0);
  if (r >= 0) return static_cast<int>(r);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kNetWouldBlock;
  return -1;
}

bool sendText(int socket, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    int n = netSend(socket, text.data() + done, text.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return !text.empty();
}

bool sendLine(int socket, const std::string& text) { return sendText(socket, text + "\r\n"); }

bool socketReadable(int socket) {
  if (tlsUp() && socket == tlsSocket() && tlsPending()) return true;
  if (socket < 0) {
    serveWindow();
    return false;
  }
  return waitReadWait(socket, POLLIN);
}

ReaderPtr newReader(int socket) {
  auto reader = std::make_unique<Reader>();
  reader->socket = socket;
  return reader;
}

void freeReader(ReaderPtr& reader) { reader.reset(); }

bool readerReady(Reader* reader) {
  if (!reader) return false;
  if (reader->position < reader->count) return true;
  if (reader->state == ReaderState::ended || reader->state == ReaderState::failed) return true;
  return socketReadable(reader->socket);
}

bool waitForData(Reader* reader, int limit, int& emptyPolls) {
  if (!reader) return false;
  reopenAfterSoftStop(reader);
  for (;;) {
    // A peer that keeps trickling bytes never lets a wait run empty: the
    // user's give-up is looked at before each wait as well.
    if (state().givenUp) {
      reader->state = ReaderState::timedOut;
      return false;
    }
    if (readerReady(reader)) return true;
    waitSocket(reader->socket, POLLIN, kEmptyPollMicros);
    serveWindow();
    ++emptyPolls;
    if (limitExceeded(limit, emptyPolls)) {
      reader->state = ReaderState::timedOut;
      return false;
    }
  }
}

bool readByte(Reader* reader, char& byte) {
  if (!reader) return false;
  int emptyPolls = 0;
  for (;;) {
    if (!waitForData(reader, kDefaultWaitLimit, emptyPolls)) return false;
    if (takeByte(reader, byte)) return true;
    if (reader->state != ReaderState::open) return false;
    // Readable but nothing decrypted yet (a partial TLS record): counts as a
    // poll so that a peer cannot keep us here without sending real data.
    ++emptyPolls;
  }
}

bool readLine(Reader* reader, int limit, std::string& line) {
  line.clear();
  if (!reader) return false;
  int emptyPolls = 0;
  for (;;) {
    if (!waitForData(reader, limit, emptyPolls)) return false;
    // Take every byte already buffered without polling again.
    char byte = 0;
    bool gotAny = false;
    while (takeByte(reader, byte)) {
      gotAny = true;
      if (byte == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
      line.push_back(byte);
      if (line.size() > kMaxLineLength) {
        reader->state = ReaderState::tooLong;
        return false;
      }
      if (reader->position >= reader->count) break;
    }
    if (reader->state == ReaderState::ended || reader->state == ReaderState::failed) {
      if (line.empty()) return false;
      if (line.back() == '\r') line.pop_back();
      return true;
    }
    if (!gotAny) {
      ++emptyPolls;
      if (limitExceeded(limit, emptyPolls)) {
        reader->state = ReaderState::timedOut;
        return false;
      }
    }
  }
}

std::size_t readSome(Reader* reader, char* dest, std::size_t max) {
  if (!reader || max == 0) return 0;
  if (reader->position < reader->count) {
    std::size_t n = std::min(max, reader->count - reader->position);
    std::memcpy(dest, reader->buffer.data() + reader->position, n);
    reader->position += n;
    return n;
  }
  if (reader->state != ReaderState::open) return 0;
  if (max < reader->buffer.size()) {
    char byte = 0;
    if (!takeByte(reader, byte)) return 0;
    dest[0] = byte;
    std::size_t n = std::min(max - 1, reader->count - reader->position);
    std::memcpy(dest + 1, reader->buffer.data() + reader->position, n);
    reader->position += n;
    return 1 + n;
  }
  int n = netRecv(reader->socket, dest, max);
  if (n == kNetWouldBlock) return 0;
  if (n <= 0) {
    reader->state = n == 0 ? ReaderState::ended : ReaderState::failed;
    return 0;
  }
  return static_cast<std::size_t>(n);
}

}  // namespace ondaria
