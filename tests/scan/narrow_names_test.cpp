// Which listed names Windows' narrow calls would open as another entry or none.
#include "scan/narrow_names.h"

#include <gtest/gtest.h>

namespace vorse {
namespace {

TEST(NarrowNamesTest, TrailingDotsAndBlanksDevicesAndLostCharacters) {
  for (const char *name : {"Kern32.exe.", "a.exe ", "x.", "nul.exe", "CON", "aux .dll", "com1.exe",
                           "Lpt9", "Kern?32.exe", "a*b", "tab\there"})
    EXPECT_TRUE(NarrowCallsRewrite(name)) << name;
  for (const char *name : {".", "..", "Kern32.exe", ".hidden", "com10.exe", "com0", "console.exe",
                           "nul_.exe", "a b.exe", " lead.exe"})
    EXPECT_FALSE(NarrowCallsRewrite(name)) << name;
}

} // namespace
} // namespace vorse
