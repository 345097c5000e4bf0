// The quarantine helpers: free names that keep earlier copies, short forms of any length, and
// the chunked comparison of two files.
#include "app/quarantine.h"
#include "app/quarantine_name.h"
#include "fakes/fake_app_os.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vorse {
namespace {

struct NameCase {
  const char *FileName;
  /// What stands at each occupied candidate name in the folder F.
  std::map<std::string, QuarantineSlot> Occupied;
  const char *Expected;
};

TEST(QuarantineTargetTest, TakesTheFirstNameThatKeepsEveryEarlierCopy) {
  using enum QuarantineSlot;
  const NameCase cases[] = {
      {"evil.exe", {}, "F\\evil.exe"},
      {"evil.exe", {{"F\\evil.exe", SameContents}}, "F\\evil.exe"},
      {"evil.exe", {{"F\\evil.exe", OtherContents}}, "F\\evil (2).exe"},
      {"evil.exe",
       {{"F\\evil.exe", OtherContents}, {"F\\evil (2).exe", OtherContents}},
       "F\\evil (3).exe"},
      {"evil.exe",
       {{"F\\evil.exe", OtherContents}, {"F\\evil (2).exe", SameContents}},
       "F\\evil (2).exe"},
      {"evil", {{"F\\evil", OtherContents}}, "F\\evil (2)"},
      {"a.b.exe", {{"F\\a.b.exe", OtherContents}}, "F\\a.b (2).exe"},
      // A leading dot opens no extension; a trailing one is kept where it stands.
      {".hidden", {{"F\\.hidden", OtherContents}}, "F\\.hidden (2)"},
      {"name.", {{"F\\name.", OtherContents}}, "F\\name (2)."},
  };
  for (const NameCase &c : cases) {
    SCOPED_TRACE(c.FileName);
    const std::string target = QuarantineTarget("F", c.FileName, [&](const std::string &Path) {
      const auto it = c.Occupied.find(Path);
      return it == c.Occupied.end() ? Free : it->second;
    });
    EXPECT_EQ(target, c.Expected);
  }
}

TEST(ShortPathTest, ReturnsTheWholeFormOrNothing) {
  struct Case {
    std::size_t Length;
    std::vector<std::uint32_t> SizesAsked;
  };
  // 163 characters fit the first room; from 164 on the platform asks for more, and gets it.
  const Case cases[] = {{12, {164}}, {163, {164}}, {164, {164, 165}}, {300, {164, 301}}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Length);
    FakeAppOs os;
    const std::string form = "C:\\" + std::string(c.Length - 3, 'S');
    os.ShortNames["C:\\long path"] = form;
    EXPECT_EQ(ShortPath(os, "C:\\long path"), form);
    EXPECT_EQ(os.ShortPathSizes, c.SizesAsked);
  }

  FakeAppOs os;
  EXPECT_EQ(ShortPath(os, "C:\\no such file"), "");
  EXPECT_EQ(os.ShortPathSizes, std::vector<std::uint32_t>{164});
}

TEST(TrimTest, RemovesOnlyOuterSpaces) {
  EXPECT_EQ(Trim("  C:\\a b.exe  "), "C:\\a b.exe");
  EXPECT_EQ(Trim("\tC:\\a.exe\t"), "\tC:\\a.exe\t");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(""), "");
}

TEST(FilesEqualTest, ComparesEveryByteAcrossChunks) {
  FakeAppOs os;
  const std::string big(200000, 'x');
  std::string lastDiffers = big;
  lastDiffers.back() = 'y';
  os.Files = {{"big", big},
              {"big copy", big},
              {"last differs", lastDiffers},
              {"prefix", big.substr(0, 65536)},
              {"empty", ""},
              {"empty too", ""},
              {"unreadable", big}};
  os.UnreadableSources = {"unreadable"};
  struct Case {
    const char *A;
    const char *B;
    bool Equal;
  };
  const Case cases[] = {
      {"big", "big copy", true},     {"empty", "empty too", true}, {"big", "last differs", false},
      {"big", "prefix", false},      {"prefix", "big", false},     {"big", "unreadable", false},
      {"missing", "missing", false}, {"big", "empty", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.A) + " / " + c.B);
    EXPECT_EQ(FilesEqual(os, c.A, c.B), c.Equal);
  }
}

} // namespace
} // namespace vorse
