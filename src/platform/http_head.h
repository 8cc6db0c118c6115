// The head of an HTTP or ICY answer (status line and header lines), read from
// the bytes a server sent before the blank line that ends it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a response head into lines (LF or CR LF; empty lines left out): the
// status line first, then the header lines as sent. False when it is no HTTP
// ("HTTP/...") or ICY ("ICY ...") answer. `status` is the number after the
// status line's first blank (0 when it has none or it is no number).
bool parseResponseHead(std::string_view head, std::vector<std::string>& lines, int& status,
                       bool& icy);

// The value of a header among `lines` (index 0 is the status line, which is
// never a header): the first line whose name, compared without case, is
// `name`, with the blanks after its colon removed. Empty when absent.
std::string headerValue(const std::vector<std::string>& lines, std::string_view name);

}  // namespace platform
