#include "support/stream_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace ondaria::test {

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string base64(const std::string& in) {
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  int val = 0, bits = -6;
  for (unsigned char c : in) {
    val = (val << 8) + c;
    bits += 8;
    while (bits >= 0) {
      out += t[(val >> bits) & 63];
      bits -= 6;
    }
  }
  if (bits > -6) out += t[((val << 8) >> (bits + 8)) & 63];
  while (out.size() % 4) out += '=';
  return out;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

// ---- background programs ----

bool BackgroundProgram::start(const std::vector<std::string>& argv, const std::string& logFile) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const char* out = logFile.empty() ? "/dev/null" : logFile.c_str();
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, out, O_WRONLY | O_CREAT | O_APPEND, 0644);
  int r = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) pid_ = -1;
  return pid_ > 0;
}

pid_t startFed(const std::vector<std::string>& argv, const std::vector<std::string>& env, int& input) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) vars[std::string(*e, eq - *e)] = eq + 1;
  }
  for (const std::string& v : env) {
    const size_t eq = v.find('=');
    if (eq == std::string::npos) continue;
    if (eq + 1 == v.size()) {
      vars.erase(v.substr(0, eq));
    } else {
      vars[v.substr(0, eq)] = v.substr(eq + 1);
    }
  }
  std::vector<std::string> envText;
  for (const auto& [k, v] : vars) envText.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);

  int in[2];
  if (pipe(in) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  if (rc != 0) {
    close(in[1]);
    return -1;
  }
  input = in[1];
  return pid;
}

bool BackgroundProgram::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void BackgroundProgram::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int i = 0; i < 40; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    sleepMs(50);
  }
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- tone files ----

ToneFiles::ToneFiles(double seconds) : dir_(makeTempFolder("ondtone")), seconds_(seconds) {}

ToneFiles::~ToneFiles() { removeTree(dir_); }

std::string ToneFiles::path(const std::string& kind) {
  auto found = made_.find(kind);
  if (found != made_.end()) return found->second;
  std::string duration = std::to_string(kind == "long.mp3" ? 20.0 : seconds_);
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi",
                                   "-i", "sine=frequency=440:sample_rate=44100:duration=" + duration,
                                   "-ac", "2"};
  std::string out;
  if (kind == "txt") {
    out = dir_ + "/notes.txt";
    std::ofstream(out) << "Isto n\xC3\xA3o \xC3\xA9 \xC3\xA1udio.\nApenas um texto qualquer, linha ap\xC3\xB3s linha.\n";
    made_[kind] = out;
    return out;
  }
  if (kind == "mp3" || kind == "long.mp3") {
    out = dir_ + "/" + (kind == "mp3" ? "tone.mp3" : "long.mp3");
    argv.insert(argv.end(), {"-c:a", "libmp3lame", "-b:a", "128k", out});
  } else if (kind == "aac") {
    out = dir_ + "/tone.aac";
    argv.insert(argv.end(), {"-c:a", "aac", "-b:a", "96k", "-f", "adts", out});
  } else if (kind == "m4a") {
    out = dir_ + "/tone.m4a";
    argv.insert(argv.end(), {"-c:a", "aac", "-b:a", "96k", "-movflags", "+faststart", out});
  } else if (kind == "ogg") {
    out = dir_ + "/tone.ogg";
    argv.insert(argv.end(), {"-c:a", "libvorbis", "-q:a", "3", out});
  } else if (kind == "opus") {
    out = dir_ + "/tone.opus";
    argv.insert(argv.end(), {"-c:a", "libopus", "-b:a", "64k", out});
  } else if (kind == "flac") {
    out = dir_ + "/tone.flac";
    argv.insert(argv.end(), {"-c:a", "flac", out});
  } else if (kind == "wav") {
    out = dir_ + "/tone.wav";
    argv.insert(argv.end(), {"-c:a", "pcm_s16le", out});
  } else if (kind == "hls") {
    std::string hls = dir_ + "/hls";
    mkdir(hls.c_str(), 0755);
    out = hls + "/index.m3u8";
    argv.insert(argv.end(), {"-c:a", "aac", "-b:a", "96k", "-f", "hls", "-hls_time", "2", "-hls_list_size",
                             "0", "-hls_playlist_type", "vod", "-hls_segment_filename", hls + "/seg%02d.ts", out});
  } else {
    return {};
  }
  if (runProgram(argv) != 0) return {};
  made_[kind] = out;
  return out;
}

// ---- file server ----

std::string contentTypeFor(const std::string& name) {
  static const std::pair<const char*, const char*> table[] = {
      {".mp3", "audio/mpeg"},   {".aac", "audio/aac"},
      {".m4a", "audio/mp4"},    {".ogg", "audio/ogg"},
      {".opus", "audio/ogg"},   {".flac", "audio/flac"},
      {".wav", "audio/wav"},    {".m3u8", "application/vnd.apple.mpegurl"},
      {".ts", "video/mp2t"},    {".txt", "text/plain"},
      {".pls", "audio/x-scpls"}, {".m3u", "audio/x-mpegurl"},
  };
  for (const auto& [ext, type] : table) {
    if (endsWith(name, ext)) return type;
  }
  return "application/octet-stream";
}

FileServer::FileServer(const std::string& folder)
    : folder_(folder), server_([this](ServerConnection& c) {
        std::string request = c.readRequest();
        size_t sp = request.find(' ');
        size_t sp2 = request.find(' ', sp + 1);
        std::string path = sp == std::string::npos ? "" : request.substr(sp + 1, sp2 - sp - 1);
        std::string file = folder_ + path;
        struct stat st {};
        if (path.empty() || path.find("..") != std::string::npos || stat(file.c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode)) {
          c.send("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<h1>404</h1>");
          return;
        }
        std::string body = readWholeFile(file);
        c.send("HTTP/1.0 200 OK\r\nServer: teste\r\nContent-Type: " + contentTypeFor(path) +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
        c.send(body);
      }) {}

// ---- HTTP client for peers ----

HttpReply httpGet(int port, const std::string& path, const std::string& basicAuth, int timeoutMs) {
  HttpReply reply;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return reply;
  }
  std::string req = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: teste\r\n";
  if (!basicAuth.empty()) req += "Authorization: Basic " + base64(basicAuth) + "\r\n";
  req += "\r\n";
  send(fd, req.data(), req.size(), MSG_NOSIGNAL);
  std::string raw;
  char buf[4096];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    raw.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  size_t sp = raw.find(' ');
  if (sp != std::string::npos) reply.status = std::atoi(raw.c_str() + sp + 1);
  size_t end = raw.find("\r\n\r\n");
  if (end != std::string::npos) reply.body = raw.substr(end + 4);
  return reply;
}

std::string urlEncode(const std::string& text) {
  std::string out;
  char buf[4];
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

// ---- icecast2 ----

namespace {
const char* kSourcePassword = "fonte-teste";
}  // namespace

IcecastServer::IcecastServer()
    : dir_(makeTempFolder("ondice")), adminPassword_("admin-" + std::to_string(getpid()) + "-" +
                                                      dir_.substr(dir_.size() - 6)) {}

IcecastServer::~IcecastServer() {
  feeders_.clear();
  server_.stop();
  removeTree(dir_);
}

bool IcecastServer::start() {
  // icecast2 drops to its own user before opening its logs: the folder must be
  // traversable by everyone and the log folder its own.
  chmod(dir_.c_str(), 0755);
  std::string logs = dir_ + "/log";
  mkdir(logs.c_str(), 0755);
  passwd* user = getpwnam("icecast2");
  group* grp = getgrnam("icecast");
  if (!user || !grp) {
    error_ = "icecast2 is not installed (no icecast2 user)";
    return false;
  }
  chown(logs.c_str(), user->pw_uid, grp->gr_gid);
  // Tests run in parallel may pick the same free port: a server that could
  // not bind ends at once, and another one's answers are told apart by the
  // admin password, which is this server's own.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (startOnce(logs)) return true;
    server_.stop();
  }
  return false;
}

bool IcecastServer::startOnce(const std::string& logs) {
  port_ = freePort();
  std::string config = dir_ + "/icecast.xml";
  std::ofstream(config) << "<icecast>\n"
                           "  <limits><clients>50</clients><sources>8</sources>"
                           "<queue-size>524288</queue-size><burst-size>65535</burst-size>"
                           "<source-timeout>10</source-timeout></limits>\n"
                           "  <authentication><source-password>"
                        << kSourcePassword << "</source-password><admin-user>admin</admin-user><admin-password>"
                        << adminPassword_
                        << "</admin-password></authentication>\n"
                           "  <hostname>127.0.0.1</hostname>\n"
                           "  <listen-socket><port>"
                        << port_
                        << "</port><bind-address>127.0.0.1</bind-address></listen-socket>\n"
                           "  <paths><basedir>/usr/share/icecast2</basedir><logdir>"
                        << logs
                        << "</logdir><webroot>/usr/share/icecast2/web</webroot>"
                           "<adminroot>/usr/share/icecast2/admin</adminroot></paths>\n"
                           "  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
                           "<loglevel>2</loglevel></logging>\n"
                           "  <security><chroot>0</chroot><changeowner><user>icecast2</user>"
                           "<group>icecast</group></changeowner></security>\n"
                           "</icecast>\n";
  if (!server_.start({"icecast2", "-c", config}, dir_ + "/icecast.out")) {
    error_ = "icecast2 could not be started";
    return false;
  }
  for (int i = 0; i < 200; ++i) {
    if (!server_.running()) break;
    if (httpGet(port_, "/admin/stats", "admin:" + adminPassword_, 500).status == 200) return true;
    sleepMs(50);
  }
  error_ = "icecast2 did not answer: " + readWholeFile(dir_ + "/icecast.out") + readWholeFile(logs + "/error.log");
  return false;
}

bool IcecastServer::feed(const std::string& mount, const std::string& codec) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-loglevel", "error", "-re", "-f", "lavfi", "-i",
                                   "sine=frequency=440:sample_rate=44100", "-ac", "2"};
  std::string target = "127.0.0.1:" + std::to_string(port_) + "/" + mount;
  if (codec == "mp3") {
    argv.insert(argv.end(), {"-c:a", "libmp3lame", "-b:a", "128k", "-f", "mp3", "-content_type", "audio/mpeg",
                             "-method", "PUT",
                             // icecast passes chunk framing through to listeners
                             "-chunked_post", "0", "-headers",
                             "Ice-Name: Radio Teste\r\nIce-Genre: Pop\r\nIce-Public: 0\r\n"
                             "Ice-Url: http://radio.teste/\r\nIce-Audio-Info: ice-bitrate=128;ice-channels=2;"
                             "ice-samplerate=44100\r\n",
                             std::string("http://source:") + kSourcePassword + "@" + target});
  } else {
    argv.insert(argv.end(), {"-c:a", "aac", "-b:a", "96k", "-f", "adts", "-content_type", "audio/aac",
                             "-ice_name", "Radio AAC", "-ice_genre", "Jazz",
                             std::string("icecast://source:") + kSourcePassword + "@" + target});
  }
  // A source refused at once while the machine is busy is started again; a
  // server that ended is reported with its log.
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto feeder = std::make_unique<BackgroundProgram>();
    if (!feeder->start(argv, dir_ + "/ffmpeg-" + mount + ".out")) {
      error_ = "ffmpeg could not be started";
      return false;
    }
    feeders_.push_back(std::move(feeder));
    for (int i = 0; i < 200; ++i) {
      if (httpGet(port_, "/status-json.xsl", {}, 500).body.find("/" + mount + "\"") != std::string::npos) return true;
      if (!feeders_.back()->running()) break;
      sleepMs(50);
    }
    error_ = "mount /" + mount + " did not come up: " + readWholeFile(dir_ + "/ffmpeg-" + mount + ".out") +
             readWholeFile(dir_ + "/log/error.log");
    if (!server_.running()) {
      error_ += " (icecast2 ended: " + readWholeFile(dir_ + "/icecast.out") + ")";
      return false;
    }
    if (feeders_.back()->running()) return false;  // up but never mounted: no retry
    feeders_.pop_back();
    sleepMs(200);
  }
  return false;
}

bool IcecastServer::setTitle(const std::string& mount, const std::string& title) {
  HttpReply r = httpGet(port_, "/admin/metadata?mount=/" + mount + "&mode=updinfo&song=" + urlEncode(title),
                        std::string("admin:") + adminPassword_);
  return r.status == 200;
}

std::string IcecastServer::url(const std::string& mount) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + mount;
}

}  // namespace ondaria::test
