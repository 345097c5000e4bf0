// ParsePath: drive and file-name splitting, the reset between calls, and paths of any length.
#include "sysutil/parse_path.h"

#include <gtest/gtest.h>

#include <string>

namespace vorse {
namespace {

struct Split {
  const char *Path;
  const char *Drive;
  const char *File;
};

void ExpectSplit(const Split &c) {
  SCOPED_TRACE(std::string("path: ") + c.Path);
  ParsePath(c.Path);
  EXPECT_EQ(ParsedDrive(), c.Drive);
  EXPECT_EQ(ParsedFile(), c.File);
}

TEST(ParsePathTest, FilePathsSplitAtFirstColonAndLastSeparator) {
  const Split cases[] = {
      {"C:\\WINDOWS\\SYSTEM\\NAME.EXE", "C:", "NAME.EXE"},
      {"C:/dir/name.exe", "C:", "name.exe"},
      {"C:\\dir/name.exe", "C:", "name.exe"},
      {"C:/dir\\name.exe", "C:", "name.exe"},
      {"\\\\server\\share\\name.exe", "", "name.exe"},
      {"name.exe", "", "name.exe"},
      {"abc:\\x.exe", "abc:", "x.exe"},
      // The colon does not stop the backward scan, and a second colon is not the drive's.
      {"C:name.exe", "C:", "C:name.exe"},
      {"C:\\a:b\\c:d.exe", "C:", "c:d.exe"},
      {"C:\\dir\\.", "C:", "."},
      {"C:\\dir\\name.", "C:", "name."},
      // Spaces are kept: the parser never trims.
      {" C:\\dir\\a b.exe ", " C:", "a b.exe "},
  };
  for (const Split &c : cases)
    ExpectSplit(c);
}

TEST(ParsePathTest, DirectoryPathsHaveNoFileName) {
  const Split cases[] = {
      {"C:\\WINDOWS", "C:", ""},
      {"C:\\WINDOWS\\", "C:", ""},
      {"C:\\SOME.DIR\\", "C:", ""},
      {"C:\\SOME.DIR/", "C:", ""},
      {"", "", ""},
      {"\\\\srv\\win", "", ""},
      // The only dot in a directory name still makes a file path.
      {"C:\\SOME.DIR\\README", "C:", "README"},
  };
  for (const Split &c : cases)
    ExpectSplit(c);
}

TEST(ParsePathTest, EveryCallStartsFromNothing) {
  ParsePath("C:\\dir\\name.exe");
  ParsePath("\\\\srv\\dir\\");
  EXPECT_EQ(ParsedDrive(), "");
  EXPECT_EQ(ParsedFile(), "");

  ParsePath("D:\\a.exe");
  // Reading the accessors changes nothing, however often.
  EXPECT_EQ(ParsedDrive(), "D:");
  EXPECT_EQ(ParsedDrive(), "D:");
  EXPECT_EQ(ParsedFile(), "a.exe");
  EXPECT_EQ(ParsedFile(), "a.exe");
}

TEST(ParsePathTest, TheCallersStringIsNotChanged) {
  std::string path = "C:\\dir\\name.exe";
  ParsePath(path);
  path[0] = 'X';
  EXPECT_EQ(ParsedDrive(), "C:");
}

TEST(ParsePathTest, PathsLongerThanSixteenBitsAreSplitWhole) {
  // 32,767 was the old limit of a position; beyond it the split must simply go on.
  for (std::size_t length : {std::size_t{32767}, std::size_t{32768}, std::size_t{100000}}) {
    SCOPED_TRACE(length);
    const std::string name = std::string(length - 4, 'a') + ".exe";
    ParsePath(name);
    EXPECT_EQ(ParsedFile(), name);
    EXPECT_EQ(ParsedDrive(), "");

    const std::string far = std::string(length, 'x') + ":\\dir\\f.exe";
    ParsePath(far);
    EXPECT_EQ(ParsedDrive(), std::string(length, 'x') + ":");
    EXPECT_EQ(ParsedFile(), "f.exe");
  }
}

} // namespace
} // namespace vorse
