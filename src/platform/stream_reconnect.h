// Reopening a live network stream whose connection dropped or stalled.
//
// A station's connection breaks now and then: its encoder restarts, its server
// is moved, a mobile network loses its way for a moment. A live stream (one
// whose length the server did not give) whose connection ends is therefore
// opened again in the background while what the download buffer still holds
// plays on: at once, then after half a second, then every second, until a
// connection works or the reconnection window (CONFIG_NET_RECONNECT) has
// passed without one. Attempts are a second apart at most so that audio is
// back within about a second of the server's return; a refused or answered
// attempt costs a server next to nothing. Each attempt is one whole opening
// (redirects included) bounded by the network time-out, on a thread of its
// own, so the stream's thread goes on decoding meanwhile; it counts as a
// success only once audio data has begun to arrive.
//
// Threads: every member is called on the stream's own thread. The attempt
// thread works on an HttpStream that nobody else touches until it is handed
// over; the abort flag of the options ends an attempt within about 50 ms.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/stream_http.h"

namespace platform {

class StreamReconnector {
 public:
  struct Setup {
    std::string address;          // the address as asked for (redirects are followed again)
    HttpStream::Options options;  // user agent, proxy, time-out, abort flag, buffer size
    int windowMs = 0;             // an outage longer than this is given up
  };

  explicit StreamReconnector(Setup setup);
  // Waits for an attempt still running; it ends soon after the abort flag is set.
  ~StreamReconnector();
  StreamReconnector(const StreamReconnector&) = delete;
  StreamReconnector& operator=(const StreamReconnector&) = delete;

  // The connection was lost at nowMs: an outage begins, unless one goes on.
  void lose(int64_t nowMs);
  bool inOutage() const { return outage_; }
  bool gaveUp() const { return gaveUp_; }
  // Collects a finished attempt and starts the next one when its time has
  // come; gives up once the window has passed. True when a connection is
  // ready to be taken.
  bool service(int64_t nowMs);
  // The ready connection; the outage ends with it.
  std::unique_ptr<HttpStream> take();
  // The connection taken last carried nothing playable: the outage goes on.
  void rejected(int64_t nowMs);
  // Attempts made in the current (or the last) outage, and outages so far.
  int attempts() const { return attempts_; }
  int outages() const { return outages_; }
  // Milliseconds before attempt n (0-based) of an outage, counted from the
  // loss or from the end of the attempt before.
  static int delayBeforeAttempt(int n);

 private:
  void startAttempt();
  void finishAttempt();

  const Setup setup_;
  bool outage_ = false;
  bool gaveUp_ = false;
  int64_t outageStartMs_ = 0;
  int64_t nextAttemptMs_ = 0;
  int attempts_ = 0;
  int outages_ = 0;

  std::thread thread_;
  std::atomic<bool> attemptDone_{false};
  std::mutex resultMutex_;
  std::unique_ptr<HttpStream> result_;  // under resultMutex_: the attempt's connection, or null
  std::unique_ptr<HttpStream> ready_;
};

}  // namespace platform
