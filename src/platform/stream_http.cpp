#include "platform/stream_http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

// Longest wait of one poll(): bounds how late an abort or a deadline is seen.
constexpr int kPollSliceMs = 50;
// A response whose headers run past this is not a stream server's.
constexpr size_t kMaxHeaderBytes = 64 * 1024;
// Redirects followed before giving up (loops end here too).
constexpr int kMaxRedirects = 5;
// Largest single read from the socket.
constexpr size_t kReadChunk = 16 * 1024;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string base64(const std::string& in) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i + 1 == in.size()) {
    uint32_t v = uint8_t(in[i]) << 16;
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

SSL_CTX* tlsContext() {
  static std::once_flag once;
  static SSL_CTX* ctx = nullptr;
  std::call_once(once, [] {
    ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // The system's trusted certificates (SSL_CERT_FILE / SSL_CERT_DIR honoured).
    SSL_CTX_set_default_verify_paths(ctx);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  });
  return ctx;
}

int waitFd(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  int r = ::poll(&p, 1, ms);
  return r > 0 ? p.revents : 0;
}

}  // namespace

int64_t steadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---- addresses ----

bool StreamUrl::parse(const std::string& text) {
  size_t sep = text.find("://");
  if (sep == std::string::npos) return false;
  scheme = lower(text.substr(0, sep));
  if (scheme == "http") {
    port = 80;
  } else if (scheme == "https") {
    port = 443;
  } else {
    return false;
  }
  size_t hostStart = sep + 3;
  size_t pathStart = text.find_first_of("/?#", hostStart);
  std::string authority = text.substr(hostStart, pathStart == std::string::npos ? std::string::npos
                                                                                  : pathStart - hostStart);
  path = pathStart == std::string::npos ? "/" : text.substr(pathStart);
  size_t hash = path.find('#');
  if (hash != std::string::npos) path.erase(hash);
  if (path.empty() || path[0] != '/') path = "/" + path;
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return false;
      portText = authority.substr(close + 2);
    }
  } else {
    size_t colon = authority.rfind(':');
    host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
  }
  if (!portText.empty()) {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    port = std::stoi(portText);
    if (port <= 0 || port > 65535) return false;
  }
  return !host.empty();
}

std::string StreamUrl::hostPort() const {
  std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  bool defaultPort = (scheme == "http" && port == 80) || (scheme == "https" && port == 443);
  return defaultPort ? h : h + ":" + std::to_string(port);
}

std::string StreamUrl::text() const { return scheme + "://" + hostPort() + path; }

std::string resolveUrl(const StreamUrl& base, const std::string& reference) {
  if (reference.find("://") != std::string::npos) return reference;
  if (reference.rfind("//", 0) == 0) return base.scheme + ":" + reference;
  if (!reference.empty() && reference[0] == '/') return base.scheme + "://" + base.hostPort() + reference;
  std::string dir = base.path.substr(0, base.path.find('?'));
  dir.erase(dir.rfind('/') + 1);
  return base.scheme + "://" + base.hostPort() + dir + reference;
}

std::string escapeRequestTarget(const std::string& path) {
  static const char* const kHex = "0123456789ABCDEF";
  static const std::string kUnsafe = "\"<>\\^`{|}";
  auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    const auto b = static_cast<unsigned char>(c);
    const bool escape = i + 2 < path.size() && c == '%' && isHex(path[i + 1]) && isHex(path[i + 2]);
    if (b <= 0x20 || b >= 0x7F || kUnsafe.find(c) != std::string::npos || (c == '%' && !escape)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

// ---- download buffer ----

void ByteRing::setCapacity(size_t capacity) {
  capacity = std::max(capacity, size_);
  std::vector<uint8_t> fresh(capacity);
  peek(fresh.data(), size_);
  data_.swap(fresh);
  start_ = 0;
}

size_t ByteRing::write(const uint8_t* src, size_t n) {
  n = std::min(n, room());
  if (n == 0) return 0;
  size_t cap = data_.size();
  size_t end = (start_ + size_) % (cap ? cap : 1);
  size_t first = std::min(n, cap - end);
  std::memcpy(data_.data() + end, src, first);
  std::memcpy(data_.data(), src + first, n - first);
  size_ += n;
  return n;
}

size_t ByteRing::peek(uint8_t* dst, size_t n) const {
  n = std::min(n, size_);
  if (n == 0) return 0;
  size_t cap = data_.size();
  size_t first = std::min(n, cap - start_);
  std::memcpy(dst, data_.data() + start_, first);
  std::memcpy(dst + first, data_.data(), n - first);
  return n;
}

size_t ByteRing::peekAt(size_t offset, uint8_t* dst, size_t n) const {
  if (offset >= size_) return 0;
  n = std::min(n, size_ - offset);
  if (n == 0) return 0;
  size_t cap = data_.size();
  size_t from = (start_ + offset) % cap;
  size_t first = std::min(n, cap - from);
  std::memcpy(dst, data_.data() + from, first);
  std::memcpy(dst + first, data_.data(), n - first);
  return n;
}

size_t ByteRing::skip(size_t n) {
  n = std::min(n, size_);
  start_ = data_.empty() ? 0 : (start_ + n) % data_.size();
  size_ -= n;
  return n;
}

size_t ByteRing::read(uint8_t* dst, size_t n) {
  n = peek(dst, n);
  return skip(n);
}

// ---- sockets ----

struct HttpStream::Transport {
  int fd = -1;
  SSL* ssl = nullptr;
  bool wantWrite = false;  // TLS asked to wait for writability

  ~Transport() {
    if (ssl) SSL_free(ssl);
    if (fd >= 0) ::close(fd);
  }
  // > 0 bytes, 0 end of stream, -1 error, -2 nothing yet.
  int recv(uint8_t* buf, size_t n) {
    wantWrite = false;
    if (!ssl) {
      ssize_t r = ::recv(fd, buf, n, 0);
      if (r >= 0) return static_cast<int>(r);
      return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -2 : -1;
    }
    return tlsResult(SSL_read(ssl, buf, static_cast<int>(n)), true);
  }
  int send(const uint8_t* buf, size_t n) {
    wantWrite = false;
    if (!ssl) {
      ssize_t r = ::send(fd, buf, n, MSG_NOSIGNAL);
      if (r >= 0) return static_cast<int>(r);
      return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -2 : -1;
    }
    return tlsResult(SSL_write(ssl, buf, static_cast<int>(n)), false);
  }
  // The result of an SSL_read/SSL_write call in the terms of recv/send above;
  // a clean close counts as the end of the stream only when reading.
  int tlsResult(int r, bool reading) {
    if (r > 0) return r;
    const int e = SSL_get_error(ssl, r);
    if (e == SSL_ERROR_WANT_READ) return -2;
    if (e == SSL_ERROR_WANT_WRITE) {
      wantWrite = true;
      return -2;
    }
    ERR_clear_error();
    return reading && e == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
  bool hasPending() const { return ssl && SSL_pending(ssl) > 0; }
  short events() const { return wantWrite ? POLLOUT : POLLIN; }
};

namespace {

// Waits for `events` on fd in short slices until the deadline; the result is
// Ok when ready.
NetResult waitReady(int fd, short events, int64_t deadlineMs, const std::atomic<bool>* abort) {
  for (;;) {
    if (abort && abort->load()) return NetResult::Aborted;
    int64_t left = deadlineMs - steadyMs();
    if (left <= 0) return NetResult::Timeout;
    if (waitFd(fd, events, static_cast<int>(std::min<int64_t>(left, kPollSliceMs)))) return NetResult::Ok;
  }
}

NetResult connectTcp(const std::string& host, int port, int64_t deadlineMs,
                     const std::atomic<bool>* abort, int& fdOut, FailReason& reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  // The name is resolved here rather than inside the connect loop so that an
  // unknown host is told apart from a server that went away.
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) {
    reason = FailReason::UnknownHost;
    return NetResult::NotFound;
  }
  NetResult result = NetResult::NotFound;
  reason = FailReason::Refused;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    int r = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
    int err = r == 0 ? 0 : errno;
    if (r != 0 && err == EINPROGRESS) {
      NetResult w = waitReady(fd, POLLOUT, deadlineMs, abort);
      if (w != NetResult::Ok) {
        ::close(fd);
        result = w;
        reason = w == NetResult::Timeout ? FailReason::Timeout : FailReason::Cancelled;
        break;
      }
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
    }
    if (err != 0) {
      ::close(fd);
      if (err == ENETUNREACH || err == EHOSTUNREACH || err == ENETDOWN) reason = FailReason::Unreachable;
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fdOut = fd;
    result = NetResult::Ok;
    reason = FailReason::None;
    break;
  }
  freeaddrinfo(list);
  return result;
}

struct ProxyAddress {
  std::string host;
  int port = 0;
  std::string auth;  // "user:pass" or empty
  bool parse(const std::string& text) {
    std::string t = text;
    size_t at = t.rfind('@');
    if (at != std::string::npos) {
      auth = t.substr(0, at);
      t.erase(0, at + 1);
    }
    StreamUrl u;
    if (!u.parse("http://" + t)) return false;
    host = u.host;
    port = u.port;
    return true;
  }
};

}  // namespace

// ---- the stream ----

HttpStream::HttpStream() = default;
HttpStream::~HttpStream() = default;

bool HttpStream::aborted() const { return options_.abort && options_.abort->load(); }

void HttpStream::close() {
  transport_.reset();
  connected_ = false;
}

NetResult HttpStream::failWith(NetResult result, FailReason reason) {
  failReason_ = result == NetResult::Timeout   ? FailReason::Timeout
                : result == NetResult::Aborted ? FailReason::Cancelled
                                               : reason;
  return result;
}

bool HttpStream::complete() const {
  return contentLength_ >= 0 && downloaded_.load() >= static_cast<uint64_t>(contentLength_);
}

NetResult HttpStream::open(const std::string& url, const Options& options) {
  options_ = options;
  failReason_ = FailReason::None;
  failStatus_ = 0;
  ring_.setCapacity(options.bufferCapacity);
  int64_t deadline = options.deadlineMs > 0 ? options.deadlineMs : steadyMs() + std::max(options.timeoutMs, 1);
  std::string current = url;
  for (int hop = 0; hop <= kMaxRedirects; ++hop) {
    StreamUrl target;
    if (!target.parse(current)) return failWith(NetResult::NotFound, FailReason::BadAddress);
    std::string location;
    NetResult r = openOnce(target, deadline, location);
    if (r == NetResult::Timeout) timedOut_ = true;
    if (r != NetResult::Ok) {
      close();
      return r;
    }
    url_ = target.text();
    if (status_ == 200) {
      // openOnce marked the download live, or already over when the whole
      // body came with the headers.
      lastDataMs_ = steadyMs();
      return NetResult::Ok;
    }
    close();
    bool redirect = status_ == 301 || status_ == 302 || status_ == 303 || status_ == 307 ||
                    status_ == 308;
    if (!redirect || location.empty()) {
      failStatus_ = status_;
      return failWith(NetResult::NotFound, FailReason::HttpStatus);
    }
    current = resolveUrl(target, location);
  }
  return failWith(NetResult::NotFound, FailReason::Redirects);
}

NetResult HttpStream::openOnce(const StreamUrl& target, int64_t deadlineMs, std::string& location) {
  transport_ = std::make_unique<Transport>();
  lines_.clear();
  status_ = 0;
  isIcy_ = false;
  contentLength_ = -1;
  icy_ = IcyDemux();

  ProxyAddress proxy;
  bool viaProxy = !options_.proxy.empty() && proxy.parse(options_.proxy);
  std::string proxyAuth;
  if (viaProxy && !proxy.auth.empty()) {
    proxyAuth = "Proxy-Authorization: Basic " + base64(proxy.auth) + "\r\n";
  }
  FailReason why = FailReason::None;
  NetResult r = viaProxy ? connectTcp(proxy.host, proxy.port, deadlineMs, options_.abort, transport_->fd, why)
                         : connectTcp(target.host, target.port, deadlineMs, options_.abort, transport_->fd, why);
  if (r != NetResult::Ok) return failWith(r, why);

  auto sendAll = [&](const std::string& text) -> NetResult {
    size_t sent = 0;
    while (sent < text.size()) {
      int n = transport_->send(reinterpret_cast<const uint8_t*>(text.data()) + sent, text.size() - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n == -1) return failWith(NetResult::NotFound, FailReason::Closed);
      NetResult w = waitReady(transport_->fd, transport_->ssl ? transport_->events() : POLLOUT,
                              deadlineMs, options_.abort);
      if (w != NetResult::Ok) return failWith(w, FailReason::Closed);
    }
    return NetResult::Ok;
  };

  bool tls = target.scheme == "https";
  if (viaProxy && tls) {
    // A tunnel through the proxy; TLS then runs end to end.
    r = sendAll("CONNECT " + target.hostPort() + (target.hostPort().find(':') == std::string::npos
                                                      ? ":" + std::to_string(target.port)
                                                      : "") +
                " HTTP/1.0\r\nHost: " + target.hostPort() + "\r\n" + proxyAuth + "\r\n");
    if (r != NetResult::Ok) return r;
    std::string rest;
    r = readHeaders(deadlineMs, rest);
    if (r != NetResult::Ok) return r;
    if (status_ != 200) {
      failStatus_ = status_;
      return failWith(NetResult::NotFound, FailReason::HttpStatus);
    }
    lines_.clear();
    status_ = 0;
  }
  if (tls) {
    SSL_CTX* ctx = tlsContext();
    if (!ctx) return failWith(NetResult::NotFound, FailReason::Tls);
    transport_->ssl = SSL_new(ctx);
    SSL* ssl = transport_->ssl;
    SSL_set_fd(ssl, transport_->fd);
    in6_addr probe6;
    in_addr probe4;
    bool literal = inet_pton(AF_INET, target.host.c_str(), &probe4) == 1 ||
                   inet_pton(AF_INET6, target.host.c_str(), &probe6) == 1;
    if (literal) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), target.host.c_str());
    } else {
      SSL_set_tlsext_host_name(ssl, target.host.c_str());
      SSL_set1_host(ssl, target.host.c_str());
    }
    for (;;) {
      int c = SSL_connect(ssl);
      if (c == 1) break;
      int e = SSL_get_error(ssl, c);
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
        ERR_clear_error();
        // Handshake refused, or the certificate not trusted for this host.
        const bool certificate = SSL_get_verify_result(ssl) != X509_V_OK;
        return failWith(NetResult::NotFound, certificate ? FailReason::Certificate : FailReason::Tls);
      }
      NetResult w = waitReady(transport_->fd, e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, deadlineMs,
                              options_.abort);
      if (w != NetResult::Ok) return failWith(w, FailReason::Tls);
    }
  }

  const std::string path = escapeRequestTarget(target.path);
  std::string request =
      "GET " + ((viaProxy && !tls) ? target.scheme + "://" + target.hostPort() + path : path) + " HTTP/1.0\r\n";
  request += "Host: " + target.hostPort() + "\r\n";
  request += "User-Agent: " + (options_.userAgent.empty() ? std::string("Ondaria/3.0") : options_.userAgent) +
             "\r\n";
  request += "Accept: */*\r\n";
  request += "Icy-MetaData: 1\r\n";
  if (viaProxy && !tls) request += proxyAuth;
  request += "Connection: close\r\n\r\n";
  r = sendAll(request);
  if (r != NetResult::Ok) return r;

  std::string rest;
  r = readHeaders(deadlineMs, rest);
  if (r != NetResult::Ok) return r;
  location = header("location");
  if (status_ != 200) return NetResult::Ok;

  std::string len = header("content-length");
  if (!len.empty() && len.find_first_not_of("0123456789") == std::string::npos && len.size() < 19) {
    contentLength_ = std::stoll(len);
  }
  std::string mi = header("icy-metaint");
  size_t metaint = 0;
  if (!mi.empty() && mi.find_first_not_of("0123456789") == std::string::npos && mi.size() < 9) {
    metaint = static_cast<size_t>(std::stoul(mi));
  }
  icy_ = IcyDemux(metaint);
  connected_ = true;
  if (!rest.empty()) acceptBody(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
  return NetResult::Ok;
}

NetResult HttpStream::readHeaders(int64_t deadlineMs, std::string& rest) {
  std::string raw;
  uint8_t buf[4096];
  size_t end = std::string::npos;
  size_t sepLen = 0;
  while (end == std::string::npos) {
    NetResult w = transport_->hasPending()
                      ? NetResult::Ok
                      : waitReady(transport_->fd, transport_->events(), deadlineMs, options_.abort);
    if (w != NetResult::Ok) return failWith(w, FailReason::Closed);
    int n = transport_->recv(buf, sizeof buf);
    if (n == -2) continue;
    // Closed or reset before the headers ended.
    if (n <= 0) return failWith(NetResult::NotFound, FailReason::Closed);
    raw.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    size_t crlf = raw.find("\r\n\r\n");
    size_t lf = raw.find("\n\n");
    if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) {
      end = crlf;
      sepLen = 4;
    } else if (lf != std::string::npos) {
      end = lf;
      sepLen = 2;
    } else if (raw.size() > kMaxHeaderBytes) {
      return failWith(NetResult::NotFound, FailReason::NotHttp);
    }
  }
  rest = raw.substr(end + sepLen);
  raw.erase(end);
  if (!parseResponseHead(raw, lines_, status_, isIcy_)) return failWith(NetResult::NotFound, FailReason::NotHttp);
  return NetResult::Ok;
}

std::string HttpStream::header(const std::string& name) const { return headerValue(lines_, name); }

std::string HttpStream::contentType() const {
  std::string t = lower(header("content-type"));
  size_t semi = t.find(';');
  if (semi != std::string::npos) t.erase(semi);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
  return t;
}

void HttpStream::acceptBody(const uint8_t* data, size_t n) {
  downloaded_ += n;
  icy_.feed(
      data, n,
      [this](const uint8_t* audio, size_t count) {
        ring_.write(audio, count);
        if (onData) onData(audio, count);
      },
      [this](const std::string& text) {
        lastMeta_ = text;
        if (onMetadata) onMetadata(text);
      });
  buffered_ = ring_.size();
  if (contentLength_ >= 0 && downloaded_.load() >= static_cast<uint64_t>(contentLength_)) endDownload();
}

void HttpStream::endDownload() {
  if (!connected_) return;
  connected_ = false;
  transport_.reset();
  if (onData) onData(nullptr, 0);
}

size_t HttpStream::pump(int waitMs) {
  if (!connected_ || !transport_) return 0;
  size_t room = ring_.room();
  if (room == 0) {
    // Not reading because the buffer is full does not count as silence.
    lastDataMs_ = steadyMs();
    return 0;
  }
  if (!transport_->hasPending() && !waitFd(transport_->fd, transport_->events(), waitMs)) {
    if (readTimeoutMs_ > 0 && steadyMs() - lastDataMs_ >= readTimeoutMs_) endDownload();
    return 0;
  }
  // Raw bytes include metadata, so at most `room` of them can be audio.
  uint8_t buf[kReadChunk];
  int n = transport_->recv(buf, std::min(room, sizeof buf));
  if (n == -2) return 0;
  if (n <= 0) {
    endDownload();  // closed by the server, or reset
    return 0;
  }
  lastDataMs_ = steadyMs();
  size_t before = ring_.size();
  acceptBody(buf, static_cast<size_t>(n));
  return ring_.size() - before;
}

size_t HttpStream::readBody(uint8_t* dst, size_t n) {
  size_t got = ring_.read(dst, n);
  buffered_ = ring_.size();
  return got;
}

size_t HttpStream::peekBody(size_t offset, uint8_t* dst, size_t n) const { return ring_.peekAt(offset, dst, n); }

size_t HttpStream::skipBody(size_t n) {
  size_t got = ring_.skip(n);
  buffered_ = ring_.size();
  return got;
}

bool HttpStream::waitFor(size_t bytes, int64_t deadlineMs) {
  while (ring_.size() < bytes && connected_ && ring_.room() > 0) {
    if (aborted()) return false;
    int64_t slice = kPollSliceMs;
    if (deadlineMs > 0) {
      int64_t left = deadlineMs - steadyMs();
      if (left <= 0) {
        timedOut_ = true;
        return false;
      }
      slice = std::min(slice, left);
    }
    pump(static_cast<int>(slice));
  }
  return true;
}

}  // namespace platform
