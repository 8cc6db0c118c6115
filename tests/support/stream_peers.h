// Peers for tests of the stream engine, all on 127.0.0.1 and all stopped by
// their destructors: audio files made by the ffmpeg program, a file server
// built on LocalServer, an icecast2 server fed by ffmpeg, and programs run in
// the background.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/local_server.h"

namespace ondaria::test {

// A program started in the background (no shell); the destructor ends it.
class BackgroundProgram {
 public:
  BackgroundProgram() = default;
  ~BackgroundProgram() { stop(); }
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  // Output goes to `logFile` (or /dev/null when empty).
  bool start(const std::vector<std::string>& argv, const std::string& logFile = {});
  bool running();
  void stop();  // SIGTERM, then SIGKILL after two seconds

 private:
  pid_t pid_ = -1;
};

// Starts a program (no shell, looked up on the PATH) with our environment
// changed by `env` ("NAME=value" each; "NAME=" alone removes NAME), its
// standard input a pipe whose writing end we get in `input`, its output and
// error thrown away. The child's pid, or -1 (nothing left open).
pid_t startFed(const std::vector<std::string>& argv, const std::vector<std::string>& env, int& input);

// A port on 127.0.0.1 that nothing listens on (at the moment of the call).
int freePort();

// A 440 Hz sine made by the ffmpeg program, in a temporary folder removed by
// the destructor. Files are made when first asked for.
class ToneFiles {
 public:
  explicit ToneFiles(double seconds = 2.0);
  ~ToneFiles();
  // Kinds: "mp3", "aac" (ADTS), "m4a", "ogg" (Vorbis), "opus", "flac", "wav",
  // "long.mp3" (20 s at 128 kb/s), "txt" (a text file), "hls" (index.m3u8 of
  // 2-second AAC segments). Returns the path, or "" when ffmpeg failed.
  std::string path(const std::string& kind);
  const std::string& folder() const { return dir_; }
  double seconds() const { return seconds_; }

 private:
  std::string dir_;
  double seconds_;
  std::map<std::string, std::string> made_;
};

// Reads a whole file; empty when it cannot be read.
std::string readWholeFile(const std::string& path);

// Serves the files of a folder over HTTP/1.0, one request at a time, with a
// Content-Type chosen by extension; 404 for anything else.
class FileServer {
 public:
  explicit FileServer(const std::string& folder);
  std::string url(const std::string& name) const { return server_.url("/" + name); }
  LocalServer& server() { return server_; }

 private:
  std::string folder_;
  LocalServer server_;
};
// Content-Type the FileServer gives a file name.
std::string contentTypeFor(const std::string& name);

// A minimal HTTP/1.0 GET for talking to peers (icecast's admin interface):
// status code (0 when no answer came within timeoutMs) and body.
struct HttpReply {
  int status = 0;
  std::string body;
};
HttpReply httpGet(int port, const std::string& path, const std::string& basicAuth = {},
                  int timeoutMs = 3000);

// An icecast2 server on a free port with private configuration and logs.
// Mounts are fed with a 440 Hz sine by the ffmpeg program.
class IcecastServer {
 public:
  IcecastServer();
  ~IcecastServer();
  // Starts icecast2 and waits until it answers; false with a reason in error().
  bool start();
  // Feeds "/<mount>": "mp3" (pushed with PUT and Ice-* headers, so listeners
  // get icy-name, icy-genre and icy-br) or "aac" (ADTS). Waits until the mount
  // is listed by the server.
  bool feed(const std::string& mount, const std::string& codec);
  // Sets the title of a mount through the admin interface.
  bool setTitle(const std::string& mount, const std::string& title);
  std::string url(const std::string& mount) const;
  int port() const { return port_; }
  const std::string& error() const { return error_; }

 private:
  bool startOnce(const std::string& logs);
  std::string dir_;
  std::string adminPassword_;
  int port_ = 0;
  std::string error_;
  BackgroundProgram server_;
  std::vector<std::unique_ptr<BackgroundProgram>> feeders_;
};

// Percent-encodes a text for a query string.
std::string urlEncode(const std::string& text);

}  // namespace ondaria::test
