#include "console/core/settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "console/core/ini_file.h"
#include "platform/codepage.h"

namespace ondaria {

namespace {

constexpr const char* kSettingsFileName = "Lumare.ini";

// From program start until the speech front-end decides otherwise.
std::atomic<bool> fallbackOn{true};

// Names handed over by the system (environment, /proc) are UTF-8; the program
// works in cp1252.
std::string toProgramText(const std::string& systemText) {
  return platform::utf8ToCp1252(systemText);
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// An absolute directory from the environment; relative ones are ignored, as the
// XDG rules ask.
std::string environmentDirectory(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return {};
  return withoutTrailingSlashes(value);
}

std::string homeDirectory() {
  std::string home = environmentDirectory("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

// Stand-in for the Windows directory.
std::string systemDirectory() {
  std::string dir = environmentDirectory("LUMARE_SYSTEM_DIR");
  return dir.empty() ? std::string("/etc/lumare") : dir;
}

// Stand-in for the AppData folder's "Lumare".
std::string userDirectory() {
  std::string config = environmentDirectory("XDG_CONFIG_HOME");
  if (config.empty()) config = withoutTrailingSlashes(homeDirectory()) + "/.config";
  return config + "/lumare";
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool hasSettingsFile(const std::string& dir) {
  return isRegularFile(ini::matchFileName(dir + "/" + kSettingsFileName));
}

std::string settingsDirectorySystem() {
  const std::string candidate = userDirectory();
  const std::string system = systemDirectory();
  if (!hasSettingsFile(candidate) && hasSettingsFile(system)) return system;
  return candidate;
}

// The system path of a file named by the program. A bare file name lives in the
// system directory, as a bare name given to the Windows profile functions lives
// in the Windows directory. Reading finds a name that differs in case by itself;
// writing asks for it (matchFileName) so that it replaces that file.
std::string profilePath(const std::string& file) {
  if (file.empty()) return {};
  std::string path = nativePath(file);
  if (path.find('/') == std::string::npos) path = systemDirectory() + "/" + path;
  return path;
}

std::string profilePathForWriting(const std::string& file) {
  return ini::matchFileName(profilePath(file));
}

std::string rawSetting(const std::string& section, const std::string& key) {
  std::string value =
      readProfileString(section, key, "", settingsDirectory() + "/" + kSettingsFileName);
  if (value.empty() && fallbackOn.load()) value = readProfileString(section, key, "", kSettingsFileName);
  return value;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string familyProgramDirectory();

// Expands the "@" shorthands of a setting in one pass from left to right: "@@\"
// becomes the settings directory and "@\" the family's program directory, each
// followed by the separator written. Inserted directories are not scanned again,
// so a directory name holding "@\" cannot make the expansion run forever, and a
// second "@@\" is expanded like the first. `nested` expands PGMLUMARE itself,
// where "@\" stands for the program's own directory.
std::string expandShorthand(const std::string& value, bool nested) {
  if (value == "@") return programDirectory();
  if (value.find('@') == std::string::npos) return value;
  std::string out;
  for (size_t i = 0; i < value.size();) {
    if (value[i] == '@' && i + 2 < value.size() && value[i + 1] == '@' && isSeparator(value[i + 2])) {
      out += settingsDirectory();
      out += value[i + 2];
      i += 3;
    } else if (value[i] == '@' && i + 1 < value.size() && isSeparator(value[i + 1])) {
      out += nested ? programDirectory() : familyProgramDirectory();
      out += value[i + 1];
      i += 2;
    } else {
      out += value[i++];
    }
  }
  return out;
}

// LUMARE/PGMLUMARE, expanded; the program's own directory when it is empty or
// begins with "@".
std::string familyProgramDirectory() {
  const std::string raw = rawSetting("LUMARE", "PGMLUMARE");
  if (raw.empty() || raw[0] == '@') return programDirectory();
  return expandShorthand(raw, true);
}

}  // namespace

std::string programDirectory() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  const std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return toProgramText(slash == 0 ? std::string("/") : path.substr(0, slash));
}

std::string settingsDirectory() { return toProgramText(settingsDirectorySystem()); }

std::string userSettingsDirectory() { return toProgramText(userDirectory()); }

std::string systemSettingsDirectory() { return toProgramText(systemDirectory()); }

std::string readSetting(const std::string& section, const std::string& key) {
  return expandShorthand(rawSetting(section, key), false);
}

void setSettingsFallback(bool on) { fallbackOn.store(on); }

bool settingsFallback() { return fallbackOn.load(); }

std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const std::string& file) {
  const auto text = ini::loadIniFile(profilePath(file));
  std::string value;
  if (text && text->find(section, key, value)) return value;
  return defaultValue;
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) {
  const std::string path = profilePathForWriting(file);
  const auto text = path.empty() ? nullptr : ini::loadIniFile(path);
  if (!text) return false;
  std::string bytes;
  switch (text->setValue(section, key, value, bytes)) {
    case ini::Edit::Refused: return false;
    case ini::Edit::Unchanged: return true;
    case ini::Edit::Changed: break;
  }
  return ini::storeIniFile(path, std::make_shared<ini::IniText>(std::move(bytes), text->encoding()));
}

bool eraseProfileEntry(const std::string& section, const std::string& key, const std::string& file) {
  const std::string path = profilePathForWriting(file);
  const auto text = path.empty() ? nullptr : ini::loadIniFile(path);
  if (!text) return false;
  std::string bytes;
  if (text->erase(section, key, bytes) != ini::Edit::Changed) return true;
  return ini::storeIniFile(path, std::make_shared<ini::IniText>(std::move(bytes), text->encoding()));
}

int profileReadError(const std::string& file) {
  int error = 0;
  const auto text = ini::loadIniFile(profilePath(file), &error);
  return text ? 0 : (error != 0 ? error : EIO);
}

std::vector<std::string> profileSectionNames(const std::string& file) {
  const auto text = ini::loadIniFile(profilePath(file));
  return text ? text->sectionNames() : std::vector<std::string>{};
}

std::vector<std::string> profileKeyNames(const std::string& section, const std::string& file) {
  const auto text = ini::loadIniFile(profilePath(file));
  return text ? text->keyNames(section) : std::vector<std::string>{};
}

std::vector<std::pair<std::string, std::string>> readProfileSection(const std::string& section,
                                                                   const std::string& file) {
  const auto text = ini::loadIniFile(profilePath(file));
  return text ? text->entries(section) : std::vector<std::pair<std::string, std::string>>{};
}

std::string nativePath(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c == '\\') c = '/';
  if (!platform::isValidUtf8(out)) out = platform::cp1252ToUtf8(out);
  return out;
}

void resetSettingsState() {
  fallbackOn.store(true);
  ini::clearIniCache();
  ini::setIniWriteHook(nullptr);
}

}  // namespace ondaria
