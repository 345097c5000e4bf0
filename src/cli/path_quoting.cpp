// QuotePath: a path made safe to show on a terminal or in a line-based pipe.
#include "cli/path_quoting.h"

#include <algorithm>
#include <cstdio>

namespace vorse {
namespace {

bool IsControl(char c) {
  return (static_cast<unsigned char>(c) < 0x20 && c != 0) || c == 0x7F;
}

} // namespace

std::string QuotePath(std::string_view Path) {
  if (std::none_of(Path.begin(), Path.end(), IsControl) && !Path.starts_with("$'"))
    return std::string(Path);
  std::string quoted = "$'";
  for (const char c : Path) {
    switch (c) {
    case '\\':
      quoted += "\\\\";
      break;
    case '\'':
      quoted += "\\'";
      break;
    case '\t':
      quoted += "\\t";
      break;
    case '\n':
      quoted += "\\n";
      break;
    case '\r':
      quoted += "\\r";
      break;
    default:
      if (IsControl(c)) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
        quoted += escape;
      } else {
        quoted += c;
      }
    }
  }
  return quoted + "'";
}

} // namespace vorse
