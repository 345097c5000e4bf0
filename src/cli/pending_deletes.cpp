// The registrations of deletions at the next start of Windows, and withdrawing one of them.
#include "cli/pending_deletes.h"

#include "app/wininit.h"
#include "sysutil/os_detect.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

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

/// Calls \p Visit(Source, Target, Start, Next) for every pair of \p Value: its two strings,
/// where the pair starts and where the next one does. Stops when \p Visit returns false.
template <typename Visitor> void WalkPairs(std::u16string_view Value, Visitor Visit) {
  for (std::size_t pair = 0; pair < Value.size();) {
    const std::size_t sourceEnd = StringEnd(Value, pair);
    // An empty source ends the list: what follows is its closing NUL.
    if (sourceEnd == pair)
      return;
    const std::size_t target = std::min(sourceEnd + 1, Value.size());
    const std::size_t targetEnd = StringEnd(Value, target);
    const std::size_t next = std::min(targetEnd + 1, Value.size());
    if (!Visit(Value.substr(pair, sourceEnd - pair), Value.substr(target, targetEnd - target), pair,
               next))
      return;
    pair = next;
  }
}

bool IsOneOf(std::u16string_view Source, std::span<const std::u16string> Sources) {
  return std::any_of(Sources.begin(), Sources.end(),
                     [&](const std::u16string &Name) { return SameName(Source, Name); });
}

using Pair = std::pair<std::u16string, std::u16string>;

/// Every pair of \p Value but the deletions of \p Sources, in their order.
std::vector<Pair> OtherPairs(std::u16string_view Value, std::span<const std::u16string> Sources) {
  std::vector<Pair> pairs;
  WalkPairs(Value,
            [&](std::u16string_view Source, std::u16string_view Target, std::size_t, std::size_t) {
              if (!Target.empty() || !IsOneOf(Source, Sources))
                pairs.emplace_back(Source, Target);
              return true;
            });
  return pairs;
}

/// True when \p Value holds no deletion of \p Sources and every pair of \p Before, as often as
/// it stood there.
bool EditHolds(std::u16string_view Value, const std::vector<Pair> &Before,
               std::span<const std::u16string> Sources) {
  std::vector<Pair> now = OtherPairs(Value, Sources);
  bool ours = false;
  WalkPairs(Value,
            [&](std::u16string_view Source, std::u16string_view Target, std::size_t, std::size_t) {
              ours = Target.empty() && IsOneOf(Source, Sources);
              return !ours;
            });
  return !ours && std::all_of(Before.begin(), Before.end(), [&](const Pair &Kept) {
    const auto found = std::find(now.begin(), now.end(), Kept);
    if (found == now.end())
      return false;
    now.erase(found);
    return true;
  });
}

/// The registry value's bytes as 16-bit units, and the odd byte a malformed one ends with.
struct PendingValue {
  std::u16string units;
  std::string tail;

  explicit PendingValue(std::string_view Bytes)
      : units(Bytes.size() / sizeof(char16_t), u'\0'),
        tail(Bytes.substr(units.size() * sizeof(char16_t))) {
    std::memcpy(units.data(), Bytes.data(), units.size() * sizeof(char16_t));
  }
  /// The bytes to write back: none when nothing is left, so that the value goes.
  std::string Bytes() const {
    if (HoldsNoPendingOperation(units) && tail.empty())
      return {};
    std::string bytes(units.size() * sizeof(char16_t), '\0');
    std::memcpy(bytes.data(), units.data(), bytes.size());
    return bytes + tail;
  }
};

/// The error of an edit that another program undid or overtook twice.
std::error_code ChangedMeanwhile() {
  static const class : public std::error_category {
  public:
    const char *name() const noexcept override { return "pending operations"; }
    std::string message(int) const override {
      return "another program changed the list of operations pending until the next start "
             "while it was edited";
    }
  } category;
  return {1, category};
}

std::error_code WithdrawFromPendingOperations(RestartRegistrations &Registrations,
                                              std::span<const std::u16string> Sources,
                                              bool &Withdrawn) {
  std::optional<std::vector<Pair>> before;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string bytes;
    bool present = false;
    if (const std::error_code error = Registrations.ReadPendingOperations(bytes, present))
      return error;
    PendingValue value(present ? bytes : std::string());
    if (!before)
      before = OtherPairs(value.units, Sources);
    if (RemovePendingDeletes(value.units, Sources) > 0) {
      if (const std::error_code error = Registrations.WritePendingOperations(value.Bytes()))
        return error;
    } else if (attempt == 0) {
      return {};
    }
    bytes.clear();
    present = false;
    if (const std::error_code error = Registrations.ReadPendingOperations(bytes, present))
      return error;
    if (EditHolds(PendingValue(present ? bytes : std::string()).units, *before, Sources)) {
      Withdrawn = true;
      return {};
    }
  }
  return ChangedMeanwhile();
}

std::error_code WithdrawFromWininit(RestartRegistrations &Registrations,
                                    std::span<const std::string> Paths, bool &Withdrawn) {
  std::string text;
  bool present = false;
  if (const std::error_code error = Registrations.ReadWininit(text, present); error || !present)
    return error;
  const std::optional<std::string> kept = WithoutWininitDeletes(text, Paths);
  if (!kept)
    return {};
  if (const std::error_code error = Registrations.ReplaceWininit(*kept))
    return error;
  Withdrawn = true;
  return {};
}

} // namespace

std::size_t RemovePendingDeletes(std::u16string &Value, std::span<const std::u16string> Sources) {
  // Found in a copy, taken out of Value from the last, so that each place still holds.
  std::vector<std::pair<std::size_t, std::size_t>> found;
  WalkPairs(Value, [&](std::u16string_view Source, std::u16string_view Target, std::size_t Start,
                       std::size_t Next) {
    if (Target.empty() && IsOneOf(Source, Sources))
      found.emplace_back(Start, Next);
    return true;
  });
  for (auto pair = found.rbegin(); pair != found.rend(); ++pair)
    Value.erase(pair->first, pair->second - pair->first);
  return found.size();
}

bool HoldsNoPendingOperation(std::u16string_view Value) {
  return Value.find_first_not_of(u'\0') == std::u16string_view::npos;
}

std::error_code WithdrawDeleteAtRestart(RestartRegistrations &Registrations,
                                        std::span<const std::string> Paths, bool &Withdrawn) {
  Withdrawn = false;
  switch (Registrations.Family()) {
  case kPlatformNT: {
    std::vector<std::u16string> sources;
    for (const std::string &path : Paths)
      if (!path.empty())
        sources.push_back(u"\\??\\" + Registrations.Widen(path));
    return WithdrawFromPendingOperations(Registrations, sources, Withdrawn);
  }
  case kPlatform9x:
    return WithdrawFromWininit(Registrations, Paths, Withdrawn);
  default:
    return {};
  }
}

} // namespace vorse
