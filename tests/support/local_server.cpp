#include "support/local_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace ondaria::test {
namespace {

// Every wait of the server is cut into steps this long so that stop() is
// noticed quickly.
constexpr int kStepMs = 50;

SSL* asSsl(void* p) { return static_cast<SSL*>(p); }

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

// ---- ServerConnection -------------------------------------------------------

bool ServerConnection::stopping() const { return server_.stop_.load(); }

bool ServerConnection::waitFor(short events) {
  pollfd p{fd_, events, 0};
  while (!stopping()) {
    int r = poll(&p, 1, kStepMs);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
  return false;
}

long ServerConnection::receive(char* buffer, std::size_t size) {
  for (;;) {
    if (stopping()) return 0;
    if (ssl_) {
      ERR_clear_error();
      int n = SSL_read(asSsl(ssl_), buffer, static_cast<int>(size));
      if (n > 0) return n;
      int e = SSL_get_error(asSsl(ssl_), n);
      if (e == SSL_ERROR_WANT_READ) {
        if (!waitFor(POLLIN)) return 0;
        continue;
      }
      if (e == SSL_ERROR_WANT_WRITE) {
        if (!waitFor(POLLOUT)) return 0;
        continue;
      }
      return e == SSL_ERROR_ZERO_RETURN ? 0 : -1;
    }
    ssize_t n = recv(fd_, buffer, size, 0);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      if (!waitFor(POLLIN)) return 0;
      continue;
    }
    return -1;
  }
}

std::string ServerConnection::readRequest() {
  std::string head;
  char c;
  // Byte by byte so that nothing after the head is consumed.
  while (head.size() < 64 * 1024) {
    long n = receive(&c, 1);
    if (n <= 0) break;
    head.push_back(c);
    if (head.size() >= 4 && head.compare(head.size() - 4, 4, "\r\n\r\n") == 0) break;
  }
  std::lock_guard<std::mutex> lock(server_.mutex_);
  server_.requests_.push_back(head);
  return head;
}

std::string ServerConnection::readUntilClosed() {
  std::string all;
  char buf[4096];
  for (;;) {
    long n = receive(buf, sizeof buf);
    if (n <= 0) return all;
    all.append(buf, static_cast<std::size_t>(n));
  }
}

bool ServerConnection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (stopping()) return false;
    long n;
    if (ssl_) {
      ERR_clear_error();
      int r = SSL_write(asSsl(ssl_), bytes.data(), static_cast<int>(bytes.size()));
      if (r <= 0) {
        int e = SSL_get_error(asSsl(ssl_), r);
        if (e == SSL_ERROR_WANT_WRITE && waitFor(POLLOUT)) continue;
        if (e == SSL_ERROR_WANT_READ && waitFor(POLLIN)) continue;
        return false;
      }
      n = r;
    } else {
      n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0) {
        if ((errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) && waitFor(POLLOUT)) {
          continue;
        }
        return false;
      }
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ServerConnection::sendRaw(std::string_view bytes) {
  void* ssl = ssl_;
  ssl_ = nullptr;
  bool ok = send(bytes);
  ssl_ = ssl;
  return ok;
}

bool ServerConnection::pause(int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += kStepMs) {
    if (stopping()) return false;
    usleep(static_cast<useconds_t>(std::min(kStepMs, milliseconds - waited)) * 1000);
  }
  return !stopping();
}

std::string ServerConnection::serverName() const {
  if (!ssl_) return "";
  const char* name = SSL_get_servername(asSsl(ssl_), TLSEXT_NAMETYPE_host_name);
  return name ? name : "";
}

void ServerConnection::reset() {
  linger l{1, 0};  // close with linger 0 sends a reset
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  reset_ = true;
}

// ---- LocalServer --------------------------------------------------------------

LocalServer::LocalServer(Handler handler, const TlsServerFiles* tls)
    : handler_(std::move(handler)) {
  if (tls) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx && SSL_CTX_use_certificate_chain_file(ctx, tls->certificate.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(ctx, tls->key.c_str(), SSL_FILETYPE_PEM) == 1) {
      context_ = ctx;
    } else if (ctx) {
      SSL_CTX_free(ctx);
    }
  }
  listener_ = listenOnLoopback(16, port_);
  thread_ = std::thread([this] { run(); });
}

LocalServer::~LocalServer() {
  stop();
  if (context_) SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

void LocalServer::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
  listener_ = -1;
}

std::string LocalServer::url(const std::string& path) const {
  return std::string(context_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LocalServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LocalServer::run() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, kStepMs) <= 0) continue;
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    setNonBlocking(fd);
    ++connections_;
    SSL* ssl = nullptr;
    bool ready = true;
    if (context_) {
      ssl = SSL_new(static_cast<SSL_CTX*>(context_));
      SSL_set_fd(ssl, fd);
      ServerConnection waiter(fd, nullptr, *this);
      for (;;) {
        ERR_clear_error();
        int r = SSL_accept(ssl);
        if (r == 1) break;
        int e = SSL_get_error(ssl, r);
        if ((e == SSL_ERROR_WANT_READ && waiter.waitFor(POLLIN)) ||
            (e == SSL_ERROR_WANT_WRITE && waiter.waitFor(POLLOUT))) {
          continue;
        }
        ready = false;  // the client refused us (or went away)
        break;
      }
    }
    ServerConnection connection(fd, ssl, *this);
    if (ready && handler_) handler_(connection);
    if (ssl) {
      if (ready && !connection.reset_ && connection.closeNotify_) SSL_shutdown(ssl);
      SSL_free(ssl);
      ERR_clear_error();
    }
    close(fd);
  }
}

// ---- Helpers ----------------------------------------------------------------

int runProgram(const std::vector<std::string>& argv, bool quiet, const std::string& outputFile) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!outputFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  } else if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int r = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string makeTempFolder(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) return "";
  return buf.data();
}

void removeTree(const std::string& path) {
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

TestCertificates::TestCertificates() {
  dir_ = makeTempFolder("ondcerts");
  if (dir_.empty()) return;
  const std::string cnf = dir_ + "/openssl.cnf";
  {
    std::ofstream out(cnf);
    out << "[req]\ndistinguished_name = dn\nprompt = no\n"
           "[dn]\nCN = placeholder\n"
           "[ca_ext]\nbasicConstraints = critical,CA:TRUE\n"
           "keyUsage = critical,keyCertSign,cRLSign\nsubjectKeyIdentifier = hash\n"
           "[good_ext]\nbasicConstraints = CA:FALSE\n"
           "subjectAltName = DNS:localhost,IP:127.0.0.1\nextendedKeyUsage = serverAuth\n"
           "[wrong_ext]\nbasicConstraints = CA:FALSE\n"
           "subjectAltName = DNS:elsewhere.invalid\nextendedKeyUsage = serverAuth\n"
           "[self_ext]\nbasicConstraints = CA:FALSE\n"
           "subjectAltName = DNS:localhost,IP:127.0.0.1\nextendedKeyUsage = serverAuth\n";
  }
  // EC keys: made in milliseconds, unlike RSA keys.
  const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt",
                                           "ec_paramgen_curve:prime256v1", "-nodes"};
  auto req = [&](std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), newKey.begin(), newKey.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return runProgram(head) == 0;
  };
  ca_ = dir_ + "/ca.pem";
  bool ok = req({"openssl", "req", "-x509", "-config", cnf, "-extensions", "ca_ext"},
                {"-keyout", dir_ + "/ca.key", "-out", ca_, "-days", "2", "-subj",
                 "/CN=Ondaria Test CA"});
  auto signedBy = [&](const std::string& name, const std::string& ext, TlsServerFiles& files) {
    files.key = dir_ + "/" + name + ".key";
    files.certificate = dir_ + "/" + name + ".pem";
    const std::string csr = dir_ + "/" + name + ".csr";
    return req({"openssl", "req", "-new", "-config", cnf},
               {"-keyout", files.key, "-out", csr, "-subj", "/CN=localhost"}) &&
           runProgram({"openssl", "x509", "-req", "-in", csr, "-CA", ca_, "-CAkey",
                       dir_ + "/ca.key", "-set_serial", std::to_string(name.size() + 100),
                       "-out", files.certificate, "-days", "2", "-extfile", cnf,
                       "-extensions", ext}) == 0;
  };
  ok = ok && signedBy("good", "good_ext", good_) && signedBy("wrong", "wrong_ext", wrongHost_);
  selfSigned_.key = dir_ + "/self.key";
  selfSigned_.certificate = dir_ + "/self.pem";
  ok = ok && req({"openssl", "req", "-x509", "-config", cnf, "-extensions", "self_ext"},
                 {"-keyout", selfSigned_.key, "-out", selfSigned_.certificate, "-days", "2",
                  "-subj", "/CN=localhost"});
  ok_ = ok;
}

TestCertificates::~TestCertificates() { removeTree(dir_); }

int listenOnLoopback(int backlog, int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, backlog) == 0) {
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  return fd;
}

}  // namespace ondaria::test
