// A scripted TCP (optionally TLS) server on 127.0.0.1 for tests of network
// clients: every accepted connection is handed to the test's handler on the
// server's own thread, one connection after the other.
//
// Handlers may be hostile on purpose (silent, trickling, endless, resetting);
// they should wait through ServerConnection::pause so that stopping the server
// (the destructor) never waits longer than one short step. A program that
// uses this server must ignore SIGPIPE (netStartup does).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ondaria::test {

// Files of a server certificate, as made by TestCertificates.
struct TlsServerFiles {
  std::string certificate;  // PEM, leaf first
  std::string key;          // PEM
};

class LocalServer;

class ServerConnection {
 public:
  // Reads up to the blank line that ends a request head (at most 64 KB) and
  // returns it with its line ends; empty when the client sent nothing usable.
  std::string readRequest();
  // Reads whatever arrives until the client closes (or the server stops).
  std::string readUntilClosed();
  // Sends all bytes; false once the client is gone.
  bool send(std::string_view bytes);
  // Sends bytes on the socket itself, around TLS (to forge damaged records).
  bool sendRaw(std::string_view bytes);
  // Sleeps in short steps; false when the server is being stopped.
  bool pause(int milliseconds);
  // Ends the connection with a TCP reset instead of an orderly close.
  void reset();
  // Closes a TLS connection without sending a close notify first.
  void skipCloseNotify() { closeNotify_ = false; }
  // The server name the TLS client asked for; empty for plain TCP or none sent.
  std::string serverName() const;
  bool stopping() const;

 private:
  friend class LocalServer;
  ServerConnection(int fd, void* ssl, LocalServer& server) : fd_(fd), ssl_(ssl), server_(server) {}
  // Bytes received (> 0), 0 when the client closed or the server stops, -1 on error.
  long receive(char* buffer, std::size_t size);
  bool waitFor(short events);
  int fd_;
  void* ssl_;  // SSL*, or null for plain TCP
  LocalServer& server_;
  bool reset_ = false;
  bool closeNotify_ = true;
};

class LocalServer {
 public:
  using Handler = std::function<void(ServerConnection&)>;
  // Listens on 127.0.0.1 and a free port. With `tls`, every connection is
  // wrapped in TLS with those files first (a failed handshake skips the handler).
  explicit LocalServer(Handler handler, const TlsServerFiles* tls = nullptr);
  ~LocalServer();
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" + path (or https when TLS).
  std::string url(const std::string& path) const;
  // Request heads read by ServerConnection::readRequest, in order.
  std::vector<std::string> requests() const;
  int connectionCount() const { return connections_.load(); }
  void stop();

 private:
  void run();
  Handler handler_;
  void* context_ = nullptr;  // SSL_CTX*
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
  friend class ServerConnection;
};

// A throw-away certificate authority made with the openssl program in a
// temporary folder (removed by the destructor): a CA, a server certificate it
// signed for "localhost" and 127.0.0.1, one it signed for another host name,
// and a self-signed one for "localhost" and 127.0.0.1.
class TestCertificates {
 public:
  TestCertificates();
  ~TestCertificates();
  bool ok() const { return ok_; }
  const std::string& caFile() const { return ca_; }
  const TlsServerFiles& good() const { return good_; }
  const TlsServerFiles& wrongHost() const { return wrongHost_; }
  const TlsServerFiles& selfSigned() const { return selfSigned_; }
  const std::string& folder() const { return dir_; }

 private:
  bool ok_ = false;
  std::string dir_;
  std::string ca_;
  TlsServerFiles good_, wrongHost_, selfSigned_;
};

// Runs a program (no shell) and waits for it; its exit status, -1 when it could
// not be started. Output goes to /dev/null unless `quiet` is false; standard
// output goes to `outputFile` when one is named.
int runProgram(const std::vector<std::string>& argv, bool quiet = true,
               const std::string& outputFile = "");

// A new empty folder under $TMPDIR or /tmp; removeTree deletes it.
std::string makeTempFolder(const std::string& prefix);
void removeTree(const std::string& path);

// A TCP socket listening on 127.0.0.1 at a port the system chose (`port`,
// 0 when it could not listen).
int listenOnLoopback(int backlog, int& port);

}  // namespace ondaria::test
