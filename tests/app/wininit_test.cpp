// PlanWininitLine: every line lands where start-up reads it, and nothing of the file is lost.
#include "app/wininit.h"

#include <gtest/gtest.h>

namespace vorse {
namespace {

constexpr const char *kLine = "NUL=C:\\WINDOWS\\SYSTEM\\EVIL.EXE\r\n";

struct Case {
  const char *Name;
  const char *Existing;
  bool Rewrite;
  std::string Text;
};

TEST(PlanWininitLineTest, KeepsTheLineInTheFirstRenameSection) {
  const std::string line = kLine;
  const Case cases[] = {
      {"ends in [rename]: appended", "[rename]\r\nNUL=A\r\n", false, line},
      {"header case and blanks", "[other]\r\n  [ReNaMe]  \r\nNUL=A\r\n", false, line},
      {"no line end at the end", "[rename]\r\nNUL=A", false, "\r\n" + line},
      {"empty file", "", false, "[rename]\r\n" + line},
      {"no [rename]", "[other]\r\nkey=value\r\n", false, "[rename]\r\n" + line},
      {"no [rename], no line end", "[other]\r\nkey=value", false, "\r\n[rename]\r\n" + line},
      {"a name that only starts like it", "[renamed]\r\nx=y\r\n", false, "[rename]\r\n" + line},
      {"[rename] then another", "[rename]\r\nNUL=A\r\n\r\n[other]\r\nk=v\r\n", true,
       "[rename]\r\nNUL=A\r\n" + line + "\r\n[other]\r\nk=v\r\n"},
      {"empty [rename] then another", "[rename]\r\n[other]\r\n", true,
       "[rename]\r\n" + line + "[other]\r\n"},
      // A second [rename] is read by nobody: the line goes to the first.
      {"two [rename] sections", "[rename]\r\nNUL=A\r\n[x]\r\n[rename]\r\nNUL=B\r\n", true,
       "[rename]\r\nNUL=A\r\n" + line + "[x]\r\n[rename]\r\nNUL=B\r\n"},
      {"LF line ends kept", "[rename]\nNUL=A\n[x]\n", true, "[rename]\nNUL=A\n" + line + "[x]\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    const WininitEdit edit = PlanWininitLine(c.Existing, line);
    EXPECT_EQ(edit.Rewrite, c.Rewrite);
    EXPECT_EQ(edit.Text, c.Text);
  }
}

TEST(WithoutWininitDeletesTest, TakesOutOnlyThatPathsLinesInTheFirstRenameSection) {
  const std::vector<std::string> paths{"C:\\PROGRA~1\\KERN.EXE", "C:\\Program Files\\kern.exe"};
  struct Removal {
    const char *Name;
    const char *Existing;
    std::optional<std::string> Result;
  };
  const Removal cases[] = {
      {"short form, case ignored, others kept",
       "[rename]\r\nNUL=C:\\OTHER.EXE\r\nnul=c:\\progra~1\\kern.exe\r\nNUL=C:\\Z.EXE",
       "[rename]\r\nNUL=C:\\OTHER.EXE\r\nNUL=C:\\Z.EXE"},
      {"long form and every repeat",
       "[rename]\nNUL=C:\\Program Files\\kern.exe\nNUL=C:\\PROGRA~1\\KERN.EXE\n", "[rename]\n"},
      {"a rename to it is no delete", "[rename]\r\nC:\\PROGRA~1\\KERN.EXE=C:\\X\r\n", std::nullopt},
      {"a later section is not read at start-up",
       "[rename]\r\n[other]\r\nNUL=C:\\PROGRA~1\\KERN.EXE\r\n", std::nullopt},
      {"a longer path that starts alike", "[rename]\r\nNUL=C:\\PROGRA~1\\KERN.EXE2\r\n",
       std::nullopt},
      {"no [rename]", "NUL=C:\\PROGRA~1\\KERN.EXE\r\n", std::nullopt},
  };
  for (const Removal &c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(WithoutWininitDeletes(c.Existing, paths), c.Result);
  }
}

} // namespace
} // namespace vorse
