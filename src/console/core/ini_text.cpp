#include "console/core/ini_text.h"

namespace ondaria::ini {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool holdsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool storableSection(std::string_view name) {
  return !name.empty() && !holdsLineBreakOrNul(name);
}

// A key must not read back as a comment, a section header or a shorter key.
bool storableKey(std::string_view key) {
  return storableSection(key) && key.find('=') == std::string_view::npos && key.front() != ';' &&
         key.front() != '[';
}

bool isQuote(char c) { return c == '"' || c == '\''; }

// Reading trims blanks and removes one pair of enclosing quotes; a value that
// would lose something that way is written inside double quotes.
std::string encodeValue(std::string_view value) {
  const bool quoted = value.size() >= 2 && isQuote(value.front()) && value.back() == value.front();
  if (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) || quoted)) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    out += value;
    out += '"';
    return out;
  }
  return std::string(value);
}

// Appends names while they fit in the listing limit (see kNameListLimit).
template <typename NameOf, typename Container>
std::vector<std::string> limitedNames(const Container& items, NameOf nameOf) {
  std::vector<std::string> names;
  size_t used = 1;  // the final terminating zero
  for (const auto& item : items) {
    std::string_view name = nameOf(item);
    if (used + name.size() + 1 > kNameListLimit) break;
    used += name.size() + 1;
    names.emplace_back(name);
  }
  return names;
}

}  // namespace

std::string foldName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(platform::cp1252Upper(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trimBlanks(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && isBlank(text[b])) ++b;
  while (e > b && isBlank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

IniText::IniText(std::string bytes) : bytes_(std::move(bytes)) {
  encoding_ = platform::detectTextEncoding(bytes_);
  parse();
}

IniText::IniText(std::string bytes, TextEncoding encoding)
    : bytes_(std::move(bytes)), encoding_(encoding) {
  parse();
}

std::string IniText::toProgram(std::string_view fileText) const {
  return platform::decodeFileText(fileText, encoding_ == TextEncoding::Cp1252
                                                ? TextEncoding::Cp1252
                                                : TextEncoding::Utf8);
}

std::string IniText::toFile(std::string_view programText) const {
  return platform::encodeFileText(programText, encoding_);
}

void IniText::parse() {
  const size_t n = bytes_.size();
  const std::string_view all(bytes_);
  int32_t current = -1;
  contentStart_ = platform::textPreambleLength(all, encoding_);
  size_t pos = contentStart_;
  while (pos < n) {
    Line line;
    line.start = pos;
    // A line ends at LF, CR LF or a CR alone (files of old systems, and a CR
    // left at the very end): a CR never stays inside a name or value, where a
    // later edit could join it with a line end of its own.
    const size_t eol = bytes_.find_first_of("\r\n", pos);
    if (eol == std::string::npos) {
      line.length = n - pos;
      pos = n;
    } else {
      line.length = eol - pos;
      line.eolLength = (bytes_[eol] == '\r' && eol + 1 < n && bytes_[eol + 1] == '\n') ? 2 : 1;
      pos = eol + line.eolLength;
    }
    const size_t index = lines_.size();
    const std::string_view text = all.substr(line.start, line.length);
    size_t p = 0;
    while (p < text.size() && isBlank(text[p])) ++p;

    if (p < text.size() && text[p] == '[' && text.rfind(']') != std::string_view::npos &&
        text.rfind(']') > p) {
      const size_t close = text.rfind(']');
      const std::string_view raw = text.substr(p + 1, close - p - 1);
      const std::string_view name = trimBlanks(raw);
      line.kind = Kind::Header;
      line.nameStart = line.start + p + 1 + static_cast<size_t>(name.data() - raw.data());
      line.nameLength = name.size();
      current = -1;
      if (!name.empty()) {
        std::string programName = toProgram(name);
        auto [it, added] = sectionIndex_.try_emplace(foldName(programName), sections_.size());
        if (added) sections_.push_back(Section{std::move(programName), {}, {}, {}});
        current = static_cast<int32_t>(it->second);
        sections_[it->second].blocks.push_back(index);
      }
    } else if (p < text.size() && text[p] != ';') {
      const size_t eq = text.find('=', p);
      if (eq != std::string_view::npos) {
        const std::string_view rawKey = text.substr(p, eq - p);
        const std::string_view key = trimBlanks(rawKey);
        if (!key.empty()) {
          const std::string_view rawValue = text.substr(eq + 1);
          const std::string_view value = trimBlanks(rawValue);
          line.kind = Kind::Entry;
          line.nameStart = line.start + p;
          line.nameLength = key.size();
          line.afterEquals = line.start + eq + 1;
          line.valueStart = line.afterEquals + static_cast<size_t>(value.data() - rawValue.data());
          line.valueLength = value.size();
          if (current >= 0) {
            Section& s = sections_[static_cast<size_t>(current)];
            if (s.keyIndex.try_emplace(foldName(toProgram(key)), index).second)
              s.keys.push_back(index);
          }
        }
      }
    }
    line.section = current;
    lines_.push_back(line);
  }
}

std::string_view IniText::lineName(const Line& line) const {
  return std::string_view(bytes_).substr(line.nameStart, line.nameLength);
}

int IniText::sectionIndex(std::string_view section) const {
  const std::string_view name = trimBlanks(section);
  if (name.empty()) return -1;
  auto it = sectionIndex_.find(foldName(name));
  return it == sectionIndex_.end() ? -1 : static_cast<int>(it->second);
}

size_t IniText::blockEnd(size_t headerLine) const {
  size_t i = headerLine + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::Header) ++i;
  return i;
}

const char* IniText::lineEnd() const {
  for (const Line& line : lines_) {
    if (line.eolLength == 2) return "\r\n";
    if (line.eolLength == 1) return bytes_[line.start + line.length] == '\r' ? "\r" : "\n";
  }
  return "\r\n";
}

bool IniText::find(std::string_view section, std::string_view key, std::string& value) const {
  const int s = sectionIndex(section);
  const std::string_view k = trimBlanks(key);
  if (s < 0 || k.empty()) return false;
  const auto& index = sections_[static_cast<size_t>(s)].keyIndex;
  auto it = index.find(foldName(k));
  if (it == index.end()) return false;
  value = lineValue(lines_[it->second]);
  return true;
}

std::string IniText::lineValue(const Line& line) const {
  std::string_view v = std::string_view(bytes_).substr(line.valueStart, line.valueLength);
  if (v.size() >= 2 && isQuote(v.front()) && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return toProgram(v);
}

std::vector<std::pair<std::string, std::string>> IniText::entries(std::string_view section) const {
  const std::vector<std::string> keys = keyNames(section);
  std::vector<std::pair<std::string, std::string>> out;
  if (keys.empty()) return out;  // also when there is no such section
  out.reserve(keys.size());
  const Section& sec = sections_[static_cast<size_t>(sectionIndex(section))];
  for (size_t i = 0; i < keys.size(); ++i) out.emplace_back(keys[i], lineValue(lines_[sec.keys[i]]));
  return out;
}

std::vector<std::string> IniText::sectionNames() const {
  return limitedNames(sections_, [](const Section& s) { return std::string_view(s.name); });
}

std::vector<std::string> IniText::keyNames(std::string_view section) const {
  const int s = sectionIndex(section);
  if (s < 0) return {};
  const std::vector<size_t>& keys = sections_[static_cast<size_t>(s)].keys;
  if (encoding_ == TextEncoding::Cp1252)
    return limitedNames(keys, [this](size_t line) { return lineName(lines_[line]); });
  std::vector<std::string> names;
  names.reserve(keys.size());
  for (size_t line : keys) names.push_back(toProgram(lineName(lines_[line])));
  return limitedNames(names, [](const std::string& name) { return std::string_view(name); });
}

Edit IniText::setValue(std::string_view section, std::string_view key, std::string_view value,
                       std::string& out) const {
  const std::string_view s = trimBlanks(section);
  const std::string_view k = trimBlanks(key);
  if (!storableSection(s) || !storableKey(k) || holdsLineBreakOrNul(value)) return Edit::Refused;
  const std::string encoded = toFile(encodeValue(value));
  const char* eol = lineEnd();
  out.clear();

  const int si = sectionIndex(s);
  if (si < 0) {
    out.reserve(bytes_.size() + s.size() + k.size() + encoded.size() + 8);
    out = bytes_;
    if (out.size() > contentStart_ && out.back() != '\n' && out.back() != '\r') out += eol;
    out.append("[").append(toFile(s)).append("]").append(eol);
    out.append(toFile(k)).append("=").append(encoded).append(eol);
    return Edit::Changed;
  }

  const Section& sec = sections_[static_cast<size_t>(si)];
  auto it = sec.keyIndex.find(foldName(k));
  if (it != sec.keyIndex.end()) {
    const Line& line = lines_[it->second];
    const size_t contentEnd = line.start + line.length;
    if (std::string_view(bytes_).substr(line.afterEquals, contentEnd - line.afterEquals) == encoded)
      return Edit::Unchanged;
    out.reserve(bytes_.size() + encoded.size());
    out.append(bytes_, 0, line.afterEquals);
    out += encoded;
    out.append(bytes_, contentEnd, std::string::npos);
    return Edit::Changed;
  }

  // A new key goes after the last entry of the first block, so that blank lines
  // and comments ending the block stay in front of the next section.
  const size_t header = sec.blocks.front();
  const size_t end = blockEnd(header);
  size_t last = header;
  for (size_t i = header + 1; i < end; ++i)
    if (lines_[i].kind == Kind::Entry) last = i;
  const Line& after = lines_[last];
  const size_t insertAt = after.start + after.length + after.eolLength;
  out.reserve(bytes_.size() + k.size() + encoded.size() + 6);
  out.append(bytes_, 0, insertAt);
  if (after.eolLength == 0) out += eol;
  out.append(toFile(k)).append("=").append(encoded).append(eol);
  out.append(bytes_, insertAt, std::string::npos);
  return Edit::Changed;
}

Edit IniText::erase(std::string_view section, std::string_view key, std::string& out) const {
  const int si = sectionIndex(section);
  if (si < 0) return Edit::Unchanged;
  const Section& sec = sections_[static_cast<size_t>(si)];
  const std::string_view k = trimBlanks(key);
  std::string folded;
  if (!k.empty()) {
    folded = foldName(k);
    if (sec.keyIndex.find(folded) == sec.keyIndex.end()) return Edit::Unchanged;
  }

  std::vector<bool> drop(lines_.size(), false);
  for (size_t header : sec.blocks) {
    const size_t end = blockEnd(header);
    for (size_t i = header; i < end; ++i) {
      if (k.empty())
        drop[i] = true;
      else if (lines_[i].kind == Kind::Entry && foldName(toProgram(lineName(lines_[i]))) == folded)
        drop[i] = true;
    }
  }
  out.clear();
  out.reserve(bytes_.size());
  out.append(bytes_, 0, contentStart_);  // the byte-order mark stays
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (drop[i]) continue;
    const Line& line = lines_[i];
    out.append(bytes_, line.start, line.length + line.eolLength);
  }
  return Edit::Changed;
}

}  // namespace ondaria::ini
