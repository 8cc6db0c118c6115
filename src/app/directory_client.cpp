#include "app/directory_client.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <utility>

#include "console/core/console.h"
#include "console/core/ini_text.h"
#include "console/core/settings.h"
#include "net/http_download.h"
#include "net/sockets.h"
#include "platform/stream_http.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEsc = 27;
// How long a notice of a station played may take before it is abandoned.
constexpr int kPlayReportTimeoutMs = 5000;

using Clock = std::chrono::steady_clock;

struct ClientState {
  std::string base;                  // the base the mirrors came from
  std::vector<std::string> mirrors;  // "https://host[:port]", in the order tried
  size_t preferred = 0;              // index of the mirror that answered last
};

ClientState& client() {
  static ClientState s;
  return s;
}

std::string trimmedSetting(const char* key) {
  return std::string(ini::trimBlanks(readSetting("ONDARIA", key)));
}

// "https" of "https://host/x"; "http" when the address names no scheme.
std::string schemeOf(const std::string& address) {
  const size_t marker = address.find("://");
  if (marker == std::string::npos) return "http";
  std::string scheme = address.substr(0, marker);
  for (char& c : scheme)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return scheme;
}

// "scheme://host[:port]" of an address, without its path.
std::string originOf(const std::string& address) {
  const size_t marker = address.find("://");
  const size_t hostStart = marker == std::string::npos ? 0 : marker + 3;
  const size_t end = address.find_first_of("/?", hostStart);
  return schemeOf(address) + "://" + address.substr(hostStart, end - hostStart);
}

// Watches the keys while a transfer waits: any key cuts speech; ESC gives the
// transfer up (the other keys are stale by the time the answer comes); after
// kDirectorySlowMs `onSlow` runs once.
class WaitWatch {
 public:
  explicit WaitWatch(const std::function<void()>& onSlow) : onSlow_(onSlow), start_(Clock::now()) {
    setNetGiveUpCheck([this] { return check(); });
  }
  ~WaitWatch() { setNetGiveUpCheck(nullptr); }
  WaitWatch(const WaitWatch&) = delete;
  WaitWatch& operator=(const WaitWatch&) = delete;

  bool givenUp() const { return givenUp_; }

 private:
  bool check() {
    if (keyPressed()) {
      stopSpeech();
      while (keyPressed()) {
        const uint8_t key = readKey();
        if (key == kEsc) givenUp_ = true;
        // An extended key is 0 and its code: the code is no key of its own.
        if (key == 0 && keyPressed()) readKey();
      }
    }
    if (!givenUp_ && !slowTold_ && onSlow_ &&
        Clock::now() - start_ >= std::chrono::milliseconds(kDirectorySlowMs)) {
      slowTold_ = true;
      onSlow_();
    }
    return givenUp_;
  }

  const std::function<void()>& onSlow_;
  Clock::time_point start_;
  bool givenUp_ = false;
  bool slowTold_ = false;
};

DownloadOptions directoryDownload(std::uint64_t limit) {
  DownloadOptions options;
  options.maxBodyBytes = limit;
  options.waitLimit = kDirectoryWaitLimit;
  options.userAgent = kDirectoryUserAgent;
  return options;
}

// Downloads `address` into a new temporary file and hands the file to
// `read`; the file is always deleted. False when the transfer failed or
// `read` refused what came.
template <typename Read>
bool fetchAndRead(const std::string& address, std::uint64_t limit, Read&& read) {
  const std::string file = tempFileName();
  if (file.empty()) return false;
  const DownloadResult r = downloadToFile(address, file, directoryDownload(limit));
  const bool ok = r.ok && read(file);
  ::unlink(file.c_str());
  return ok;
}

// Makes sure the mirrors of the current base are known. False when the user
// gave up while the list was being fetched.
bool knowMirrors(const std::string& base, const WaitWatch& watch) {
  ClientState& s = client();
  if (s.base == base && !s.mirrors.empty()) return true;
  std::vector<std::string> names;
  fetchAndRead(base + "/json/servers", kDirectoryServersLimit, [&](const std::string& file) {
    names = parseDirectoryServersFile(file);
    return !names.empty();
  });
  if (watch.givenUp()) return false;
  std::shuffle(names.begin(), names.end(), std::mt19937(std::random_device{}()));
  const std::string scheme = schemeOf(base);
  s.mirrors.clear();
  for (const std::string& name : names) s.mirrors.push_back(scheme + "://" + name);
  // The base answers the queries as well: the last resort, and the only
  // server when no mirror list came.
  const std::string origin = originOf(base);
  if (std::find(s.mirrors.begin(), s.mirrors.end(), origin) == s.mirrors.end())
    s.mirrors.push_back(origin);
  // A list that did not come is asked for again by the next query.
  s.base = names.empty() ? std::string() : base;
  s.preferred = 0;
  return true;
}

class PlayReports {
 public:
  ~PlayReports() { finish(); }
  void send(std::string address) {
    finish();
    abort_ = false;
    thread_ = std::thread([this, address = std::move(address)] {
      platform::HttpStream stream;
      platform::HttpStream::Options options;
      options.timeoutMs = kPlayReportTimeoutMs;
      options.userAgent = kDirectoryUserAgent;
      options.abort = &abort_;
      options.bufferCapacity = 4096;
      stream.open(address, options);
      stream.close();
    });
  }
  void finish(bool abandon = true) {
    if (!thread_.joinable()) return;
    if (abandon) abort_ = true;
    thread_.join();
  }

 private:
  std::thread thread_;
  std::atomic<bool> abort_{false};
};

PlayReports& playReports() {
  static PlayReports reports;
  return reports;
}

}  // namespace

std::string directoryBase() {
  std::string base = trimmedSetting("DIRETORIO");
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base.empty() ? std::string(kDirectoryDefaultBase) : base;
}

std::string directoryCountry() { return normalizedCountryCode(trimmedSetting("PAIS"), "BR"); }

DirectoryQuery queryDirectory(const std::string& target, const std::function<void()>& onSlow) {
  DirectoryQuery query;
  WaitWatch watch(onSlow);
  if (!knowMirrors(directoryBase(), watch)) {
    query.outcome = DirectoryOutcome::givenUp;
    return query;
  }
  ClientState& s = client();
  const size_t count = s.mirrors.size();
  for (size_t i = 0; i < count; ++i) {
    const size_t index = (s.preferred + i) % count;
    ++query.mirrorsTried;
    const bool ok = fetchAndRead(s.mirrors[index] + target, kDirectoryAnswerLimit,
                                 [&](const std::string& file) {
                                   query.answer = parseDirectoryStationsFile(file);
                                   return query.answer.ok;
                                 });
    if (watch.givenUp()) {
      query.outcome = DirectoryOutcome::givenUp;
      query.answer = {};
      return query;
    }
    if (ok) {
      s.preferred = index;
      query.outcome = DirectoryOutcome::ok;
      query.mirror = s.mirrors[index];
      return query;
    }
  }
  query.answer = {};
  return query;
}

std::vector<std::string> directoryMirrors() {
  const ClientState& s = client();
  std::vector<std::string> order;
  for (size_t i = 0; i < s.mirrors.size(); ++i)
    order.push_back(s.mirrors[(s.preferred + i) % s.mirrors.size()]);
  return order;
}

void reportDirectoryPlay(const std::string& mirror, const std::string& uuid) {
  if (mirror.empty() || uuid.empty()) return;
  playReports().send(mirror + directoryClickTarget(uuid));
}

void finishDirectoryReports() { playReports().finish(false); }

void resetDirectoryClient() {
  playReports().finish();
  client() = ClientState{};
}

}  // namespace ondaria
