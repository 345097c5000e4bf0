// WildcardMatch: iterative, with one saved backtrack point at the last "*" seen.
#include "wildcard.h"

#include <cstddef>

namespace vorse {
namespace {

/// The one place where case is folded: ASCII letters only, since names are narrow code-page
/// text whose other bytes have no case we could know here.
char FoldCase(char C) {
  return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C;
}

} // namespace

bool WildcardMatch(std::string_view Pattern, std::string_view Name) {
  std::size_t p = 0;
  std::size_t n = 0;
  // Where to resume after a mismatch: the pattern just past the last "*", and the name
  // position that star would next swallow. A later "*" replaces the point: what lies before
  // it is already matched, so the earlier star never needs to grow again.
  std::size_t starPattern = std::string_view::npos;
  std::size_t starName = 0;
  while (n < Name.size()) {
    if (p < Pattern.size() && Pattern[p] == '*') {
      starPattern = ++p;
      starName = n;
      continue;
    }
    if (p < Pattern.size() && (Pattern[p] == '?' || FoldCase(Pattern[p]) == FoldCase(Name[n]))) {
      ++p;
      ++n;
      continue;
    }
    if (starPattern == std::string_view::npos)
      return false;
    p = starPattern;
    n = ++starName;
  }
  while (p < Pattern.size() && Pattern[p] == '*')
    ++p;
  return p == Pattern.size();
}

} // namespace vorse
