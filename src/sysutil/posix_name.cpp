// The names of a POSIX file system in the search's paths, and back.
#include "sysutil/posix_name.h"

#include <algorithm>

namespace vorse {
namespace {

/// U+F05C, which stands for a "\" of a name, and U+F025, which escapes a real one of either,
/// in UTF-8. Neither sequence can overlap itself or the other, so a scan from the left finds
/// each exactly where it was written.
constexpr std::string_view kMappedBackslash = "\xEF\x81\x9C";
constexpr std::string_view kEscape = "\xEF\x80\xA5";
static_assert(kMappedBackslash.size() == kEscape.size() && kMappedBackslash[0] == kEscape[0]);

bool At(std::string_view Text, std::size_t Position, std::string_view Sequence) {
  return Text.substr(Position, Sequence.size()) == Sequence;
}

} // namespace

std::string ToSearchForm(std::string_view Native) {
  std::string search;
  search.reserve(Native.size());
  for (std::size_t i = 0; i < Native.size();) {
    if (Native[i] == '\\') {
      search += kMappedBackslash;
      ++i;
    } else if (At(Native, i, kMappedBackslash) || At(Native, i, kEscape)) {
      search += kEscape;
      search += Native.substr(i, kEscape.size());
      i += kEscape.size();
    } else {
      search += Native[i++];
    }
  }
  return search;
}

std::string ToPosixForm(std::string_view Search) {
  // Most paths hold no mapped character: only their separators change.
  if (Search.find(kEscape[0]) == std::string_view::npos) {
    std::string posix(Search);
    std::replace(posix.begin(), posix.end(), '\\', '/');
    return posix;
  }
  std::string posix;
  posix.reserve(Search.size());
  for (std::size_t i = 0; i < Search.size();) {
    const std::size_t next = i + kEscape.size();
    // Both mapped characters start with the same byte; most paths hold none.
    const bool mapped = Search[i] == kEscape[0];
    if (mapped && At(Search, i, kEscape) &&
        (At(Search, next, kMappedBackslash) || At(Search, next, kEscape))) {
      posix += Search.substr(next, kEscape.size());
      i = next + kEscape.size();
    } else if (mapped && At(Search, i, kMappedBackslash)) {
      posix += '\\';
      i += kMappedBackslash.size();
    } else {
      posix += Search[i] == '\\' ? '/' : Search[i];
      ++i;
    }
  }
  return posix;
}

} // namespace vorse
