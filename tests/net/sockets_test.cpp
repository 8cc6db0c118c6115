#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "net_fixture.h"

namespace ondaria::test {
namespace {

using SocketsTest = NetTest;

// Both ends of a connected stream pair: the reader works on end [0].
struct Pair {
  int fd[2] = {-1, -1};
  Pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd); }
  ~Pair() {
    for (int f : fd) {
      if (f >= 0) close(f);
    }
  }
  void send(const std::string& s) { ASSERT_EQ(::write(fd[1], s.data(), s.size()), (ssize_t)s.size()); }
  void closePeer() {
    close(fd[1]);
    fd[1] = -1;
  }
};

std::string addressText(const NetAddress& a) {
  char buf[INET6_ADDRSTRLEN] = {};
  if (a.storage.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a.storage).sin_addr, buf, sizeof buf);
  } else {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a.storage).sin6_addr, buf, sizeof buf);
  }
  return buf;
}

TEST_F(SocketsTest, ResolveTakesDigitHostsAsAddressesOnly) {
  auto a = resolveHost("200.1.2.3", 80);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(addressText(a[0]), "200.1.2.3");
  EXPECT_EQ(ntohs(reinterpret_cast<const sockaddr_in&>(a[0].storage).sin_port), 80);
  // A name beginning with a digit is not looked up.
  EXPECT_TRUE(resolveHost("9fm", 80).empty());
  EXPECT_TRUE(resolveHost("127.0.0.1x", 80).empty());

  auto v6 = resolveHost("[::1]", 8080);
  ASSERT_EQ(v6.size(), 1u);
  EXPECT_EQ(v6[0].storage.ss_family, AF_INET6);
  EXPECT_EQ(addressText(v6[0]), "::1");

  EXPECT_FALSE(resolveHost("localhost", 80).empty());
  EXPECT_TRUE(resolveHost("", 80).empty());
  EXPECT_TRUE(resolveHost("127.0.0.1", 0).empty());
  EXPECT_TRUE(resolveHost("127.0.0.1", 65536).empty());
}

TEST_F(SocketsTest, ReadWaitComesFromTimeoutRedeAtEveryConnect) {
  LocalServer server([](ServerConnection&) {});
  struct Case {
    std::optional<std::string> value;
    long expected;
  };
  const Case cases[] = {
      {std::nullopt, 20000}, {"", 20000},        {"abc", 20000},       {"100000", 100000},
      {" 3000 ", 3000},      {"-5", 20000},      {"12abc", 20000},     {"0", 0},
      {"99999999999", 20000}, {"60000000", 60000000}, {"60000001", 20000},
  };
  for (const Case& c : cases) {
    setReadWait(c.value);
    int s = connectTcp("127.0.0.1", server.port());
    ASSERT_GE(s, 0);
    EXPECT_EQ(readWaitMicros(), c.expected) << "TIMEOUT_REDE=" << c.value.value_or("(absent)");
    closeConnection(s);
  }
}

TEST_F(SocketsTest, ConnectToAnUnansweringHostGivesUpAtTheLimit) {
  // A listener whose accept queue is full drops further connection requests,
  // like a host that never answers.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  int port = ntohs(addr.sin_port);
  setReadWait("1000");
  std::vector<int> queued;
  int s = -1;
  // Fill the queue; the first attempt that does not complete must time out.
  for (int i = 0; i < 4; ++i) {
    typeKey();
    s = connectTcp("127.0.0.1", port, 1);
    if (s < 0) break;
    queued.push_back(s);
  }
  EXPECT_EQ(s, -1);
  EXPECT_GT(keyCount(), 0) << "the window was not served while connecting";
  for (int q : queued) closeConnection(q);
  close(listener);
}

TEST_F(SocketsTest, ReadLineSplitsAtLineFeedsWithOrWithoutCarriageReturn) {
  Pair p;
  p.send("HTTP/1.0 200 OK\nSecond: x\r\n\r\nlast\r");
  p.closePeer();
  ReaderPtr r = newReader(p.fd[0]);
  std::string line;
  ASSERT_TRUE(readLine(r.get(), 30, line));
  EXPECT_EQ(line, "HTTP/1.0 200 OK");
  ASSERT_TRUE(readLine(r.get(), 30, line));
  EXPECT_EQ(line, "Second: x");
  ASSERT_TRUE(readLine(r.get(), 30, line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(readLine(r.get(), 30, line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(readLine(r.get(), 30, line));
  EXPECT_EQ(r->state, ReaderState::ended);
  freeReader(r);
  EXPECT_EQ(r, nullptr);
}

TEST_F(SocketsTest, LastLineWithoutEndIsReadThenTheEnd) {
  Pair p;
  p.send("abc");
  p.closePeer();
  ReaderPtr r = newReader(p.fd[0]);
  std::string line;
  ASSERT_TRUE(readLine(r.get(), 30, line));
  EXPECT_EQ(line, "abc");
  EXPECT_FALSE(readLine(r.get(), 30, line));
  EXPECT_TRUE(line.empty());
  char b;
  EXPECT_FALSE(readByte(r.get(), b));
  EXPECT_FALSE(readLine(nullptr, 30, line));
  EXPECT_FALSE(readerReady(nullptr));
}

TEST_F(SocketsTest, BytesAndLinesCrossBufferBoundaries) {
  Pair p;
  // Lines of 1000 bytes: several straddle the 4096-byte buffer.
  std::string sent;
  for (int i = 0; i < 12; ++i) sent += std::string(999, static_cast<char>('a' + i)) + "\n";
  std::thread writer([&] {
    p.send(sent);
    p.closePeer();
  });
  ReaderPtr r = newReader(p.fd[0]);
  std::string line;
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(readLine(r.get(), 30, line)) << i;
    EXPECT_EQ(line, std::string(999, static_cast<char>('a' + i)));
  }
  EXPECT_FALSE(readLine(r.get(), 30, line));
  writer.join();

  Pair q;
  std::string bytes = patternBody(10000);
  q.send(bytes);
  q.closePeer();
  ReaderPtr r2 = newReader(q.fd[0]);
  std::string got;
  char b;
  while (readByte(r2.get(), b)) got.push_back(b);
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(r2->state, ReaderState::ended);
}

TEST_F(SocketsTest, EndlessLineStopsAtTheLengthLimit) {
  Pair p;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::string chunk(16384, 'x');
    // Far more than the limit, without a line end, until the reader gives up.
    for (int i = 0; i < 200 && !stop; ++i) {
      if (::send(p.fd[1], chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) break;
    }
  });
  ReaderPtr r = newReader(p.fd[0]);
  std::string line;
  EXPECT_FALSE(readLine(r.get(), 30, line));
  EXPECT_EQ(r->state, ReaderState::tooLong);
  stop = true;
  shutdown(p.fd[0], SHUT_RDWR);
  writer.join();
}

TEST_F(SocketsTest, SilentPeerTimesOutWhileTheWindowIsServed) {
  Pair p;
  p.send("partial");
  ReaderPtr r = newReader(p.fd[0]);
  std::string line;
  typeKey();
  EXPECT_FALSE(readLine(r.get(), 1, line));
  EXPECT_EQ(r->state, ReaderState::timedOut);
  EXPECT_EQ(keyCount(), 1) << "the key typed during the wait did not arrive";
  // The connection is still usable after a time-out.
  p.send(" line\nnext\n");
  ASSERT_TRUE(readLine(r.get(), 1, line));
  ASSERT_TRUE(readLine(r.get(), 1, line));
  EXPECT_EQ(line, "next");
}

TEST_F(SocketsTest, TricklingPeerCannotStretchOneLineForEver) {
  Pair p;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop) {
      if (::send(p.fd[1], "x", 1, MSG_NOSIGNAL) < 0) break;
      for (int i = 0; i < 6 && !stop; ++i) usleep(50000);  // a byte every 0.3 s
    }
  });
  ReaderPtr r = newReader(p.fd[0]);
  std::string line;
  EXPECT_FALSE(readLine(r.get(), 1, line));
  EXPECT_EQ(r->state, ReaderState::timedOut);
  stop = true;
  writer.join();
}

TEST_F(SocketsTest, SendTextDeliversEveryByteOfALargeText) {
  std::string received;
  std::atomic<bool> done{false};
  LocalServer server([&](ServerConnection& c) {
    received = c.readUntilClosed();
    done = true;
  });
  int s = connectTcp("127.0.0.1", server.port());
  ASSERT_GE(s, 0);
  // Far more than a socket buffer takes at once: partial sends must continue.
  std::string text = patternBody(3 * 1024 * 1024);
  EXPECT_TRUE(sendText(s, text));
  EXPECT_TRUE(sendLine(s, "end"));
  closeConnection(s);
  for (int i = 0; i < 1000 && !done; ++i) usleep(10000);
  server.stop();
  EXPECT_EQ(received.size(), text.size() + 5);
  EXPECT_TRUE(received == text + "end\r\n");
  EXPECT_FALSE(sendText(-1, "x"));
}

}  // namespace
}  // namespace ondaria::test
