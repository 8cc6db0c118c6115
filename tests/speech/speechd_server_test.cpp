// The speech-dispatcher server against a small stand-in daemon on a local
// socket: voice and rate settings, busy following the end notices, and cut.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/speech_log.h"
#include "speech/speech_servers.h"

namespace ondaria {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Speaks the daemon's line protocol far enough for one client: settings are
// acknowledged, voices listed, texts queued and finished (at once, or when the
// test says so), CANCEL answered with cancel notices.
class FakeDaemon {
 public:
  explicit FakeDaemon(const fs::path& socketPath) : path_(socketPath) {
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path_.c_str(), sizeof sa.sun_path - 1);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listenFd_, 4) != 0)
      ADD_FAILURE() << "cannot listen on " << path_;
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeDaemon() {
    stop_ = true;
    thread_.join();
    ::close(listenFd_);
    fs::remove(path_);
  }

  void setAutoEnd(bool on) { autoEnd_ = on; }
  // Sends the end notice of every text still speaking.
  void finishAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int id : speaking_) sendEvent(id, "702", "END");
    speaking_.clear();
  }
  std::vector<std::string> commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{listenFd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        clientFd_ = fd;
      }
      talk(fd);
      std::lock_guard<std::mutex> lock(mutex_);
      clientFd_ = -1;
      ::close(fd);
    }
  }

  // One line without its CR LF; false when the client went away.
  bool readLine(int fd, std::string& line) {
    line.clear();
    while (!stop_) {
      size_t eol = buffer_.find("\r\n");
      if (eol != std::string::npos) {
        line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 2);
        return true;
      }
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char chunk[512];
      ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<size_t>(n));
    }
    return false;
  }

  void send(const std::string& s) {
    if (clientFd_ >= 0) (void)!::write(clientFd_, s.data(), s.size());
  }
  void sendEvent(int id, const char* code, const char* name) {
    send(std::string(code) + "-" + std::to_string(id) + "\r\n" + code + "-1\r\n" + code + " " +
         name + "\r\n");
  }

  void talk(int fd) {
    buffer_.clear();
    std::string line;
    while (readLine(fd, line)) {
      std::string upper = line;
      for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      std::lock_guard<std::mutex> lock(mutex_);
      commands_.push_back(line);
      if (upper == "SPEAK") {
        send("230 OK RECEIVING DATA\r\n");
        std::string text, part;
        mutex_.unlock();
        while (readLine(fd, part) && part != ".") text += part;
        mutex_.lock();
        texts_.push_back(text);
        int id = ++lastId_;
        send("225-" + std::to_string(id) + "\r\n225 OK MESSAGE QUEUED\r\n");
        sendEvent(id, "701", "BEGIN");
        if (autoEnd_) sendEvent(id, "702", "END");
        else speaking_.push_back(id);
      } else if (upper.rfind("HISTORY GET CLIENT_ID", 0) == 0) {
        send("240-1\r\n240 OK CLIENT ID SENT\r\n");
      } else if (upper.rfind("LIST SYNTHESIS_VOICES", 0) == 0) {
        send("249-Voz A\tpt-BR\tnone\r\n249-Voice B\ten\tnone\r\n249-Voz C\tpt\tnone\r\n"
             "249 OK VOICE LIST SENT\r\n");
      } else if (upper.rfind("CANCEL", 0) == 0) {
        send("210 OK CANCELED\r\n");
        for (int id : speaking_) sendEvent(id, "703", "CANCELED");
        speaking_.clear();
      } else if (upper.rfind("QUIT", 0) == 0) {
        send("231 HAPPY HACKING\r\n");
        return;
      } else {
        send("200 OK\r\n");
      }
    }
  }

  fs::path path_;
  int listenFd_ = -1;
  int clientFd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> autoEnd_{true};
  std::thread thread_;
  std::mutex mutex_;
  std::string buffer_;
  std::vector<std::string> commands_, texts_;
  std::vector<int> speaking_;
  int lastId_ = 10;
};

class SpeechdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setSpeechServerWakeHook([this] {
      std::lock_guard<std::mutex> lock(wakeMutex_);
      ++wakes_;
      woken_.notify_all();
    });
    dir_ = fs::temp_directory_path() / ("ondaria_spd_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    daemon_ = std::make_unique<FakeDaemon>(dir_ / "speechd.sock");
    setenv("SPEECHD_ADDRESS", ("unix_socket:" + (dir_ / "speechd.sock").string()).c_str(), 1);
  }
  void TearDown() override {
    setSpeechServerWakeHook(nullptr);
    unsetenv("SPEECHD_ADDRESS");
    daemon_.reset();
    fs::remove_all(dir_);
  }
  bool saw(const std::string& part) {
    for (const auto& c : daemon_->commands())
      if (c.find(part) != std::string::npos) return true;
    return false;
  }
  // Waits (bounded) until the daemon has received `n` texts.
  void waitTexts(size_t n) {
    for (int i = 0; i < 500 && daemon_->texts().size() < n; ++i) std::this_thread::sleep_for(2ms);
  }

  // Waits (bounded) for the wake hook to have been called `n` times in all.
  bool waitWakes(int n) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    return woken_.wait_for(lock, 5s, [&] { return wakes_ >= n; });
  }
  int wakes() {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    return wakes_;
  }

  fs::path dir_;
  std::unique_ptr<FakeDaemon> daemon_;
  std::mutex wakeMutex_;
  std::condition_variable woken_;
  int wakes_ = 0;
};

TEST_F(SpeechdTest, VoiceNumbersCountThePortugueseVoicesAndRateIsScaled) {
  auto server = makeSpeechServer(kServerSecondClass);
  ASSERT_TRUE(server->start(2, 5, 0));
  EXPECT_TRUE(saw("Voz C"));
  EXPECT_TRUE(saw("RATE 50"));
  EXPECT_TRUE(saw("pt-BR"));
  server->stop();

  // A voice number past the Portuguese voices: voice 1 at rate 0.
  auto other = makeSpeechServer(kServerSecondClass);
  ASSERT_TRUE(other->start(3, 7, 0));
  auto cmds = daemon_->commands();
  bool voiceA = false, rate0 = false;
  for (size_t i = cmds.size(); i-- > 0 && cmds[i].rfind("SET SELF CLIENT_NAME", 0) != 0;) {
    voiceA |= cmds[i].find("Voz A") != std::string::npos;
    rate0 |= cmds[i].find("RATE 0") != std::string::npos;
  }
  EXPECT_TRUE(voiceA);
  EXPECT_TRUE(rate0);
  other->stop();
}

TEST_F(SpeechdTest, BusyFollowsTheEndNoticesAndCutEndsAtOnce) {
  std::vector<std::string> logged;
  platform::setSpeechObserver([&](platform::SpeechEvent kind, const std::string& text) {
    if (kind == platform::SpeechEvent::Text) logged.push_back(text);
  });
  auto server = makeSpeechServer(kServerSecondClass);
  ASSERT_TRUE(server->start(1, 0, 0));
  daemon_->setAutoEnd(false);
  server->speak("Ol\xE1 mundo");
  server->speak("segunda");
  waitTexts(2);
  EXPECT_TRUE(server->busy(false));
  EXPECT_EQ(wakes(), 0);
  // The last end notice, not the first, wakes the program's wait; busy has
  // turned false by then.
  daemon_->finishAll();
  ASSERT_TRUE(waitWakes(1));
  EXPECT_FALSE(server->busy(false));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(wakes(), 1);
  ASSERT_EQ(daemon_->texts().size(), 2u);
  EXPECT_EQ(daemon_->texts()[0], "Ol\xC3\xA1 mundo");  // UTF-8 on the wire
  EXPECT_EQ(logged[0], "Ol\xE1 mundo");              // cp1252 in the log

  // Cut: not busy at once, and the late cancel notices of the cut texts do
  // not count against a text spoken after the cut.
  server->speak("tr\xEAs");
  server->speak("quatro");
  waitTexts(4);
  EXPECT_TRUE(server->busy(false));
  server->cut();
  EXPECT_FALSE(server->busy(false));
  EXPECT_TRUE(saw("CANCEL"));
  server->speak("cinco");
  waitTexts(5);
  std::this_thread::sleep_for(50ms);  // let the cancel notices arrive
  EXPECT_TRUE(server->busy(false));
  daemon_->finishAll();
  ASSERT_TRUE(waitWakes(2));
  EXPECT_FALSE(server->busy(false));
  server->speak("");
  waitTexts(6);
  EXPECT_EQ(daemon_->texts().back(), " ");  // an empty text is one blank
  daemon_->finishAll();
  server->stop();
  platform::setSpeechObserver(nullptr);
}

}  // namespace
}  // namespace ondaria
