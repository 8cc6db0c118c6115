#include "support/program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/codepage.h"

extern char** environ;

namespace ondaria::test {

namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeCp1252Ini(const std::string& path, const std::string& utf8) {
  std::string text = platform::utf8ToCp1252(utf8);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  std::ofstream(path, std::ios::binary) << out;
}

}  // namespace

std::string programPath() {
  const char* dir = std::getenv("ONDARIA_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/ondaria";
}

bool ProgramResult::heard(const std::string& kind, const std::string& text) const {
  for (const SpeechLine& l : speech)
    if (l.kind == kind && l.text.find(text) != std::string::npos) return true;
  return false;
}

int ProgramResult::countHeard(const std::string& kind, const std::string& text) const {
  int n = 0;
  for (const SpeechLine& l : speech)
    if (l.kind == kind && l.text == text) ++n;
  return n;
}

ProgramRun::ProgramRun() {
  char pattern[] = "/tmp/ondaria-e2e-XXXXXX";
  root_ = mkdtemp(pattern);
  settingsDir_ = root_ + "/config/lumare";
  systemDir_ = root_ + "/system";
  workDir_ = root_ + "/work";
  fs::create_directories(settingsDir_);
  fs::create_directories(systemDir_);
  fs::create_directories(workDir_);
  // The shipped defaults, as a fresh installation has them.
  const char* build = std::getenv("ONDARIA_BUILD_DIR");
  const std::string shipped = std::string(build ? build : ".") + "/data/Lumare.ini";
  if (fs::exists(shipped)) fs::copy_file(shipped, settingsDir_ + "/Lumare.ini");
}

ProgramRun::~ProgramRun() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void ProgramRun::writeSettings(const std::string& utf8Text) {
  writeCp1252Ini(settingsDir_ + "/Lumare.ini", utf8Text);
}

void ProgramRun::writeStationList(const std::string& utf8Text) {
  writeCp1252Ini(settingsDir_ + "/ondaria.ini", utf8Text);
}

ProgramResult ProgramRun::run(const std::string& script, const std::vector<std::string>& args,
                              int timeoutSeconds) {
  ProgramResult result;
  const std::string scriptPath = root_ + "/keys.txt";
  const std::string logPath = root_ + "/speech.log";
  const std::string screenPath = root_ + "/screen.txt";
  const std::string errPath = root_ + "/stderr.txt";
  std::ofstream(scriptPath, std::ios::binary) << script;
  fs::remove(logPath);
  fs::remove(screenPath);

  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) env[std::string(*e, static_cast<size_t>(eq - *e))] = eq + 1;
  }
  env["ONDARIA_FRONTEND"] = "headless";
  env["ONDARIA_SPEECH_LOG"] = logPath;
  env["ONDARIA_SCREEN_DUMP"] = screenPath;
  env["XDG_CONFIG_HOME"] = root_ + "/config";
  env["LUMARE_SYSTEM_DIR"] = systemDir_;
  // Sound goes to a file without real-time pacing, so runs are quick.
  env["SDL_AUDIODRIVER"] = "disk";
  env["SDL_DISKAUDIOFILE"] = root_ + "/audio.raw";
  env["SDL_DISKAUDIODELAY"] = "0";
  for (const auto& [k, v] : env_) env[k] = v;
  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argStrings = {programPath()};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, scriptPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, workDir_.c_str());
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    result.stderrText = std::string("cannot start ") + argv[0] + ": " + std::strerror(rc);
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!result.timedOut) result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

  result.screen = readFile(screenPath);
  result.stderrText = readFile(errPath);
  std::istringstream log(readFile(logPath));
  for (std::string line; std::getline(log, line);) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    result.speech.push_back({line.substr(0, tab), line.substr(tab + 1)});
  }
  return result;
}

}  // namespace ondaria::test
