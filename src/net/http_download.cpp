#include "net/http_download.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "net/tls.h"
#include "speech/speech.h"

namespace ondaria {
namespace {

// Body bytes that must arrive within one wait limit: a peer that trickles
// slower than this is given up on like a silent one.
constexpr std::uint64_t kBodyProgressBytes = 8192;
// Bytes copied per write to the file.
constexpr std::size_t kBodyBlock = 64 * 1024;

bool isBlankByte(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string trim(const std::string& text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && isBlankByte(text[b])) ++b;
  while (e > b && isBlankByte(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::string upperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A whole decimal number of digits only, no sign, no blanks.
bool parseNumber(const std::string& text, long long& value) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when the text begins with a scheme name followed by "://".
bool hasScheme(const std::string& text) {
  std::size_t pos = text.find("://");
  if (pos == std::string::npos || pos == 0) return false;
  for (std::size_t i = 0; i < pos; ++i) {
    char c = text[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '+' ||
              c == '-' || c == '.';
    if (!ok) return false;
  }
  return true;
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The address a Location names, read against the address that answered:
// absolute addresses are kept; "//host/x", "/x" and "x" are completed.
std::string resolveLocation(const std::string& location, const UrlParts& base) {
  if (hasScheme(location)) return location;
  std::string scheme = lowerAscii(base.scheme);
  if (startsWith(location, "//")) return scheme + ":" + location;
  std::string origin = scheme + "://" + base.host + ":" + std::to_string(base.port);
  if (startsWith(location, "/")) return origin + location;
  std::string path = base.target.substr(0, base.target.find('?'));
  path = path.substr(0, path.rfind('/') + 1);
  if (path.empty()) path = "/";
  return origin + path + location;
}

// Writes all of `data`; false on a short write.
bool writeAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

void splitLines(const std::string& text, std::vector<std::string>& list) {
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\n' || c == '\r') {
      list.push_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  if (start < text.size()) list.push_back(text.substr(start));
}

// Reads a whole local file of at most `limit` bytes.
NetFailure readLocalFile(const std::string& name, std::uint64_t limit, std::string& text) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return NetFailure::cannotCreateFile;
  text.clear();
  char block[8192];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    text.append(block, static_cast<std::size_t>(in.gcount()));
    if (text.size() > limit) return NetFailure::tooLarge;
  }
  return NetFailure::none;
}

}  // namespace

const char* netFailureName(NetFailure failure) {
  switch (failure) {
    case NetFailure::none: return "none";
    case NetFailure::badAddress: return "badAddress";
    case NetFailure::noConnection: return "noConnection";
    case NetFailure::timedOut: return "timedOut";
    case NetFailure::badAnswer: return "badAnswer";
    case NetFailure::httpStatus: return "httpStatus";
    case NetFailure::tooManyRedirects: return "tooManyRedirects";
    case NetFailure::redirectWithoutLocation: return "redirectWithoutLocation";
    case NetFailure::tooLarge: return "tooLarge";
    case NetFailure::truncated: return "truncated";
    case NetFailure::cannotCreateFile: return "cannotCreateFile";
    case NetFailure::writeFailed: return "writeFailed";
  }
  return "?";
}

bool splitUrl(const std::string& address, UrlParts& parts) {
  parts = UrlParts{};
  std::string text = trim(address);
  if (text.size() > kMaxAddressLength) return false;
  std::string rest = text;
  std::size_t marker = text.find("://");
  if (marker != std::string::npos) {
    parts.scheme = upperAscii(text.substr(0, marker));
    rest = text.substr(marker + 3);
  } else {
    parts.scheme = "HTTP";
  }
  std::size_t cut = rest.find('/');
  if (cut == std::string::npos) cut = rest.find('?');
  std::string host = rest;
  if (cut != std::string::npos) {
    host = rest.substr(0, cut);
    parts.target = rest.substr(cut);
    if (parts.target[0] == '?') parts.target.insert(0, "/");
  }
  // The port follows the first ":" of the host, or the "]" that closes an
  // IPv6 literal.
  std::size_t colon = std::string::npos;
  if (!host.empty() && host[0] == '[') {
    std::size_t close = host.find(']');
    if (close == std::string::npos) return false;
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':') return false;
      colon = close + 1;
    }
  } else {
    colon = host.find(':');
  }
  if (colon != std::string::npos) {
    long long port = 0;
    if (!parseNumber(host.substr(colon + 1), port) || port < 1 || port > 65535) return false;
    parts.port = static_cast<int>(port);
    host = host.substr(0, colon);
  } else {
    parts.port = parts.scheme == "HTTPS" ? 443 : 80;
  }
  if (host.empty()) return false;
  parts.host = host;
  if (parts.target.empty()) parts.target = "/";
  return true;
}

std::string encodeUrl(const std::string& text) {
  static const char* const kHex = "0123456789ABCDEF";
  static const std::string kSpecial = "\"%<>[]\\^_`{|}~";
  auto isHex = [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    auto b = static_cast<unsigned char>(c);
    // An escape the address already holds is sent as it is: escaping it
    // again would ask the server for another name ("%20" is not "%2520").
    const bool escape = c == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2]);
    if (!escape && (b <= 0x20 || b >= 0x7F || kSpecial.find(c) != std::string::npos)) {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string httpRequestText(const std::string& host, const std::string& target,
                            const std::string& userAgent) {
  return "GET " + encodeUrl(target) + " HTTP/1.0\r\n" +
         "UA-CPU: x86\r\n"
         "Connection: Close\r\n"
         "Accept-Language: pt-br\r\n"
         "User-Agent: " + userAgent + "\r\n"
         "Host: " + host + "\r\n"
         "\r\n";
}

HttpAnswer::HttpAnswer(HttpAnswer&& other) noexcept { *this = std::move(other); }

HttpAnswer& HttpAnswer::operator=(HttpAnswer&& other) noexcept {
  if (this != &other) {
    close();
    status = other.status;
    answered = other.answered;
    contentLength = other.contentLength;
    location = std::move(other.location);
    socket = other.socket;
    reader = std::move(other.reader);
    failure = other.failure;
    other.socket = -1;
  }
  return *this;
}

HttpAnswer::~HttpAnswer() { close(); }

void HttpAnswer::close() {
  freeReader(reader);
  closeConnection(socket);
  socket = -1;
}

bool httpRequest(const UrlParts& parts, HttpAnswer& answer, int waitLimit,
                 const std::string& userAgent) {
  answer.close();
  answer.status = 500;
  answer.answered = false;
  answer.contentLength = -1;
  answer.location.clear();
  answer.failure = NetFailure::none;

  answer.socket = parts.scheme == "HTTPS" ? connectTls(parts.host, parts.port, waitLimit)
                                          : connectTcp(parts.host, parts.port, waitLimit);
  if (answer.socket < 0) {
    answer.failure = NetFailure::noConnection;
    return false;
  }
  // The outcome of the send is not looked at: a failed send shows up as an
  // answer that cannot be read.
  sendText(answer.socket, httpRequestText(parts.host, parts.target, userAgent));
  answer.reader = newReader(answer.socket);

  std::vector<std::string> lines;
  std::string line;
  std::size_t headerBytes = 0;
  for (;;) {
    if (!readLine(answer.reader.get(), waitLimit, line)) {
      ReaderState why = answer.reader->state;
      // The end of the data ends the header block; a stalled, broken-off or
      // endless header does not give a usable answer.
      if (why == ReaderState::timedOut) answer.failure = NetFailure::timedOut;
      if (why == ReaderState::tooLong) answer.failure = NetFailure::badAnswer;
      break;
    }
    lines.push_back(line);
    if (line.empty()) break;
    headerBytes += line.size();
    if (lines.size() > static_cast<std::size_t>(kMaxHeaderLines) || headerBytes > kMaxHeaderBytes) {
      answer.failure = NetFailure::badAnswer;
      break;
    }
  }
  if (answer.failure == NetFailure::none && (lines.empty() || !startsWith(lines[0], "HTTP"))) {
    answer.failure = lines.empty() && answer.reader->state == ReaderState::timedOut
                         ? NetFailure::timedOut
                         : NetFailure::badAnswer;
  }
  if (answer.failure == NetFailure::none) {
    std::size_t blank = lines[0].find(' ');
    std::string code = blank == std::string::npos ? "" : lines[0].substr(blank + 1, 3);
    if (code.size() != 3 || !isDigit(code[0]) || !isDigit(code[1]) || !isDigit(code[2])) {
      answer.failure = NetFailure::badAnswer;
    } else {
      answer.status = std::stoi(code);
      answer.answered = true;
    }
  }
  if (answer.failure != NetFailure::none) {
    answer.close();
    return false;
  }

  if (answer.status == 200) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
      if (startsWith(upperAscii(trim(lines[i])), "CONTENT-LENGTH")) {
        std::size_t colon = lines[i].find(':');
        long long length = 0;
        if (colon != std::string::npos && parseNumber(trim(lines[i].substr(colon + 1)), length)) {
          answer.contentLength = length;
        }
        break;
      }
    }
    return true;  // the connection stays open for the body
  }
  if (answer.status >= 300 && answer.status <= 399) {
    for (const std::string& l : lines) {
      if (startsWith(upperAscii(l), "LOCATION:")) answer.location = trim(l.substr(9));
    }
  }
  answer.close();
  return true;
}

bool httpGetFollow(const std::string& address, HttpAnswer& answer, int waitLimit,
                   const std::string& userAgent) {
  std::string current = address;
  for (int answers = 0; answers < kMaxAnswers; ++answers) {
    UrlParts parts;
    if (!splitUrl(current, parts)) {
      answer.close();
      answer.failure = NetFailure::badAddress;
      return false;
    }
    if (!httpRequest(parts, answer, waitLimit, userAgent)) return false;
    if (answer.status == 200) return true;
    if (answer.status < 300 || answer.status > 399) {
      answer.failure = NetFailure::httpStatus;
      return false;
    }
    if (answer.location.empty()) {
      answer.failure = NetFailure::redirectWithoutLocation;
      return false;
    }
    current = resolveLocation(answer.location, parts);
  }
  answer.failure = NetFailure::tooManyRedirects;
  return false;
}

NetFailure writeBodyToFile(Reader* reader, const std::string& fileName,
                           const DownloadOptions& options, std::int64_t expectedLength,
                           std::uint64_t* written) {
  if (written) *written = 0;
  int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return NetFailure::cannotCreateFile;

  std::vector<char> block(kBodyBlock);
  std::size_t fill = 0;
  std::uint64_t total = 0;         // bytes received and kept
  std::uint64_t sinceProgress = 0;  // bytes since the wait count was last cleared
  int emptyPolls = 0;
  NetFailure failure = NetFailure::none;

  auto flush = [&]() -> bool {
    if (fill > 0 && !writeAll(fd, block.data(), fill)) return false;
    if (written) *written += fill;
    fill = 0;
    return true;
  };

  while (reader) {
    if (!waitForData(reader, options.waitLimit, emptyPolls)) {
      failure = NetFailure::timedOut;
      break;
    }
    std::size_t n = readSome(reader, block.data() + fill, block.size() - fill);
    if (n == 0) {
      if (reader->state == ReaderState::ended) break;
      if (reader->state != ReaderState::open) {
        failure = NetFailure::truncated;
        break;
      }
      // Readable but nothing to hand out (a TLS record still incomplete).
      if (++emptyPolls > options.waitLimit * 10 && options.waitLimit != 0) {
        failure = NetFailure::timedOut;
        break;
      }
      continue;
    }
    if (total + n > options.maxBodyBytes) {
      // Keep what fits; the download stops here.
      fill += static_cast<std::size_t>(options.maxBodyBytes - total);
      total = options.maxBodyBytes;
      failure = NetFailure::tooLarge;
      break;
    }
    fill += n;
    total += n;
    sinceProgress += n;
    if (sinceProgress >= kBodyProgressBytes) {
      sinceProgress = 0;
      emptyPolls = 0;
    }
    if (fill == block.size() && !flush()) {
      // A short write: the rest of the body is not read.
      failure = NetFailure::writeFailed;
      fill = 0;
      break;
    }
  }
  // What arrived is stored even when the transfer failed; the caller decides.
  if (!flush() && failure == NetFailure::none) failure = NetFailure::writeFailed;
  if (::close(fd) != 0 && failure == NetFailure::none) failure = NetFailure::writeFailed;
  if (failure == NetFailure::none && expectedLength >= 0 &&
      total < static_cast<std::uint64_t>(expectedLength)) {
    failure = NetFailure::truncated;
  }
  // Keys typed while the transfer blocked the program are stale by now.
  flushKeys();
  return failure;
}

DownloadResult downloadToFile(const std::string& address, const std::string& fileName,
                              const DownloadOptions& options) {
  DownloadResult result;
  HttpAnswer answer;
  bool ok = httpGetFollow(address, answer, options.waitLimit, options.userAgent);
  result.status = answer.answered ? answer.status : 0;
  if (!ok) {
    result.failure = answer.failure;
    return result;
  }
  result.failure = writeBodyToFile(answer.reader.get(), fileName, options, answer.contentLength,
                                   &result.bytes);
  answer.close();
  result.ok = result.failure == NetFailure::none;
  return result;
}

DownloadResult loadListFromAddress(const std::string& address, std::vector<std::string>& list,
                                   const DownloadOptions& options) {
  list.clear();
  DownloadResult result;
  struct stat st {};
  std::string text;
  if (::stat(address.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    result.failure = readLocalFile(address, options.maxBodyBytes, text);
    result.ok = result.failure == NetFailure::none;
    result.bytes = text.size();
    if (result.ok) splitLines(text, list);
    return result;
  }
  std::string name = tempFileName();
  if (name.empty()) {
    result.failure = NetFailure::cannotCreateFile;
    return result;
  }
  result = downloadToFile(address, name, options);
  if (result.ok) {
    NetFailure read = readLocalFile(name, options.maxBodyBytes, text);
    if (read == NetFailure::none) {
      splitLines(text, list);
    } else {
      result.ok = false;
      result.failure = read;
    }
  }
  ::unlink(name.c_str());
  return result;
}

std::string tempFileName() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  path += "ondXXXXXX";
  std::vector<char> buf(path.begin(), path.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) return "";
  ::close(fd);
  return std::string(buf.data());
}

}  // namespace ondaria
