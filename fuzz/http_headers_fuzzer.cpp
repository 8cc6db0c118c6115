// HTTP and ICY response heads: any bytes are split into lines without line
// ends; the status is a three-digit number at most; header values have no
// blanks in front; a Location is resolved against the request's address
// without fault and the result, when it parses, has a host.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/http_head.h"
#include "platform/stream_http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view head(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  int status = 0;
  bool icy = false;
  if (!platform::parseResponseHead(head, lines, status, icy)) return 0;
  FUZZ_CHECK(!lines.empty());
  FUZZ_CHECK(status >= 0 && status <= 999);
  for (const std::string& line : lines) {
    FUZZ_CHECK(!line.empty());
    FUZZ_CHECK(line.find('\n') == std::string::npos);
  }
  for (const char* name : {"content-type", "content-length", "icy-metaint", "location", "icy-name"}) {
    const std::string value = platform::headerValue(lines, name);
    FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.front() != '\t'));
  }
  platform::StreamUrl base;
  FUZZ_CHECK(base.parse("http://radio.exemplo:8000/dir/stream?x=1"));
  const std::string next = platform::resolveUrl(base, platform::headerValue(lines, "location"));
  platform::StreamUrl target;
  if (target.parse(next)) {
    FUZZ_CHECK(!target.host.empty());
    FUZZ_CHECK(target.port >= 1 && target.port <= 65535);
    FUZZ_CHECK(!target.path.empty() && target.path[0] == '/');
  }
  return 0;
}
