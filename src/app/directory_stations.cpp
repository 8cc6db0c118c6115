#include "app/directory_stations.h"

#include <array>
#include <cstdio>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>

#include "console/core/ini_text.h"
#include "net/http_download.h"
#include "platform/codepage.h"
#include "speech/text_case.h"

namespace ondaria {

namespace {

using Json = nlohmann::json;

using ini::trimBlanks;

bool isBlankByte(uint8_t c) { return c == ' ' || c == '\t'; }

// Bytes that may not stand in a shown or spoken text: the C0 controls, DEL and
// the five bytes cp1252 leaves undefined (they decode to C1 controls).
bool isControlByte(uint8_t c) {
  return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool isUuid(std::string_view text) {
  if (text.empty() || text.size() > 64) return false;
  for (char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex && c != '-') return false;
  }
  return true;
}

// A host name as the mirror list gives it, with an optional ":port".
bool isServerName(std::string_view text) {
  if (text.empty() || text.size() > 253 + 6) return false;
  const size_t colon = text.find(':');
  const std::string_view host = text.substr(0, colon);
  if (host.empty() || host.front() == '-' || host.front() == '.') return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  if (colon == std::string_view::npos) return true;
  const std::string_view port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  int value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

std::string lowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Reads a file through a small buffer as the character sequence the JSON
// reader walks, so that an answer of any size costs only the buffer. The
// reader takes every character through this iterator: the common step is one
// comparison.
class FileChars {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  struct Source {
    std::FILE* file = nullptr;
    std::array<char, 64 * 1024> buffer{};
  };

  FileChars() = default;
  explicit FileChars(Source* source) : source_(source) { refill(); }
  const char& operator*() const { return *current_; }
  FileChars& operator++() {
    if (++current_ == end_) refill();
    return *this;
  }
  // Only "at the end or not" is ever asked.
  bool operator==(const FileChars& other) const {
    return (current_ == end_) == (other.current_ == other.end_);
  }
  bool operator!=(const FileChars& other) const { return !(*this == other); }

 private:
  void refill() {
    const size_t n = std::fread(source_->buffer.data(), 1, source_->buffer.size(), source_->file);
    current_ = source_->buffer.data();
    end_ = current_ + n;
  }
  Source* source_ = nullptr;
  const char* current_ = nullptr;
  const char* end_ = nullptr;
};

template <typename Sax>
bool parseFile(const std::string& path, Sax& sax) {
  auto source = std::make_unique<FileChars::Source>();
  source->file = std::fopen(path.c_str(), "rb");
  if (!source->file) return false;
  const bool ok = Json::sax_parse(FileChars(source.get()), FileChars(), &sax);
  std::fclose(source->file);
  return ok;
}

// Event handler shared by both answers: a top-level list of objects, each
// object's fields handed to the derived reader as they come; anything nested
// deeper is skipped.
template <typename Derived>
class ListOfObjects : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return scalar([&] { self().onNull(); }); }
  bool boolean(bool v) override { return scalar([&] { self().onNumber(v ? 1 : 0); }); }
  bool number_integer(number_integer_t v) override {
    return scalar([&] { self().onNumber(static_cast<int64_t>(v)); });
  }
  bool number_unsigned(number_unsigned_t v) override {
    return scalar([&] {
      self().onNumber(v > static_cast<number_unsigned_t>(INT64_MAX) ? INT64_MAX
                                                                    : static_cast<int64_t>(v));
    });
  }
  bool number_float(number_float_t v, const string_t&) override {
    return scalar([&] {
      if (v >= -9.0e18 && v <= 9.0e18) self().onNumber(static_cast<int64_t>(v));
    });
  }
  bool string(string_t& v) override { return scalar([&] { self().onString(v); }); }
  bool binary(binary_t&) override { return scalar([] {}); }
  bool start_object(std::size_t) override {
    if (depth_ == 0) return false;  // the answer must be a list
    if (depth_ == 1) {
      inEntry_ = true;
      self().onBegin();
    }
    ++depth_;
    return true;
  }
  bool key(string_t& k) override {
    if (depth_ == 2) key_ = k;
    return true;
  }
  bool end_object() override {
    if (--depth_ == 1) {
      inEntry_ = false;
      self().onEnd();
    }
    return true;
  }
  bool start_array(std::size_t) override {
    ++depth_;
    return true;
  }
  bool end_array() override {
    if (--depth_ == 0) complete_ = true;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }
  bool complete() const { return complete_; }

 protected:
  const std::string& currentKey() const { return key_; }

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
  // A value: a field when directly inside an object of the list; a plain
  // value at the top is no list, and values elsewhere are skipped.
  template <typename F>
  bool scalar(F&& f) {
    if (depth_ == 0) return false;
    if (depth_ == 2 && inEntry_) f();
    return true;
  }
  int depth_ = 0;
  bool inEntry_ = false;  // directly inside an object of the list
  std::string key_;
  bool complete_ = false;
};

class StationReader final : public ListOfObjects<StationReader> {
 public:
  explicit StationReader(DirectoryStations& out) : out_(out) {}

  void onBegin() {
    raw_ = Raw{};
  }
  void onNull() {}
  void onNumber(int64_t v) {
    const std::string& k = currentKey();
    if (k == "bitrate") raw_.bitrate = v;
    else if (k == "votes") raw_.votes = v;
    else if (k == "hls") raw_.hls = v != 0;
    else if (k == "lastcheckok") raw_.checkFailed = v == 0;
  }
  void onString(const std::string& v) {
    const std::string& k = currentKey();
    // Only the fields used are copied (and only as much as can be kept).
    if (k == "name") raw_.name = v.substr(0, kDirectoryNameLength * 4);
    else if (k == "url_resolved") raw_.resolved = v.substr(0, kDirectoryAddressLength + 1);
    else if (k == "url") raw_.url = v.substr(0, kDirectoryAddressLength + 1);
    else if (k == "stationuuid") raw_.uuid = v.substr(0, 65);
    else if (k == "tags") raw_.tags = v.substr(0, kDirectoryTextLength * 4);
    else if (k == "state") raw_.state = v.substr(0, kDirectoryTextLength * 4);
    else if (k == "countrycode") raw_.country = v.substr(0, 3);
    else if (k == "language") raw_.language = v.substr(0, kDirectoryTextLength * 4);
    else if (k == "codec") raw_.codec = v.substr(0, 64);
  }
  void onEnd() {
    DirectoryStation s;
    s.name = cleanDirectoryText(raw_.name, kDirectoryNameLength);
    s.address = playableDirectoryAddress(raw_.resolved);
    if (s.address.empty()) s.address = playableDirectoryAddress(raw_.url);
    if (s.name.empty() || s.address.empty() || raw_.checkFailed ||
        out_.stations.size() >= kDirectoryMaxStations) {
      ++out_.skipped;
      return;
    }
    if (isUuid(raw_.uuid)) s.uuid = raw_.uuid;
    size_t start = 0;
    while (start <= raw_.tags.size()) {
      size_t comma = raw_.tags.find(',', start);
      if (comma == std::string::npos) comma = raw_.tags.size();
      std::string tag = cleanDirectoryText(
          std::string_view(raw_.tags).substr(start, comma - start), kDirectoryNameLength);
      if (!tag.empty() && s.tags.size() < 20) s.tags.push_back(lowerAscii(std::move(tag)));
      start = comma + 1;
    }
    s.state = cleanDirectoryText(raw_.state, kDirectoryTextLength);
    s.language = cleanDirectoryText(raw_.language, kDirectoryTextLength);
    s.countryCode = normalizedCountryCode(raw_.country, "");
    std::string codec = cleanDirectoryText(raw_.codec, 16);
    for (char& c : codec)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (codec != "UNKNOWN") s.codec = std::move(codec);
    if (raw_.bitrate > 0 && raw_.bitrate < 100000) s.bitrate = static_cast<int>(raw_.bitrate);
    s.hls = raw_.hls;
    s.votes = raw_.votes > 0 ? raw_.votes : 0;
    out_.stations.push_back(std::move(s));
  }

 private:
  struct Raw {
    std::string name, resolved, url, uuid, tags, state, country, language, codec;
    int64_t bitrate = 0;
    int64_t votes = 0;
    bool hls = false;
    bool checkFailed = false;
  };
  DirectoryStations& out_;
  Raw raw_;
};

class ServerReader final : public ListOfObjects<ServerReader> {
 public:
  explicit ServerReader(std::vector<std::string>& out) : out_(out) {}
  void onBegin() { name_.clear(); }
  void onNull() {}
  void onNumber(int64_t) {}
  void onString(const std::string& v) {
    if (currentKey() == "name") name_ = v.substr(0, 300);
  }
  void onEnd() {
    // Host names are case-insensitive: the same mirror is tried once.
    const std::string name = lowerAscii(name_);
    if (!isServerName(name) || out_.size() >= kMaxServers) return;
    for (const std::string& known : out_)
      if (known == name) return;
    out_.push_back(name);
  }

 private:
  // More mirrors than the directory has ever run; the rest are ignored.
  static constexpr size_t kMaxServers = 64;
  std::vector<std::string>& out_;
  std::string name_;
};

std::vector<std::string> serversOrNone(bool ok, const ServerReader& reader,
                                       std::vector<std::string>& names) {
  if (!ok || !reader.complete()) names.clear();
  return names;
}

// The value as sent: UTF-8, blanks trimmed, every byte but a letter, a digit,
// "-" and "." escaped ("%26" for "&"), so that any character the user types
// ("&", "#", "+", "=", "?", "%") reaches the directory as itself. The request
// line keeps an escape as it is, so the value is escaped exactly once.
std::string queryValue(std::string_view cp1252) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : platform::cp1252ToUtf8(trimBlanks(cp1252))) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || c == '-' ||
        c == '.') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0x0F]);
    }
  }
  return out;
}

struct StateName {
  const char* code;
  const char* name;
};

// The 26 states and the Federal District, with the names the directory uses.
constexpr StateName kBrazilianStates[] = {
    {"AC", "Acre"},
    {"AL", "Alagoas"},
    {"AP", "Amap\xE1"},
    {"AM", "Amazonas"},
    {"BA", "Bahia"},
    {"CE", "Cear\xE1"},
    {"DF", "Distrito Federal"},
    {"ES", "Esp\xEDrito Santo"},
    {"GO", "Goi\xE1s"},
    {"MA", "Maranh\xE3o"},
    {"MT", "Mato Grosso"},
    {"MS", "Mato Grosso do Sul"},
    {"MG", "Minas Gerais"},
    {"PA", "Par\xE1"},
    {"PB", "Para\xED" "ba"},
    {"PR", "Paran\xE1"},
    {"PE", "Pernambuco"},
    {"PI", "Piau\xED"},
    {"RJ", "Rio de Janeiro"},
    {"RN", "Rio Grande do Norte"},
    {"RS", "Rio Grande do Sul"},
    {"RO", "Rond\xF4nia"},
    {"RR", "Roraima"},
    {"SC", "Santa Catarina"},
    {"SP", "S\xE3o Paulo"},
    {"SE", "Sergipe"},
    {"TO", "Tocantins"},
};

}  // namespace

std::string cleanDirectoryText(std::string_view utf8, size_t maxLength) {
  const std::string text = platform::utf8ToCp1252(utf8, 0);
  std::string out;
  out.reserve(std::min(text.size(), maxLength));
  bool blank = false;
  for (char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    if (isControlByte(c) || isBlankByte(c) || c == 0xA0) {
      blank = !out.empty();
      continue;
    }
    if (blank) {
      if (out.size() + 1 >= maxLength) break;
      out.push_back(' ');
      blank = false;
    }
    if (out.size() >= maxLength) break;
    out.push_back(ch);
  }
  return out;
}

std::string playableDirectoryAddress(std::string_view address) {
  const std::string_view text = trimBlanks(address);
  if (text.size() > kDirectoryAddressLength) return {};
  if (!startsWithNoCase(text, "http://") && !startsWithNoCase(text, "https://")) return {};
  static const std::string_view kRefused = "\"<>\\^`{|}";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    if (c <= 0x20 || c == 0x7F || kRefused.find(ch) != std::string_view::npos) return {};
    if (c >= 0x80) {
      static const char* const kHex = "0123456789ABCDEF";
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    } else {
      out.push_back(ch);
    }
  }
  if (out.size() > kDirectoryAddressLength) return {};
  UrlParts parts;
  if (!splitUrl(out, parts)) return {};
  return out;
}

DirectoryStations parseDirectoryStations(std::string_view json) {
  DirectoryStations result;
  StationReader reader(result);
  const bool ok = Json::sax_parse(json.begin(), json.end(), &reader);
  result.ok = ok && reader.complete();
  if (!result.ok) result.stations.clear();
  return result;
}

DirectoryStations parseDirectoryStationsFile(const std::string& path) {
  DirectoryStations result;
  StationReader reader(result);
  const bool ok = parseFile(path, reader);
  result.ok = ok && reader.complete();
  if (!result.ok) result.stations.clear();
  return result;
}

std::vector<std::string> parseDirectoryServers(std::string_view json) {
  std::vector<std::string> names;
  ServerReader reader(names);
  const bool ok = Json::sax_parse(json.begin(), json.end(), &reader);
  return serversOrNone(ok, reader, names);
}

std::vector<std::string> parseDirectoryServersFile(const std::string& path) {
  std::vector<std::string> names;
  ServerReader reader(names);
  const bool ok = parseFile(path, reader);
  return serversOrNone(ok, reader, names);
}

std::string directorySearchTarget(const DirectorySearch& search) {
  std::string target = "/json/stations/search?";
  auto add = [&](const char* key, const std::string& value) {
    target += key;
    target += '=';
    target += value;
    target += '&';
  };
  if (const std::string v = queryValue(search.name); !v.empty()) add("name", v);
  if (!search.countryCode.empty()) add("countrycode", search.countryCode);
  if (const std::string v = queryValue(search.state); !v.empty()) add("state", v);
  if (const std::string v = queryValue(search.tag); !v.empty()) add("tag", v);
  target += "order=votes&reverse=true&hidebroken=true&limit=" + std::to_string(search.limit);
  return target;
}

std::string directoryClickTarget(const std::string& uuid) { return "/json/url/" + uuid; }

std::string normalizedCountryCode(std::string_view text, std::string_view fallback) {
  const std::string_view code = trimBlanks(text);
  if (code.size() != 2) return std::string(fallback);
  std::string out;
  for (char c : code) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') return std::string(fallback);
    out.push_back(c);
  }
  return out;
}

std::string brazilianStateName(std::string_view text) {
  const std::string_view t = trimBlanks(text);
  const std::string code = normalizedCountryCode(t, "");
  for (const StateName& s : kBrazilianStates)
    if (code == s.code) return s.name;
  return std::string(t);
}

bool namesBrazilianState(std::string_view text) {
  const std::string folded = foldUpper(trimBlanks(text));
  for (const StateName& s : kBrazilianStates)
    if (folded == s.code || folded == foldUpper(s.name)) return true;
  return false;
}

}  // namespace ondaria
