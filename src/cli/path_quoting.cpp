// QuotePath: a path made safe to show on a terminal or in a line-based pipe.
#include "cli/path_quoting.h"

#include <cstdio>

namespace vorse {
namespace {

/// How many bytes of a control character start at \p At in \p Path: 1 for a C0 control or DEL,
/// 2 for a C1 control in UTF-8 (U+0080 to U+009F, which some terminals obey as escapes), else 0.
std::size_t ControlLength(std::string_view Path, std::size_t At) {
  const auto byte = [&](std::size_t I) { return static_cast<unsigned char>(Path[I]); };
  if ((byte(At) < 0x20 && byte(At) != 0) || byte(At) == 0x7F)
    return 1;
  if (byte(At) == 0xC2 && At + 1 < Path.size() && byte(At + 1) >= 0x80 && byte(At + 1) <= 0x9F)
    return 2;
  return 0;
}

bool HoldsControl(std::string_view Path) {
  for (std::size_t i = 0; i < Path.size(); ++i) {
    if (ControlLength(Path, i) != 0)
      return true;
  }
  return false;
}

/// The escape that stands for \p C inside $'...' where it has a name of its own; else null.
const char *NamedEscape(char C) {
  switch (C) {
  case '\\':
    return "\\\\";
  case '\'':
    return "\\'";
  case '\t':
    return "\\t";
  case '\n':
    return "\\n";
  case '\r':
    return "\\r";
  default:
    return nullptr;
  }
}

} // namespace

std::string QuotePath(std::string_view Path) {
  if (!HoldsControl(Path) && !Path.starts_with("$'"))
    return std::string(Path);
  std::string quoted = "$'";
  for (std::size_t i = 0; i < Path.size();) {
    if (const char *named = NamedEscape(Path[i])) {
      quoted += named;
      ++i;
    } else if (std::size_t control = ControlLength(Path, i); control != 0) {
      for (; control > 0; --control, ++i) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(Path[i]));
        quoted += escape;
      }
    } else {
      quoted += Path[i++];
    }
  }
  return quoted + "'";
}

} // namespace vorse
