#include "app/station_update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/app_state.h"
#include "app/change_file.h"
#include "app/directory_update.h"
#include "app/station_list.h"
#include "console/core/console.h"
#include "console/core/ini_file.h"
#include "console/core/settings.h"
#include "console/ui/field_editor.h"
#include "console/ui/option_menu.h"
#include "platform/codepage.h"
#include "speech/say_message.h"
#include "speech/speech.h"

namespace ondaria {

namespace {

constexpr uint8_t kEsc = 27;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trimBlanks(const std::string& text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

bool hasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// What the station list file's layout can hold as section/key = value (the
// INI layer refuses the rest): names and value without line breaks or NUL
// bytes, a named section, and a key that is a storable station name or, to
// delete the whole section, empty.
bool layoutCanHold(const std::string& section, const std::string& key, const std::string& value) {
  if (section.empty() || hasLineBreakOrNul(section) || hasLineBreakOrNul(value)) return false;
  return key.empty() || isStorableStationName(key);
}

std::string stationListFile() { return nativePath(appState().stationListPath); }

// Shows an invalid line and waits for Enter; false when the user pressed ESC
// to give up the rest of the file.
bool reportInvalidLine(const std::string& line) {
  sayMessage("ODCHINVA", 1);
  writeLineSpoken(reportableLine(line, kInvalidLineShown));
  sayMessage("ODAPTENT", 0);
  const bool go = waitForEnterOrEsc();
  writeLine();
  return go;
}

// Reads a change file whole: 0, or the system's error number (ENOENT for a
// missing file, EISDIR for a folder, EFBIG beyond kChangeFileLimit, ...).
int readChangeFile(const std::string& path, std::string& bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (static_cast<uint64_t>(st.st_size) > kChangeFileLimit) return EFBIG;
  std::ifstream in(path, std::ios::binary);
  if (!in) return errno != 0 ? errno : EACCES;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return EIO;
  return 0;
}

// The file a rename must replace: the station list itself, or the file a
// symbolic link of that name points at (the link stays a link).
std::string replacementTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      std::string target = resolved;
      std::free(resolved);
      return target;
    }
  }
  return path;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Puts the complete new list in place with one rename: at every moment the
// station list file is either the old list or the new one, never a mixture,
// and a crash cannot lose both (the new bytes reach the disk before the rename).
bool replaceWithTemporary(const std::string& temporary, const std::string& target) {
  const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced) return false;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) ::chmod(temporary.c_str(), st.st_mode & 07777);
  if (::rename(temporary.c_str(), target.c_str()) != 0) return false;
  const int dirFd = ::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);  // the rename is made; a failed flush here cannot be undone
    ::close(dirFd);
  }
  return true;
}

}  // namespace

// ---- Favourites ---------------------------------------------------------------

SavedFavourites saveFavourites() {
  SavedFavourites saved;
  sayMessage("ODMANPRF", 0);
  if (chooseLetter("SN") != 'S') return saved;
  const std::string file = appState().stationListPath;
  const std::string section(kFavouritesSection);
  for (int slot = 1; slot <= kFavouriteSlots; ++slot)
    saved.push_back(readProfileString(section, std::to_string(slot), "", file));
  return saved;
}

bool restoreFavourites(SavedFavourites& saved) {
  bool ok = true;
  if (!saved.empty()) {
    const std::string file = appState().stationListPath;
    const std::string section(kFavouritesSection);
    for (int slot = 1; slot <= kFavouriteSlots && slot <= static_cast<int>(saved.size()); ++slot) {
      const std::string key = std::to_string(slot);
      // A slot that already reads as saved is left alone, so that restoring
      // after a failed update does not touch the file at all (a missing entry
      // and an empty one are the same empty slot).
      if (readProfileString(section, key, "", file) == saved[slot - 1]) continue;
      if (!writeProfileString(section, key, saved[slot - 1], file)) ok = false;
    }
  }
  saved.clear();
  return ok;
}

// ---- Main option A --------------------------------------------------------------

void updateStationList() {
  if (!stationListReadable()) return;
  SavedFavourites saved = saveFavourites();
  sayMessage("ODATUINT", 0);
  if (chooseLetter("SN") == 'N')
    updateFromChangeFile();
  else if (updateSource().empty())
    updateFromDirectory();
  else
    updateFromInternet();
  // The favourites go back in every case the user asked for them, failures
  // included; losing them silently would be worse than a message.
  if (!restoreFavourites(saved)) sayMessage("ODERRWAR", 1);
}

// ---- Change file ----------------------------------------------------------------

ChangeResult applyChange(const std::string& section, const std::string& line, bool overwrite) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return ChangeResult::invalid;
  const std::string key = line.substr(0, equals);
  const std::string value = line.substr(equals + 1);
  const bool setting = !trimBlanks(value).empty();
  // A key of blanks is not the empty key (isStorableStationName refuses it):
  // it must not delete the whole section.
  if (!layoutCanHold(section, key, value) || (setting && key.empty())) return ChangeResult::invalid;

  const std::string file = appState().stationListPath;
  if (setting) {
    if (!overwrite && !readProfileString(section, key, "", file).empty())
      return ChangeResult::applied;
    return writeProfileString(section, key, value, file) ? ChangeResult::applied
                                                         : ChangeResult::writeFailed;
  }
  // An empty key removes the whole section.
  return eraseProfileEntry(section, key, file) ? ChangeResult::applied : ChangeResult::writeFailed;
}

void updateFromChangeFile() {
  sayMessage("ODARQMUD", 1);
  std::string name;
  readLineSpoken(name);
  if (name.empty()) return;

  std::string bytes;
  const int error = readChangeFile(nativePath(name), bytes);
  if (error == ENOENT || error == ENOTDIR) {
    sayMessage("ODARQNEX", 2);
    return;
  }
  if (error != 0) {
    reportReadError("ODARQILE", error);
    return;
  }

  sayMessage("ODMODIFA", 0);
  const KeyEcho answer = readCharEcho();
  writeLine();
  if (answer.character == kEsc) return;
  const bool overwrite = answer.character == 'S' || answer.character == 's';

  std::string section;
  int applied = 0;
  int invalid = 0;
  for (const ChangeFileLine& line : readChangeFileLines(bytes)) {
    if (line.kind == ChangeFileLine::Kind::Section) {
      section = changeSectionName(line.text);
      writeLine(section);
      continue;
    }
    const ChangeResult result = applyChange(section, line.text, overwrite);
    if (result == ChangeResult::writeFailed) {
      // The station list cannot be written (a read-only folder, a full disk):
      // every further line would fail the same way, and "OK." would be a lie.
      sayMessage("ODERRWAR", 1);
      return;
    }
    if (result == ChangeResult::applied) {
      ++applied;
      continue;
    }
    if (++invalid <= kInvalidLinesReported && !reportInvalidLine(line.text)) {
      sayMessage("ODDESIST", 2);
      return;
    }
  }
  if (invalid > kInvalidLinesReported) {
    sayMessage("ODMAISIN", 0);
    writeLineSpoken(std::to_string(invalid - kInvalidLinesReported));
  }
  // "OK." only when every line went in: a file of which nothing could be
  // used (a wrong file) is no success, and neither, wholly, is one with
  // invalid lines.
  if (invalid == 0)
    sayMessage("ODOK", 2);
  else if (applied == 0)
    sayMessage("ODNADAPL", 2);
  else
    sayMessage("ODATUPAR", 2);
}

// ---- Internet -------------------------------------------------------------------

std::string updateSource() { return trimBlanks(readSetting("ONDARIA", "SITEATUALIZA")); }

UpdateSourceParts splitUpdateSource(const std::string& url) {
  UpdateSourceParts parts;
  std::string rest = url;
  const size_t slashes = rest.find("//");
  if (slashes != std::string::npos) {
    std::string scheme = rest.substr(0, slashes);
    for (char& c : scheme)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    parts.secure = scheme == "https:";
    rest = rest.substr(slashes + 2);
  }
  const size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    parts.host = rest.substr(0, slash);
    parts.path = rest.substr(slash);
  } else {
    parts.path = rest;  // no "/" after the host: no host, the fetch fails
  }
  return parts;
}

FetchResult fetchToFile(const std::string& host, const std::string& path,
                        const std::string& fileName, bool secure) {
  FetchResult result;
  if (host.empty()) {
    result.failure = NetFailure::badAddress;
    return result;
  }
  const DownloadOptions options = stationListDownload();
  HttpAnswer answer;
  const bool ok =
      httpGetFollow((secure ? "https://" : "http://") + host + path, answer, options.waitLimit);
  result.status = answer.answered ? answer.status : 0;
  if (result.status != 0) writeLine("HTTP " + std::to_string(result.status));
  if (!ok) {
    result.failure = answer.failure;
    return result;
  }
  clickSound();
  result.failure = writeBodyToFile(answer.reader.get(), fileName, options, answer.contentLength,
                                   &result.bytes);
  answer.close();
  if (result.failure == NetFailure::cannotCreateFile || result.failure == NetFailure::writeFailed)
    sayMessage("ODERRWAR", 1);
  clickSound();
  result.ok = result.failure == NetFailure::none;
  return result;
}

bool looksLikeStationList(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  // Scanned in blocks, so a huge file of one endless line costs no memory.
  enum class State { lineStart, header, rest } state = State::lineStart;
  char block[8192];
  bool firstBlock = true;
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    std::streamsize i = 0;
    // A list saved as UTF-8 with a byte-order mark: the mark is no text.
    if (firstBlock && platform::textPreambleLength(std::string_view(block, static_cast<size_t>(in.gcount())),
                                                   platform::TextEncoding::Utf8Bom) > 0)
      i = static_cast<std::streamsize>(platform::kUtf8Bom.size());
    firstBlock = false;
    for (; i < in.gcount(); ++i) {
      const char c = block[i];
      if (c == '\n' || c == '\r') {
        state = State::lineStart;
      } else if (state == State::lineStart) {
        if (c == '[') state = State::header;
        else if (!isBlank(c)) state = State::rest;
      } else if (state == State::header && c == ']') {
        return true;
      }
    }
  }
  return false;
}

bool updateFromInternet() {
  const UpdateSourceParts source = splitUpdateSource(updateSource());
  const std::string target = replacementTarget(stationListFile());
  const std::string temporary = target + ".tmp";
  // A station list the user made read-only is not replaced, as no other
  // change is made to it; nothing is fetched for nothing.
  if (!ini::canReplaceFile(target)) {
    sayMessage("ODERRWAR", 2);
    return false;
  }

  const FetchResult fetched = fetchToFile(source.host, source.path, temporary, source.secure);
  const bool replaced =
      fetched.ok && looksLikeStationList(temporary) && replaceWithTemporary(temporary, target);
  if (replaced) return true;

  // Whatever part of a list arrived is thrown away; the old list stays.
  ::unlink(temporary.c_str());
  sayMessage("ODATNENC", 2);
  sayMessage("ODAPTENT", 1);
  waitForEnterOrEsc();
  return false;
}

bool replaceStationList(const std::function<bool(const std::string& temporary)>& write) {
  const std::string target = replacementTarget(stationListFile());
  const std::string temporary = target + ".tmp";
  // The same rule as every other change: a read-only list stays as it is.
  if (!ini::canReplaceFile(target)) return false;
  if (write(temporary) && looksLikeStationList(temporary) && replaceWithTemporary(temporary, target))
    return true;
  ::unlink(temporary.c_str());
  return false;
}

}  // namespace ondaria
