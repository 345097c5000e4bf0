// WildcardMatch: the Win32 meaning of "*" and "?", case, and patterns that would backtrack.
#include "scan/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace vorse {
namespace {

struct Case {
  const char *Pattern;
  const char *Name;
  bool Matches;
};

TEST(WildcardTest, StarsQuestionMarksAndCase) {
  const Case cases[] = {
      {"*", "anything.at.all", true},
      {"*", ".", true},
      {"*", "", true},
      {"*.exe", "a.exe", true},
      {"*.exe", "SETUP.EXE", true},
      {"*.exe", "Mixed.ExE", true},
      {"*.exe", ".exe", true},
      {"*.exe", "tools.exe", true},
      {"*.exe", "a.exe.bak", false},
      {"*.exe", "a.ex", false},
      {"*.exe", "aexe", false},
      {"*.exe", "a.exe.exe", true},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "abbc", false},
      {"?", "", false},
      {"", "", true},
      {"", "a", false},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"**", "x", true},
      {"*a", "bab", false},
      // After the last star the rest must end the name, one character for one.
      {"*.exe", "exe", false},
      {"*.e?e", "A.EXE", true},
      {"a*b", "ab", true},
      {"a*b", "a", false},
      {"ab*", "ab", true},
      {"ab*", "abcd", true},
      {"ab*", "aXcd", false},
      {"*x*.exe", "x.exe", true},
      {"*x*.exe", "y.exe", false},
      // Bytes beyond ASCII have no case here: they compare as they stand.
      {"\xC4*", "\xC4x", true},
      {"\xC4*", "\xE4x", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.Pattern) + " against " + c.Name);
    EXPECT_EQ(WildcardMatch(c.Pattern, c.Name), c.Matches);
  }
}

TEST(WildcardTest, PathologicalPatternEndsQuickly) {
  // With recursion or one backtrack point per star this takes exponential time; with one
  // saved point it is a few million steps.
  const std::string name(4000, 'a');
  const std::string pattern = "*a*a*a*a*a*a*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(WildcardMatch(pattern, name));
  EXPECT_TRUE(WildcardMatch(pattern, name + "b"));
}

} // namespace
} // namespace vorse
