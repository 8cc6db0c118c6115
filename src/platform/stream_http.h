// The stream engine's HTTP/1.0 client: one GET over a plain or TLS socket,
// with redirects, an optional HTTP proxy and ICY in-band metadata.
//
// Why its own client rather than FFmpeg's: the stream player needs the server's
// response headers exactly as sent (FFmpeg keeps only a rewritten subset), the
// raw in-band metadata texts, and a download buffer whose fill level it can
// read; and the decode thread must never sit in a blocking read while decoded
// audio runs low, so every wait here is a poll() of bounded length.
//
// One HttpStream is used by one thread at a time: the creating thread while
// the stream is opened, then the stream's own thread. Counters read by other
// threads are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_head.h"
#include "platform/icy_metadata.h"
#include "platform/stream_engine.h"

namespace platform {

struct StreamUrl {
  std::string scheme;  // "http" or "https", lower case
  std::string host;    // an IPv6 literal without its brackets
  int port = 0;
  std::string path;    // from the first "/" on, query included; "/" at least

  // Accepts "http://" and "https://" addresses (scheme in any case), with an
  // optional "user@" part (ignored), port and path.
  bool parse(const std::string& text);
  std::string hostPort() const;  // for the Host header and CONNECT
  std::string text() const;
};

// Address named by a Location header or a playlist entry, relative to `base`.
std::string resolveUrl(const StreamUrl& base, const std::string& reference);

// The path of a request line as it is sent: every byte that may not stand in
// a request target (controls, blank, bytes 0x7F-0xFF, and " < > \ ^ ` { | })
// becomes "%" and two upper-case hex digits. An escape already in the address
// ("%20") is kept as it is, so an address is never escaped twice; a "%" that
// begins no escape becomes "%25".
std::string escapeRequestTarget(const std::string& path);

// The download buffer: a byte ring whose capacity can change while it holds
// data. Used by one thread at a time.
class ByteRing {
 public:
  explicit ByteRing(size_t capacity = 0) { setCapacity(capacity); }
  void setCapacity(size_t capacity);  // never below what it holds
  size_t capacity() const { return data_.size(); }
  size_t size() const { return size_; }
  size_t room() const { return data_.size() - size_; }
  size_t write(const uint8_t* src, size_t n);  // returns what fitted
  size_t read(uint8_t* dst, size_t n);
  size_t peek(uint8_t* dst, size_t n) const;
  // As peek, from `offset` bytes in.
  size_t peekAt(size_t offset, uint8_t* dst, size_t n) const;
  size_t skip(size_t n);  // drops up to n bytes from the front

 private:
  std::vector<uint8_t> data_;
  size_t start_ = 0;
  size_t size_ = 0;
};

enum class NetResult { Ok, NotFound, Timeout, Aborted };

class HttpStream {
 public:
  struct Options {
    int timeoutMs = 5000;                     // for the whole opening, redirects included
    int64_t deadlineMs = 0;                   // steady-clock ms; when set, it bounds the opening instead
    std::string userAgent;
    std::string proxy;                        // "[user:pass@]host:port" or empty
    const std::atomic<bool>* abort = nullptr;  // set by another thread to give up
    size_t bufferCapacity = 64 * 1024;        // initial download buffer
  };

  HttpStream();
  ~HttpStream();
  HttpStream(const HttpStream&) = delete;
  HttpStream& operator=(const HttpStream&) = delete;

  // Connects, sends the request and reads the response headers, following up
  // to five redirects. Ok only for a 200 answer ("HTTP/1.x 200" or "ICY 200").
  NetResult open(const std::string& url, const Options& options);

  const std::string& url() const { return url_; }  // after redirects
  int status() const { return status_; }
  bool isIcy() const { return isIcy_; }              // status line began with "ICY"
  // Status line then header lines, as received (without line ends).
  const std::vector<std::string>& responseLines() const { return lines_; }
  // Value of a header (name compared without case), leading blanks removed.
  std::string header(const std::string& name) const;
  // Content-Type in lower case without parameters ("audio/mpeg").
  std::string contentType() const;
  int64_t contentLength() const { return contentLength_; }  // -1 when not given

  // Moves body bytes that have arrived into the buffer, waiting up to waitMs
  // for the first of them. Returns the count of bytes added (0 when nothing
  // came, the buffer is full or the connection has ended).
  size_t pump(int waitMs);
  // Takes up to n bytes out of the buffer.
  size_t readBody(uint8_t* dst, size_t n);
  // Copies up to n bytes that stand `offset` bytes into the buffer, leaving
  // them there (a format that failed to decode lets another one read again).
  size_t peekBody(size_t offset, uint8_t* dst, size_t n) const;
  // Drops up to n bytes from the front of the buffer.
  size_t skipBody(size_t n);
  // Waits until the buffer holds at least `bytes` or the download has ended.
  // False when the deadline (steady-clock ms, 0 = none) passed or abort was set.
  bool waitFor(size_t bytes, int64_t deadlineMs);

  ByteRing& buffer() { return ring_; }
  bool connected() const { return connected_.load(); }
  bool timedOut() const { return timedOut_; }
  // Why open() failed (None after success).
  FailReason failReason() const { return failReason_; }
  int failStatus() const { return failStatus_; }  // the HTTP status with FailReason::HttpStatus
  // The body is complete: the server said how long it is and all of it came.
  bool complete() const;
  uint64_t downloaded() const { return downloaded_.load(); }
  size_t buffered() const { return buffered_.load(); }

  // No body data for this long ends the connection (0 = wait for ever).
  void setReadTimeout(int ms) { readTimeoutMs_ = ms; }
  // Metadata texts (trailing zero padding removed), in arrival order.
  std::function<void(const std::string&)> onMetadata;
  // The last metadata text received (also before onMetadata was set).
  const std::string& lastMetadata() const { return lastMeta_; }
  // Body bytes as they arrive; (nullptr, 0) when the download ends.
  std::function<void(const uint8_t*, size_t)> onData;

  void close();

 private:
  struct Transport;
  NetResult openOnce(const StreamUrl& target, int64_t deadlineMs, std::string& location);
  NetResult readHeaders(int64_t deadlineMs, std::string& rest);
  NetResult failWith(NetResult result, FailReason reason);
  void acceptBody(const uint8_t* data, size_t n);
  void endDownload();
  bool aborted() const;

  std::unique_ptr<Transport> transport_;
  Options options_;
  std::string url_;
  int status_ = 0;
  bool isIcy_ = false;
  std::vector<std::string> lines_;
  int64_t contentLength_ = -1;
  ByteRing ring_;
  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> downloaded_{0};
  std::atomic<size_t> buffered_{0};
  bool timedOut_ = false;
  FailReason failReason_ = FailReason::None;
  int failStatus_ = 0;
  int readTimeoutMs_ = 0;
  int64_t lastDataMs_ = 0;
  IcyDemux icy_;  // the metadata interleaved with the audio
  std::string lastMeta_;
};

// Milliseconds of the steady clock.
int64_t steadyMs();

}  // namespace platform
