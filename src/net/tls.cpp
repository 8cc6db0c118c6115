#include "net/tls.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>

#include "console/core/console.h"

namespace ondaria {
namespace {

struct TlsState {
  SSL_CTX* context = nullptr;
  SSL* connection = nullptr;
  int socket = -1;
  bool up = false;
  std::string lastFailure;
};

TlsState& tls() {
  static TlsState s;
  return s;
}

bool isAddressLiteral(const std::string& host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::string openSslErrorText() {
  unsigned long code = ERR_get_error();
  if (code == 0) return "connection failed";
  char text[256];  // ERR_error_string_n truncates to the size given
  ERR_error_string_n(code, text, sizeof text);
  ERR_clear_error();
  return text;
}

void dropConnection() {
  TlsState& s = tls();
  if (s.connection) {
    // Best effort close notify; the socket may already be gone or full, and the
    // peer's answer is not awaited.
    if (s.up) SSL_shutdown(s.connection);
    SSL_free(s.connection);
    ERR_clear_error();
  }
  s.connection = nullptr;
  s.socket = -1;
  s.up = false;
}

int clampSize(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

}  // namespace

bool tlsInit() {
  TlsState& s = tls();
  if (s.context) return true;
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) return false;
  // TLS 1.0 and 1.1 are withdrawn (RFC 8996).
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  // A server that closes the connection without a close notify ends the data
  // like a plain close; truncation shows up against the Content-Length.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
    SSL_CTX_free(ctx);
    ERR_clear_error();
    return false;
  }
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  s.context = ctx;
  return true;
}

bool tlsConnect(int socket, const std::string& host, int limit) {
  TlsState& s = tls();
  s.lastFailure.clear();
  dropConnection();  // one connection at a time: a new one replaces the old
  if (socket < 0 || !tlsInit()) {
    s.lastFailure = "no TLS context";
    return false;
  }
  std::string name = host;
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
    name = name.substr(1, name.size() - 2);
  }
  ERR_clear_error();
  SSL* ssl = SSL_new(s.context);
  if (!ssl || SSL_set_fd(ssl, socket) != 1) {
    if (ssl) SSL_free(ssl);
    s.lastFailure = openSslErrorText();
    return false;
  }
  bool named;
  if (isAddressLiteral(name)) {
    // An address is checked against the certificate's IP entries and is never
    // sent as a server name.
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) == 1;
  } else {
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = SSL_set_tlsext_host_name(ssl, name.c_str()) == 1 && SSL_set1_host(ssl, name.c_str()) == 1;
  }
  if (!named) {
    SSL_free(ssl);
    s.lastFailure = "host name not usable for TLS";
    ERR_clear_error();
    return false;
  }
  int emptyPolls = 0;
  for (;;) {
    ERR_clear_error();
    int r = SSL_connect(ssl);
    if (r == 1) break;
    int e = SSL_get_error(ssl, r);
    bool waited = false;
    if (e == SSL_ERROR_WANT_READ) waited = waitSocketEvent(socket, false, limit, emptyPolls);
    if (e == SSL_ERROR_WANT_WRITE) waited = waitSocketEvent(socket, true, limit, emptyPolls);
    if (waited) continue;
    long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK) {
      s.lastFailure = std::string("certificate: ") + X509_verify_cert_error_string(verify);
    } else if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      s.lastFailure = "handshake timed out";
    } else {
      s.lastFailure = openSslErrorText();
    }
    ERR_clear_error();
    SSL_free(ssl);
    return false;
  }
  s.connection = ssl;
  s.socket = socket;
  s.up = true;
  return true;
}

int connectTls(const std::string& host, int port, int limit) {
  int socket = connectTcp(host, port, limit);
  if (socket < 0) return -1;
  if (!tlsConnect(socket, host, limit)) {
    closeConnection(socket);
    tlsClose();
    return -1;
  }
  return socket;
}

int tlsRead(char* buffer, std::size_t size) {
  TlsState& s = tls();
  if (!s.up || !s.connection) return -1;
  ERR_clear_error();
  int n = SSL_read(s.connection, buffer, clampSize(size));
  int e = SSL_get_error(s.connection, n);
  switch (e) {
    case SSL_ERROR_NONE:
      return n;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      return kNetWouldBlock;
    case SSL_ERROR_ZERO_RETURN:
      return 0;
    case SSL_ERROR_SYSCALL:
      ERR_clear_error();
      return -1;
    default:
      ERR_clear_error();
      writeLine("Erro SSL: " + std::to_string(e));
      return -1;
  }
}

int tlsWrite(const char* bytes, std::size_t length) {
  TlsState& s = tls();
  if (!s.up || !s.connection) return -1;
  ERR_clear_error();
  int n = SSL_write(s.connection, bytes, clampSize(length));
  int e = SSL_get_error(s.connection, n);
  if (e == SSL_ERROR_NONE) return n;
  if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) return kNetWouldBlock;
  ERR_clear_error();
  return -1;
}

bool tlsPending() {
  TlsState& s = tls();
  return s.up && s.connection && SSL_pending(s.connection) > 0;
}

void tlsClose() {
  TlsState& s = tls();
  dropConnection();
  if (s.context) SSL_CTX_free(s.context);
  s.context = nullptr;
}

int tlsSocket() { return tls().up ? tls().socket : -1; }

bool tlsUp() { return tls().up; }

std::string tlsLastFailure() { return tls().lastFailure; }

}  // namespace ondaria
