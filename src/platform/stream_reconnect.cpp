#include "platform/stream_reconnect.h"

#include <algorithm>
#include <system_error>

namespace platform {

namespace {

// Bytes that must have arrived before an attempt counts: the first audio.
constexpr size_t kFirstBytes = 1;

}  // namespace

StreamReconnector::StreamReconnector(Setup setup) : setup_(std::move(setup)) {}

StreamReconnector::~StreamReconnector() {
  if (thread_.joinable()) thread_.join();
}

int StreamReconnector::delayBeforeAttempt(int n) {
  if (n <= 0) return 0;
  return n == 1 ? 500 : 1000;
}

void StreamReconnector::lose(int64_t nowMs) {
  if (outage_) return;
  outage_ = true;
  gaveUp_ = false;
  ++outages_;
  attempts_ = 0;
  outageStartMs_ = nowMs;
  nextAttemptMs_ = nowMs + delayBeforeAttempt(0);
}

void StreamReconnector::startAttempt() {
  attemptDone_ = false;
  ++attempts_;
  try {
    thread_ = std::thread([this] {
      auto stream = std::make_unique<HttpStream>();
      HttpStream::Options options = setup_.options;
      options.deadlineMs = steadyMs() + std::max(options.timeoutMs, 1);
      bool ok = stream->open(setup_.address, options) == NetResult::Ok &&
                stream->waitFor(kFirstBytes, options.deadlineMs) && stream->buffer().size() >= kFirstBytes;
      {
        std::lock_guard<std::mutex> lock(resultMutex_);
        result_ = ok ? std::move(stream) : nullptr;
      }
      attemptDone_ = true;
    });
  } catch (const std::system_error&) {
    // No thread to be had now: counts as a failed attempt, tried again later.
    attemptDone_ = true;
    nextAttemptMs_ = steadyMs() + delayBeforeAttempt(attempts_);
  }
}

void StreamReconnector::finishAttempt() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(resultMutex_);
  ready_ = std::move(result_);
}

bool StreamReconnector::service(int64_t nowMs) {
  if (!outage_ || gaveUp_) return false;
  if (ready_) return true;
  if (thread_.joinable()) {
    if (!attemptDone_.load()) return false;
    finishAttempt();
    if (ready_) return true;
    nextAttemptMs_ = nowMs + delayBeforeAttempt(attempts_);
  }
  if (setup_.options.abort && setup_.options.abort->load()) return false;
  if (nowMs - outageStartMs_ >= setup_.windowMs) {
    gaveUp_ = true;
    outage_ = false;
    return false;
  }
  if (nowMs >= nextAttemptMs_) startAttempt();
  return false;
}

std::unique_ptr<HttpStream> StreamReconnector::take() {
  outage_ = false;
  return std::move(ready_);
}

void StreamReconnector::rejected(int64_t nowMs) {
  outage_ = true;
  ready_.reset();
  nextAttemptMs_ = nowMs + delayBeforeAttempt(attempts_);
}

}  // namespace platform
