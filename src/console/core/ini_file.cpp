#include "console/core/ini_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace ondaria::ini {

namespace {

// A few files are in use at once (settings, station list, a change file); eight
// entries hold them all without keeping stale copies of many others.
constexpr size_t kCacheEntries = 8;

struct CacheEntry {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec readAt{};  // kernel coarse clock just before the bytes were read
  std::shared_ptr<const IniText> text;
  uint64_t lastUse = 0;
};

struct State {
  std::mutex mutex;
  std::vector<CacheEntry> entries;
  uint64_t useCounter = 0;
  uint64_t tempCounter = 0;
  std::function<void(const std::string&)> hook;
};

State& state() {
  static State s;
  return s;
}

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// File times are taken from the kernel's coarse clock; comparing with the same
// clock tells whether a later change could still carry the same time.
timespec coarseNow() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME_COARSE, &t);
  return t;
}

bool sameFile(const CacheEntry& e, const struct stat& st) {
  return e.device == st.st_dev && e.inode == st.st_ino && e.size == st.st_size &&
         e.modified.tv_sec == st.st_mtim.tv_sec && e.modified.tv_nsec == st.st_mtim.tv_nsec;
}

void remember(CacheEntry& e, const struct stat& st, const timespec& readAt) {
  e.device = st.st_dev;
  e.inode = st.st_ino;
  e.size = st.st_size;
  e.modified = st.st_mtim;
  e.readAt = readAt;
}

CacheEntry* findEntry(State& s, const std::string& path) {
  for (CacheEntry& e : s.entries)
    if (e.path == path) return &e;
  return nullptr;
}

CacheEntry& newEntry(State& s, const std::string& path) {
  if (CacheEntry* e = findEntry(s, path)) return *e;
  if (s.entries.size() >= kCacheEntries) {
    size_t oldest = 0;
    for (size_t i = 1; i < s.entries.size(); ++i)
      if (s.entries[i].lastUse < s.entries[oldest].lastUse) oldest = i;
    s.entries.erase(s.entries.begin() + static_cast<std::ptrdiff_t>(oldest));
  }
  s.entries.push_back(CacheEntry{});
  s.entries.back().path = path;
  return s.entries.back();
}

bool readAll(int fd, std::string& out, size_t sizeHint) {
  out.clear();
  out.reserve(sizeHint);
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const std::shared_ptr<const IniText>& emptyText() {
  static const std::shared_ptr<const IniText> empty = std::make_shared<IniText>();
  return empty;
}

}  // namespace

std::shared_ptr<const IniText> loadIniFile(const std::string& requested, int* error) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  int ignored = 0;
  int& why = error ? *error : ignored;
  why = 0;
  // One stat per call when the file is there: on a busy station list this is
  // the whole cost of a read.
  std::string path = requested;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      why = errno;
      return nullptr;
    }
    path = matchFileName(requested);
    if (path == requested || ::stat(path.c_str(), &st) != 0) return emptyText();
  }
  if (!S_ISREG(st.st_mode)) {
    why = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return nullptr;
  }

  CacheEntry* cached = findEntry(s, path);
  if (cached && sameFile(*cached, st) && before(cached->modified, cached->readAt)) {
    cached->lastUse = ++s.useCounter;
    return cached->text;
  }

  const timespec readAt = coarseNow();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return emptyText();
    why = errno;
    return nullptr;
  }
  std::string bytes;
  const bool ok = ::fstat(fd, &st) == 0 && readAll(fd, bytes, static_cast<size_t>(st.st_size));
  if (!ok) why = errno != 0 ? errno : EIO;
  ::close(fd);
  if (!ok) return nullptr;

  // A racy entry whose bytes did not change keeps its parse.
  if (cached && cached->text->bytes() == bytes) {
    remember(*cached, st, readAt);
    cached->lastUse = ++s.useCounter;
    return cached->text;
  }
  CacheEntry& e = newEntry(s, path);
  e.text = std::make_shared<IniText>(std::move(bytes));
  remember(e, st, readAt);
  e.lastUse = ++s.useCounter;
  return e.text;
}

namespace {

// The file a replacement writes: the path itself, or the target of a link
// (the link stays a link). Empty for a dangling link, which has nothing sound
// to replace. `exists` tells whether a file is there; false is returned when
// what is there must not be replaced (not a regular file, or read-only).
bool replacementTarget(const std::string& path, std::string& target, struct stat& st,
                       bool& exists) {
  target = path;
  exists = false;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return false;
    target = resolved;
    std::free(resolved);
  }
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0) return false;
    exists = true;
    return true;
  }
  return errno == ENOENT;
}

}  // namespace

bool canReplaceFile(const std::string& path) {
  if (path.empty()) return false;
  std::string target;
  struct stat st {};
  bool exists = false;
  return replacementTarget(path, target, st, exists);
}

bool storeIniFile(const std::string& path, std::shared_ptr<const IniText> text) {
  if (!text || path.empty()) return false;
  State& s = state();

  std::string target;
  struct stat st {};
  bool exists = false;
  if (!replacementTarget(path, target, st, exists)) return false;

  const std::string dir = directoryOf(target);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    uint64_t n;
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      n = ++s.tempCounter;
    }
    temp = dir + "/." + baseNameOf(target) + "." + std::to_string(::getpid()) + "." +
           std::to_string(n) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  const timespec writtenAt = coarseNow();
  bool ok = true;
  if (exists) {
    ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    if (ok && ::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Keeping the owner is a courtesy; the contents matter more.
    }
  }
  ok = ok && writeAll(fd, text->bytes()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }

  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    hook = s.hook;
  }
  if (hook) hook(temp);

  if (::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);  // the rename is made; a failed flush here cannot be undone
    ::close(dirFd);
  }

  std::lock_guard<std::mutex> lock(s.mutex);
  struct stat now {};
  if (::stat(path.c_str(), &now) == 0) {
    CacheEntry& e = newEntry(s, path);
    e.text = std::move(text);
    remember(e, now, writtenAt);
    e.lastUse = ++s.useCounter;
  } else {
    std::erase_if(s.entries, [&](const CacheEntry& e) { return e.path == path; });
  }
  return true;
}

std::string matchFileName(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) == 0) return path;
  const std::string dir = directoryOf(path);
  const std::string base = baseNameOf(path);
  if (base.empty()) return path;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return path;
  std::string found;
  while (dirent* entry = ::readdir(d)) {
    if (::strcasecmp(entry->d_name, base.c_str()) == 0) {
      found = entry->d_name;
      break;
    }
  }
  ::closedir(d);
  if (found.empty()) return path;
  return (path.find('/') == std::string::npos ? std::string() : dir + "/") + found;
}

void setIniWriteHook(std::function<void(const std::string& tempPath)> hook) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.hook = std::move(hook);
}

void clearIniCache() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.entries.clear();
}

}  // namespace ondaria::ini
