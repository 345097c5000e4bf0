// The NT family's list of renames and deletions pending until the next start of Windows.
#include "cli/pending_deletes.h"

#include <algorithm>

namespace vorse {
namespace {

char16_t FoldAscii(char16_t Unit) {
  return Unit >= u'a' && Unit <= u'z' ? static_cast<char16_t>(Unit - u'a' + u'A') : Unit;
}

bool SameName(std::u16string_view A, std::u16string_view B) {
  return A.size() == B.size() &&
         std::equal(A.begin(), A.end(), B.begin(),
                    [](char16_t a, char16_t b) { return FoldAscii(a) == FoldAscii(b); });
}

/// Where the string that starts at \p Start ends (its NUL, or the end of \p Value).
std::size_t StringEnd(std::u16string_view Value, std::size_t Start) {
  const std::size_t end = Value.find(u'\0', Start);
  return end == std::u16string_view::npos ? Value.size() : end;
}

} // namespace

std::size_t RemovePendingDeletes(std::u16string &Value, std::span<const std::u16string> Sources) {
  std::size_t removed = 0;
  for (std::size_t pair = 0; pair < Value.size();) {
    const std::size_t sourceEnd = StringEnd(Value, pair);
    // An empty source ends the list: what follows is its closing NUL.
    if (sourceEnd == pair)
      break;
    const std::size_t target = std::min(sourceEnd + 1, Value.size());
    const std::size_t targetEnd = StringEnd(Value, target);
    const std::size_t next = std::min(targetEnd + 1, Value.size());
    const std::u16string_view source = std::u16string_view(Value).substr(pair, sourceEnd - pair);
    const bool deletion = targetEnd == target;
    if (deletion && std::any_of(Sources.begin(), Sources.end(), [&](const std::u16string &Name) {
          return SameName(source, Name);
        })) {
      Value.erase(pair, next - pair);
      ++removed;
      continue;
    }
    pair = next;
  }
  return removed;
}

bool HoldsNoPendingOperation(std::u16string_view Value) {
  return Value.find_first_not_of(u'\0') == std::u16string_view::npos;
}

} // namespace vorse
