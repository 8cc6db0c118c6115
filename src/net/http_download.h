// HTTP/1.0 download: one GET at a time over the sockets layer (TLS for
// "https"), redirections followed, the body written to a file.
//
// This layer says nothing to the user: every operation returns what happened
// (NetFailure) and the caller words it. The usual wording:
//   badAnswer, timedOut          -> "ODERRSRV" (the server's answer is unusable)
//   cannotCreateFile, writeFailed -> "ODERRWAR"
//   tooLarge                      -> its own message (the size limit was hit)
//   anything else                 -> the caller's usual failure
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/sockets.h"

namespace ondaria {

enum class NetFailure {
  none,
  badAddress,               // the address cannot be split (port not a number, ...)
  noConnection,             // host not found, refused, timed out, TLS handshake failed
  timedOut,                 // the answer stopped coming within the wait limit
  badAnswer,                // not an HTTP answer, bad status, header too long
  httpStatus,               // final status not 200 (see the status field)
  tooManyRedirects,         // still redirected after kMaxAnswers answers
  redirectWithoutLocation,  // a 3xx answer that names no new address
  tooLarge,                 // the body passed the size limit; the download stopped
  truncated,                // the connection broke, or ended before Content-Length
  cannotCreateFile,
  writeFailed,
};

// Readable name of a failure, for logs and test messages.
const char* netFailureName(NetFailure failure);

// A download chain ends as a failure when the 10th answer is still a redirection.
inline constexpr int kMaxAnswers = 10;
// Header lines, and header bytes, of one answer beyond which it is refused;
// real answers use a few dozen lines and a few kilobytes.
inline constexpr int kMaxHeaderLines = 200;
inline constexpr std::size_t kMaxHeaderBytes = 256 * 1024;
// Size limits: a playlist is a few lines (1 MB is far beyond any real one); a
// complete station list holds thousands of entries (64 MB is far beyond it).
inline constexpr std::uint64_t kPlaylistSizeLimit = 1024 * 1024;
inline constexpr std::uint64_t kStationListSizeLimit = 64ull * 1024 * 1024;

// How every request names the program unless its caller names it otherwise.
inline constexpr const char* kDefaultUserAgent = "Brisol 2.4";

struct DownloadOptions {
  std::uint64_t maxBodyBytes = kPlaylistSizeLimit;
  // Wait limit (sockets.h) for connecting, for each header line and for each
  // 8 KB of the body.
  int waitLimit = kDefaultWaitLimit;
  // The User-Agent line's value (a service may ask its clients to name themselves).
  std::string userAgent = kDefaultUserAgent;
};
inline DownloadOptions playlistDownload() { return {kPlaylistSizeLimit, kDefaultWaitLimit}; }
inline DownloadOptions stationListDownload() { return {kStationListSizeLimit, kDefaultWaitLimit}; }

// Parts of an address. scheme is upper case ("HTTP" when none is named); the
// target begins with "/"; an IPv6 host keeps its brackets ("[::1]").
struct UrlParts {
  std::string scheme;
  std::string host;
  int port = 80;
  std::string target;
};

// Splits an address ("http://host:8080/x", "host/x", "https://host?id=5").
// False when the port is not a number in 1..65535, the host is empty, or the
// address is absurdly long (more than kMaxAddressLength bytes).
inline constexpr std::size_t kMaxAddressLength = 8192;
bool splitUrl(const std::string& address, UrlParts& parts);

// Replaces every byte of the URL special set (controls, blank, 0x7F-0xFF and
// " % < > [ ] \ ^ _ ` { | } ~) by "%" and two upper-case hex digits, except a
// "%" that begins an escape ("%20"): an address is never escaped twice.
std::string encodeUrl(const std::string& text);

// The exact request bytes sent for one GET.
std::string httpRequestText(const std::string& host, const std::string& target,
                            const std::string& userAgent = kDefaultUserAgent);

// One exchange, up to the end of the header block. After a 200 answer the
// connection stays open in socket/reader for the body; otherwise it is closed.
// The destructor closes whatever is still open.
struct HttpAnswer {
  int status = 500;                 // 500 until a status line has been read
  bool answered = false;            // a status line has been read
  std::int64_t contentLength = -1;  // -1: the 200 answer named none
  std::string location;             // last "Location:" of a 3xx answer
  int socket = -1;
  ReaderPtr reader;
  NetFailure failure = NetFailure::none;

  HttpAnswer() = default;
  HttpAnswer(const HttpAnswer&) = delete;
  HttpAnswer& operator=(const HttpAnswer&) = delete;
  HttpAnswer(HttpAnswer&& other) noexcept;
  HttpAnswer& operator=(HttpAnswer&& other) noexcept;
  ~HttpAnswer();
  // Frees the reader and closes the socket.
  void close();
};

// False when no HTTP answer came (failure says why); true for any status.
bool httpRequest(const UrlParts& parts, HttpAnswer& answer, int waitLimit = kDefaultWaitLimit,
                 const std::string& userAgent = kDefaultUserAgent);

// Requests `address`, following redirections (also relative ones). True when
// the final answer is 200; `answer` then holds the open connection.
bool httpGetFollow(const std::string& address, HttpAnswer& answer,
                   int waitLimit = kDefaultWaitLimit,
                   const std::string& userAgent = kDefaultUserAgent);

// Copies the rest of the connection into `fileName` (created or replaced),
// stopping at options.maxBodyBytes (tooLarge). `expectedLength` (-1: unknown)
// tells a body cut short (truncated) from a complete one. `written` receives
// the bytes stored. Discards the keys typed meanwhile.
NetFailure writeBodyToFile(Reader* reader, const std::string& fileName,
                           const DownloadOptions& options, std::int64_t expectedLength = -1,
                           std::uint64_t* written = nullptr);

struct DownloadResult {
  bool ok = false;  // final answer 200 and the whole body stored
  int status = 0;   // last HTTP status (0: no status line was read)
  NetFailure failure = NetFailure::none;
  std::uint64_t bytes = 0;  // body bytes stored in the file
  explicit operator bool() const { return ok; }
};

// httpGetFollow, then writeBodyToFile.
DownloadResult downloadToFile(const std::string& address, const std::string& fileName,
                              const DownloadOptions& options = playlistDownload());

// The lines of `address`: read from the local file of that name when one
// exists, otherwise downloaded into a temporary file that is always deleted.
// Lines end at LF, CR LF or CR. On failure `list` is left empty.
DownloadResult loadListFromAddress(const std::string& address, std::vector<std::string>& list,
                                   const DownloadOptions& options = playlistDownload());

// Creates a new empty file "ond*" in the temporary directory ($TMPDIR, else
// /tmp) and returns its full name; empty when none can be created.
std::string tempFileName();

}  // namespace ondaria
