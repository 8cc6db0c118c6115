#include "tts/mbrola_driver.h"

#include "tts/koral_text.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ondaria::koral {

namespace {

// Limits of the values handed to the program (see the header): outside them
// it aborts or crashes. A duration of 0 aborts it; so does a phoneme of more
// than about 4000 pitch periods (5 s at 800 Hz after a missing diphone), hence
// 3 s at 800 Hz at most.
constexpr long kMinDurationMs = 2;
constexpr long kMaxDurationMs = 3000;
constexpr long kMinHz = 40;
constexpr long kMaxHz = 800;
// It gives up ("Too many phones without pitch information") after about 250
// phonemes without a pitch point or without a flush.
constexpr int kPitchEvery = 150;
constexpr int kFlushEvery = 200;
// Longest phoneme name passed on; longer ones cannot be in any voice.
constexpr size_t kMaxNameLength = 16;
// The error text kept for lastErrorStr.
constexpr size_t kMaxErrorText = 256;
// The WAV header that begins the program's output.
constexpr size_t kWavHeader = 44;
// The marker phoneme's name begins with this; no voice has such a phoneme.
constexpr std::string_view kMarker = "sync";

bool parseNumber(std::string_view text, double& value) {
  std::string t(text);
  char* end = nullptr;
  value = std::strtod(t.c_str(), &end);
  return end != t.c_str() && *end == '\0' && std::isfinite(value);
}

std::vector<std::string_view> splitBlanks(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t s = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > s) out.push_back(line.substr(s, i - s));
  }
  return out;
}

bool validName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  if (name.substr(0, kMarker.size()) == kMarker) return false;
  for (unsigned char c : name)
    if (c <= ' ' || c >= 127 || c == '#' || c == ';') return false;
  return true;
}

void ignoreBrokenPipes() {
  // A write to a process that has ended must give EPIPE, not end the program.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

MbrolaSynth::~MbrolaSynth() { close(); }

std::string findMbrolaDatabase(const std::string& name) {
  auto isFile = [](const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  if (name.empty()) return {};
  if (name.find('/') == std::string::npos) {
    std::string installed = "/usr/share/mbrola/" + name + "/" + name;
    if (isFile(installed)) return installed;
  }
  return isFile(name) ? name : std::string();
}

void MbrolaSynth::fail(int code, std::string text) {
  lastError_ = code;
  if (text.size() > kMaxErrorText) text.resize(kMaxErrorText);
  lastErrorStr_ = std::move(text);
}

int MbrolaSynth::init(const std::string& databasePath, int timeoutMs) {
  close();
  ended_ = false;
  errorLine_.clear();
  headerDone_ = false;
  header_.clear();
  markersSent_ = markersSeen_ = discardUntil_ = 0;
  phonesSincePitch_ = phonesSinceFlush_ = 0;
  rate_ = 0;
  lastError_ = 0;
  lastErrorStr_.clear();
  samplesRead_ = 0;
  if (program_.empty()) program_ = "mbrola";
  database_ = databasePath;
  ignoreBrokenPipes();
  platform::SpawnResult r = platform::spawnPiped({program_, "-e", databasePath, "-", "-.wav"}, child_);
  if (!r.ok()) {
    fail(kMbrolaNotRunning, "cannot start " + program_ + ": " + std::strerror(r.error));
    return kMbrolaNotRunning;
  }
  // A first, silent request: answered once the voice is loaded.
  queueRaw("_ 10\n#\n");
  sendMarker();
  long long deadline = steadyMs() + timeoutMs;
  while (!(headerDone_ && markersSeen_ >= markersSent_) && !ended_ && steadyMs() < deadline)
    wait(static_cast<int>(std::max(1LL, deadline - steadyMs())));
  if (!headerDone_ || markersSeen_ < markersSent_) {
    std::string why = lastErrorStr_.empty() ? program_ + " did not answer" : lastErrorStr_;
    close();
    fail(kMbrolaNotRunning, why);
    return kMbrolaNotRunning;
  }
  output_.clear();
  outputStart_ = 0;
  lastError_ = 0;
  lastErrorStr_.clear();
  return 0;
}

void MbrolaSynth::queueRaw(std::string_view text) { input_.append(text); }

void MbrolaSynth::sendMarker() {
  ++markersSent_;
  queueRaw("_ 1\n" + std::string(kMarker) + std::to_string(markersSent_) + " 1\n_ 1\n#\n");
  phonesSinceFlush_ = 0;
}

std::string MbrolaSynth::checkedLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.empty()) return {};
  if (line[0] == ';') {
    std::string comment(line);
    for (char& c : comment)
      if (static_cast<unsigned char>(c) < ' ') c = ' ';
    return comment;
  }
  std::vector<std::string_view> parts = splitBlanks(line);
  if (parts.empty()) return {};
  std::string out = validName(parts[0]) ? std::string(parts[0]) : std::string("_");
  double ms = 100;
  if (parts.size() < 2 || !parseNumber(parts[1], ms)) ms = 100;
  long duration = std::clamp(std::lround(std::clamp(ms, -1e9, 1e9)), kMinDurationMs, kMaxDurationMs);
  out += ' ';
  out += std::to_string(duration);
  bool pitched = false;
  for (size_t i = 2; i + 1 < parts.size(); i += 2) {
    double pos = 0, hz = 0;
    if (!parseNumber(parts[i], pos) || !parseNumber(parts[i + 1], hz)) continue;
    long p = std::clamp(std::lround(std::clamp(pos, -1e9, 1e9)), 0L, 100L);
    long f = std::clamp(std::lround(std::clamp(hz, -1e9, 1e9)), kMinHz, kMaxHz);
    out += ' ' + std::to_string(p) + ' ' + std::to_string(f);
    lastHz_ = f;
    pitched = true;
  }
  if (pitched) {
    phonesSincePitch_ = 0;
  } else if (++phonesSincePitch_ >= kPitchEvery) {
    out += " 50 " + std::to_string(lastHz_);
    phonesSincePitch_ = 0;
  }
  ++phonesSinceFlush_;
  return out;
}

int MbrolaSynth::write(std::string_view line) {
  if (!running()) return kMbrolaNotRunning;
  std::string checked = checkedLine(line);
  if (checked.empty()) return 0;
  queueRaw(checked);
  queueRaw("\n");
  if (phonesSinceFlush_ >= kFlushEvery) {
    queueRaw("#\n");
    phonesSinceFlush_ = 0;
  }
  pump();
  return running() ? 0 : kMbrolaNotRunning;
}

int MbrolaSynth::flush() {
  if (!running()) return kMbrolaNotRunning;
  queueRaw("#\n");
  sendMarker();
  pump();
  return running() ? 0 : kMbrolaNotRunning;
}

void MbrolaSynth::handleErrorText(std::string_view text) {
  errorLine_.append(text);
  size_t nl;
  while ((nl = errorLine_.find('\n')) != std::string::npos) {
    std::string line = errorLine_.substr(0, nl);
    errorLine_.erase(0, nl + 1);
    size_t m = line.find(kMarker);
    if (m != std::string::npos && line.find("unknown") != std::string::npos) {
      uint64_t n = std::strtoull(line.c_str() + m + kMarker.size(), nullptr, 10);
      markersSeen_ = std::max(markersSeen_, n);
      continue;
    }
    if (line.find("unknown") != std::string::npos) {
      // A diphone the voice lacks: the program went on with silence.
      if (noError_ == 0) fail(-3, line);
      continue;
    }
    if (!line.empty()) fail(lastError_ != 0 ? lastError_ : -4, line);
  }
  // A line that never ends must not grow without bound.
  if (errorLine_.size() > 4 * kMaxErrorText) errorLine_.erase(0, errorLine_.size() - kMaxErrorText);
}

void MbrolaSynth::pump() {
  if (child_.pid <= 0) return;
  // Input: as much as the pipe takes now.
  while (!input_.empty() && child_.input >= 0) {
    ssize_t n = ::write(child_.input, input_.data(), input_.size());
    if (n > 0) {
      input_.erase(0, static_cast<size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        ended_ = true;
        fail(kMbrolaNotRunning, "mbrola ended");
      }
      break;
    }
  }
  // Standard error first: a marker seen there means every sample made before
  // it is already in the output pipe, and is read below.
  uint64_t seenBefore = markersSeen_;
  bool errorEnded = false;
  for (;;) {
    std::string err = platform::readAvailable(child_.error, 4096, &errorEnded);
    if (!err.empty()) handleErrorText(err);
    if (err.empty()) break;
  }
  // Standard error closed: the process is probably gone. Its output pipe may
  // not show the end when another process holds a copy of it, so the process
  // itself is asked (without reaping it; close() does that).
  if (errorEnded && !ended_) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(child_.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == child_.pid) {
      ended_ = true;
      if (lastErrorStr_.empty()) fail(kMbrolaNotRunning, "mbrola ended");
      else lastError_ = kMbrolaNotRunning;
    }
  }
  bool discarding = discardUntil_ > seenBefore;
  for (;;) {
    bool end = false;
    std::string out = platform::readAvailable(child_.output, 65536, &end);
    if (out.empty()) {
      if (end && !ended_) {
        ended_ = true;
        if (lastErrorStr_.empty()) fail(kMbrolaNotRunning, "mbrola ended");
        else lastError_ = kMbrolaNotRunning;
      }
      break;
    }
    std::string_view data = out;
    if (!headerDone_) {
      size_t take = std::min(kWavHeader - header_.size(), data.size());
      header_.append(data.substr(0, take));
      data.remove_prefix(take);
      if (header_.size() == kWavHeader) {
        headerDone_ = true;
        const auto* h = reinterpret_cast<const unsigned char*>(header_.data());
        rate_ = h[24] | (h[25] << 8) | (h[26] << 16) | (h[27] << 24);
      }
    }
    if (!discarding) output_.append(data);
  }
  if (discardUntil_ <= markersSeen_) discardUntil_ = 0;
}

bool MbrolaSynth::wait(int timeoutMs) {
  if (child_.pid <= 0) return false;
  pollfd fds[3];
  nfds_t n = 0;
  if (!input_.empty() && child_.input >= 0) fds[n++] = {child_.input, POLLOUT, 0};
  if (child_.output >= 0 && !ended_) fds[n++] = {child_.output, POLLIN, 0};
  if (child_.error >= 0 && !ended_) fds[n++] = {child_.error, POLLIN, 0};
  if (n == 0) return false;
  int r;
  do {
    r = ::poll(fds, n, std::max(timeoutMs, 0));
  } while (r < 0 && errno == EINTR);
  pump();
  return r > 0;
}

int MbrolaSynth::read(int16_t* buffer, int maxSamples) {
  pump();
  size_t avail = (output_.size() - outputStart_) / 2;
  size_t n = std::min(avail, static_cast<size_t>(std::max(maxSamples, 0)));
  if (n == 0) return ended_ ? kMbrolaNotRunning : 0;
  const auto* bytes = reinterpret_cast<const unsigned char*>(output_.data() + outputStart_);
  for (size_t i = 0; i < n; ++i) {
    int v = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (volume_ != 1.0f) v = std::clamp(static_cast<int>(std::lround(v * volume_)), -32768, 32767);
    buffer[i] = static_cast<int16_t>(v);
  }
  outputStart_ += n * 2;
  samplesRead_ += n;
  if (outputStart_ == output_.size()) {
    output_.clear();
    outputStart_ = 0;
  } else if (outputStart_ > 65536) {
    output_.erase(0, outputStart_);
    outputStart_ = 0;
  }
  return static_cast<int>(n);
}

bool MbrolaSynth::done() const {
  return markersSeen_ >= markersSent_ && input_.empty() && output_.size() - outputStart_ < 2;
}

int MbrolaSynth::reset(int timeoutMs) {
  if (!running()) return kMbrolaNotRunning;
  // A line partly handed over is completed, or the program would read it
  // joined to the next one.
  size_t nl = input_.find('\n');
  input_.resize(nl == std::string::npos ? 0 : nl + 1);
  output_.clear();
  outputStart_ = 0;
  queueRaw("#\n");
  sendMarker();
  discardUntil_ = markersSent_;
  phonesSincePitch_ = 0;
  long long deadline = steadyMs() + timeoutMs;
  while (discardUntil_ != 0 && running() && steadyMs() < deadline)
    wait(static_cast<int>(std::max(1LL, deadline - steadyMs())));
  output_.clear();
  outputStart_ = 0;
  if (!running()) return kMbrolaNotRunning;
  if (discardUntil_ != 0) {
    fail(kMbrolaTimeout, "mbrola did not answer");
    return kMbrolaTimeout;
  }
  return 0;
}

void MbrolaSynth::close() {
  if (child_.pid > 0) {
    // The program ends by itself at the end of its input; the grace time
    // covers that before it is signalled.
    constexpr int kGraceMs = 200;
    platform::stopPiped(child_, kGraceMs);
  }
  child_ = platform::PipedChild{};
  ended_ = true;
  input_.clear();
  output_.clear();
  outputStart_ = 0;
}

void MbrolaSynth::setVolumeRatio(float ratio) {
  volume_ = std::isfinite(ratio) ? std::clamp(ratio, 0.0f, 8.0f) : 1.0f;
}

}  // namespace ondaria::koral
