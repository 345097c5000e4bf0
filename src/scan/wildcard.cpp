// WildcardMatch: iterative, with one saved backtrack point at the last "*" seen.
#include "wildcard.h"

#include <algorithm>
#include <cstddef>

namespace vorse {
namespace {

/// The one place where case is folded: ASCII letters only, since names are narrow code-page
/// text whose other bytes have no case we could know here.
char FoldCase(char C) {
  return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C;
}

/// Whether the pattern character \p P, which is not "*", matches the name character \p N.
bool CharMatches(char P, char N) {
  return P == '?' || FoldCase(P) == FoldCase(N);
}

/// \p Tail, which holds no "*", against the end of \p Name, one character for one. What the
/// star before it swallows is then simply the rest: no other split can match.
bool MatchesEnd(std::string_view Tail, std::string_view Name) {
  if (Tail.size() > Name.size())
    return false;
  return std::equal(Tail.begin(), Tail.end(), Name.end() - static_cast<std::ptrdiff_t>(Tail.size()),
                    CharMatches);
}

} // namespace

bool WildcardMatch(std::string_view Pattern, std::string_view Name) {
  // The search of every entry: no need to look at the name.
  if (Pattern == "*")
    return true;
  std::size_t p = 0;
  std::size_t n = 0;
  // Where to resume after a mismatch: the pattern just past the last "*", and the name
  // position that star would next swallow. A later "*" replaces the point: what lies before
  // it is already matched, so the earlier star never needs to grow again.
  std::size_t starPattern = std::string_view::npos;
  std::size_t starName = 0;
  const std::size_t lastStar = Pattern.rfind('*');
  while (n < Name.size()) {
    if (p < Pattern.size() && Pattern[p] == '*') {
      // The last star of the pattern ("*", "*.exe"): the rest must end the name.
      if (p == lastStar)
        return MatchesEnd(Pattern.substr(p + 1), Name.substr(n));
      starPattern = ++p;
      starName = n;
      continue;
    }
    if (p < Pattern.size() && CharMatches(Pattern[p], Name[n])) {
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
