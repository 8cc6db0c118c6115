// Client sockets with a buffered reader that waits with a limit while the
// console window keeps being served.
//
// Sockets are plain int descriptors, -1 for failure. After connectTcp a socket
// is non-blocking: every wait goes through socketReadable (poll with the
// read-wait time, then the window is served), so a silent or hostile peer can
// delay the program only as long as the caller's wait limit allows.
//
// Wait limits ("limit") count empty polls the way the reader always has: a
// limit L allows L x 10 empty polls, each about the read-wait time plus 100 ms
// (about 36 s for L = 30 at the default read-wait of 20 ms); 0 waits without
// end. The count is per call (per line, per connection attempt), not reset by
// the bytes that trickle in, so a peer sending one byte now and then cannot
// stretch a single line for ever.
//
// The one TLS connection (tls.h) is carried transparently: netSend, netRecv,
// socketReadable and closeConnection route its socket through TLS.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ondaria {

// Read-wait time used when "TIMEOUT_REDE" is absent or not a whole number of
// microseconds in range.
inline constexpr long kDefaultReadWaitMicros = 20000;
// Wait limit the HTTP download uses for connecting and for every header line.
inline constexpr int kDefaultWaitLimit = 30;
// Longest line readLine accepts: generous for header and INI lines, small
// enough that a peer streaming a line without an end cannot exhaust memory.
inline constexpr std::size_t kMaxLineLength = 64 * 1024;

// netRecv's result when nothing can be read yet (a non-blocking socket, or a
// TLS record not yet complete); 0 is the end of the data, -1 an error.
inline constexpr int kNetWouldBlock = -2;

// Starts the sockets layer once per run. Writing to a socket the peer has
// closed must give an error, not end the process, so SIGPIPE is ignored.
bool netStartup();
void netCleanup();

// One resolved peer address.
struct NetAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

// Resolves a host for a TCP connection on `port`. A host whose first character
// is a digit is taken as a numeric address (IPv4 dotted or IPv6) without any
// name query, so a name beginning with a digit ("9fm") does not resolve. Other
// names go through getaddrinfo (IPv6 and IPv4). A host in square brackets
// ("[::1]", as URLs write IPv6 literals) is resolved without them. Empty on
// failure.
std::vector<NetAddress> resolveHost(const std::string& host, int port);

// Connects to host:port, trying each resolved address in turn, and reads the
// read-wait time from "TIMEOUT_REDE" (section "LUMARE") first. The attempt
// gives up after `limit` x 10 empty polls in all. -1 on any failure.
int connectTcp(const std::string& host, int port, int limit = kDefaultWaitLimit);

// Closes the socket (ends TLS first when it is the TLS socket). Negative: nothing.
void closeConnection(int socket);

// One send or receive attempt, through TLS for the TLS socket.
// netSend: bytes written, or -1. It waits (serving the window) while the socket
// cannot take more, up to the default wait limit.
// netRecv: bytes read, 0 at the end of the data, -1 on error, kNetWouldBlock.
int netSend(int socket, const char* bytes, std::size_t length);
int netRecv(int socket, char* buffer, std::size_t size);

// Sends the whole text; true when it all went out.
bool sendText(int socket, const std::string& text);
// As sendText with CR LF appended.
bool sendLine(int socket, const std::string& text);

// True when data (or the end of the data) can be read now or within the
// read-wait time; decrypted TLS bytes count without a poll. Serves the window.
bool socketReadable(int socket);

// Waits with the wait discipline until the socket can be read (forWrite false)
// or written, counting empty polls in `emptyPolls` against `limit` x 10. False
// when they run out. Used by the TLS handshake.
bool waitSocketEvent(int socket, bool forWrite, int limit, int& emptyPolls);

// Read-wait time in microseconds as set by the last connectTcp.
long readWaitMicros();

// The user's way out of a wait: a check made after the window was served in
// every wait of this layer (connecting, the TLS handshake, sending, reading).
// Once it returns true, that wait and every later one give up at once as if
// their limit had run out, until the check is removed or replaced; the caller
// knows why its transfer failed, since the check is its own. Installed by the
// code that lets the user abandon a transfer (ESC), for the transfer's span.
// Pass nullptr to remove it.
using NetGiveUpCheck = std::function<bool()>;
void setNetGiveUpCheck(NetGiveUpCheck check);
// True when the installed check has asked to give up.
bool netGivenUp();

// Why a reader stopped handing out bytes.
enum class ReaderState {
  open,      // more may come
  ended,     // the peer closed the connection cleanly
  failed,    // the connection broke (reset, TLS error)
  timedOut,  // the wait limit ran out
  tooLong,   // a line exceeded kMaxLineLength
};

// Buffered reader over one socket. Owned by its creator (newReader/freeReader).
struct Reader {
  int socket = -1;
  // 4096 bytes: one buffer refill serves many short lines; bulk reads of bodies
  // bypass it (readSome).
  std::array<char, 4096> buffer{};
  std::size_t position = 4096;  // next byte to hand out
  std::size_t count = 0;        // valid bytes in the buffer
  ReaderState state = ReaderState::open;
};
using ReaderPtr = std::unique_ptr<Reader>;

ReaderPtr newReader(int socket);
void freeReader(ReaderPtr& reader);

// True when a byte can be taken without blocking (buffered, or the socket is
// readable, which includes the end of the data).
bool readerReady(Reader* reader);

// Takes one byte, waiting up to kDefaultWaitLimit; false at the end of the
// data, on an error or when the wait runs out (see reader->state).
bool readByte(Reader* reader, char& byte);

// Reads one line: up to a line feed, which is dropped together with a carriage
// return before it. A last line without a line feed counts when it is not
// empty. False when nothing was read before the end of the data, when `limit`
// x 10 empty polls pass, or when the line grows past kMaxLineLength
// (reader->state tells which).
bool readLine(Reader* reader, int limit, std::string& line);

// Waits until the reader can hand out data, counting empty polls in
// `emptyPolls` against `limit` x 10. False (state timedOut) when they run out.
bool waitForData(Reader* reader, int limit, int& emptyPolls);

// Bulk read for bodies: hands out buffered bytes first, otherwise one receive
// straight into `dest`. Call after waitForData said ready. Returns the count;
// 0 when nothing came (state tells whether the data ended or failed; an open
// state means try waiting again).
std::size_t readSome(Reader* reader, char* dest, std::size_t max);

}  // namespace ondaria
