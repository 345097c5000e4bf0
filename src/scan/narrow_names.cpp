// NarrowCallsRewrite: Windows' rules for the last part of a path, as the narrow calls apply them.
#include "narrow_names.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace vorse {
namespace {

/// Whether \p Text equals \p Upper (in capitals), case ignored.
bool EqualsIgnoringCase(std::string_view Text, std::string_view Upper) {
  return std::equal(Text.begin(), Text.end(), Upper.begin(), Upper.end(), [](char A, char B) {
    return std::toupper(static_cast<unsigned char>(A)) == B;
  });
}

/// Whether \p Base (a name up to its first dot, trailing blanks cut) names a device.
bool IsDeviceName(std::string_view Base) {
  constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
  if (std::any_of(kDevices.begin(), kDevices.end(),
                  [&](std::string_view Device) { return EqualsIgnoringCase(Base, Device); }))
    return true;
  // COM1 to COM9, LPT1 to LPT9.
  const std::string_view port = Base.substr(0, 3);
  return Base.size() == 4 && Base[3] >= '1' && Base[3] <= '9' &&
         (EqualsIgnoringCase(port, "COM") || EqualsIgnoringCase(port, "LPT"));
}

} // namespace

bool NarrowCallsRewrite(std::string_view Name) {
  if (Name.empty() || Name == "." || Name == "..")
    return false;
  if (Name.back() == '.' || Name.back() == ' ')
    return true;
  const bool invalid = std::any_of(Name.begin(), Name.end(), [](char C) {
    return static_cast<unsigned char>(C) < 0x20 ||
           std::string_view("?*<>|\"").find(C) != std::string_view::npos;
  });
  if (invalid)
    return true;
  std::string_view base = Name.substr(0, Name.find('.'));
  base = base.substr(0, base.find_last_not_of(' ') + 1);
  return IsDeviceName(base);
}

} // namespace vorse
