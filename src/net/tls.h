// Client TLS over OpenSSL 3, one connection at a time, carried by the sockets
// layer (sockets.h) for its socket.
//
// The server's certificate chain is verified against the system's trusted
// certificates (OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR are
// honoured) and must name the host that was asked for. A failed verification
// is a failed handshake: connectTls returns -1 like any other failed
// connection, and the caller reports its usual failure. The host name also goes
// out as the server-name indication for virtual hosting.
#pragma once

#include <cstddef>
#include <string>

#include "net/sockets.h"

namespace ondaria {

// Makes sure a client context exists. False when none can be created.
bool tlsInit();

// connectTcp, then the handshake with `host`; on failure the socket is closed,
// TLS is reset and -1 is returned. Replaces any earlier TLS connection.
int connectTls(const std::string& host, int port, int limit = kDefaultWaitLimit);

// Handshake on a connected socket, waiting up to `limit` x 10 empty polls.
bool tlsConnect(int socket, const std::string& host, int limit = kDefaultWaitLimit);

// One read: count, 0 when the peer ended the session (close notify, or a plain
// close of the connection), -1 on error, kNetWouldBlock when a record is not
// complete yet. An error other than a broken connection (a damaged record, a
// protocol violation) also writes "Erro SSL: " and OpenSSL's error code on its
// own console line, not spoken.
int tlsRead(char* buffer, std::size_t size);
// One write: count, -1 on error, kNetWouldBlock when the socket is full.
int tlsWrite(const char* bytes, std::size_t length);

// Up, and decrypted bytes are waiting.
bool tlsPending();
// Ends the connection and drops the context (the next connection makes a new
// one, which also picks up a changed SSL_CERT_FILE).
void tlsClose();

// The socket the TLS connection runs over while it is up, else -1.
int tlsSocket();
bool tlsUp();

// Text of the last handshake failure (verification result or OpenSSL error),
// for diagnostics and tests; empty after a successful handshake.
std::string tlsLastFailure();

}  // namespace ondaria
