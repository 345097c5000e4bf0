// UTF-8 and UTF-16 both ways, and the extended-length form of paths: with a recording resolver
// everywhere, and on Windows with the system's own through the wide calls.
#include "sysutil/unicode.h"

#ifdef _WIN32
#include "sysutil/win32_support.h"
#endif

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vorse {
namespace {

TEST(UnicodeTest, ConvertsBothWays) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"Kern32.exe", u"Kern32.exe"},
      {"\xD1\x8F\xD0\xB4\xD1\x80\xD0\xBE.exe", u"\u044F\u0434\u0440\u043E.exe"},
      {"\xE6\xA0\xB8", u"\u6838"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
  }
}

TEST(UnicodeTest, TextWithoutAFormIsRefusedOrMarked) {
  // Overlong, a surrogate in UTF-8, a cut sequence, a code-page byte: no UTF-16 at all, or
  // U+FFFD for each byte where replacing.
  for (const std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "a\xE6\xA0", "caf\xE9"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(Utf8ToUtf16(bad));
    EXPECT_NE(Utf8ToUtf16Replacing(bad).find(u'\xFFFD'), std::u16string::npos);
  }
  EXPECT_EQ(Utf8ToUtf16Replacing("caf\xE9!"), u"caf\xFFFD!");
  // A broken surrogate pair, which Windows names may hold, names nothing once written.
  EXPECT_EQ(Utf16ToUtf8(u"a\xD83D"
                        "b"),
            "a?b");
  EXPECT_EQ(Utf16ToUtf8(u"\xDE00"), "?");
}

TEST(ExtendedLengthPathTest, FullPathsArePrefixedAndTheRestResolvedFirst) {
  struct Case {
    std::u16string path;
    std::u16string resolved; // what the resolver is asked; empty: not asked
    std::u16string full;     // and what it answers
    std::u16string expected;
  };
  const Case cases[] = {
      {u"C:\\dir\\a.exe", u"", u"", u"\\\\?\\C:\\dir\\a.exe"},
      // The system's rewriting would drop these trailing dots and blanks.
      {u"C:\\dir\\Kern32.exe.", u"", u"", u"\\\\?\\C:\\dir\\Kern32.exe."},
      {u"C:\\dir\\a.exe ", u"", u"", u"\\\\?\\C:\\dir\\a.exe "},
      {u"\\\\server\\share\\a.exe", u"", u"", u"\\\\?\\UNC\\server\\share\\a.exe"},
      {u"\\\\?\\C:\\dir\\..\\a", u"", u"", u"\\\\?\\C:\\dir\\..\\a"},
      {u"\\\\.\\PhysicalDrive0", u"", u"", u"\\\\.\\PhysicalDrive0"},
      // Relative, drive-relative, rooted on the current drive, "/" and "..": the folder is
      // resolved, the name kept as written.
      {u"sub\\a.exe.", u"sub\\", u"C:\\cwd\\sub\\", u"\\\\?\\C:\\cwd\\sub\\a.exe."},
      {u"a.exe", u".", u"C:\\cwd", u"\\\\?\\C:\\cwd\\a.exe"},
      {u"D:a.exe", u"D:", u"D:\\there", u"\\\\?\\D:\\there\\a.exe"},
      {u"\\a.exe", u"\\", u"C:\\", u"\\\\?\\C:\\a.exe"},
      {u"C:/dir/a.exe", u"C:/dir/", u"C:\\dir\\", u"\\\\?\\C:\\dir\\a.exe"},
      {u"C:\\dir\\..\\x\\a.exe", u"C:\\dir\\..\\x\\", u"C:\\x\\", u"\\\\?\\C:\\x\\a.exe"},
      {u"\\\\server\\share\\..\\b", u"\\\\server\\share\\..\\", u"\\\\server\\share\\",
       u"\\\\?\\UNC\\server\\share\\b"},
      {u"C:\\dir\\..", u"C:\\dir\\..", u"C:\\", u"\\\\?\\C:\\"},
      {u"..\\", u"..\\", u"C:\\", u"\\\\?\\C:\\"},
      // A resolver that fails: nothing to open.
      {u"sub\\a.exe", u"sub\\", u"", u""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    std::u16string asked;
    const std::u16string result = ExtendedLengthPath(c.path, [&](const std::u16string &Path) {
      asked = Path;
      return c.full;
    });
    EXPECT_EQ(asked, c.resolved);
    EXPECT_EQ(result, c.expected);
  }
}

#ifdef _WIN32

/// The wide calls on UTF-8 paths for as long as it lives.
class WidePathsOn {
public:
  WidePathsOn() { win32::UseWidePaths(true); }
  WidePathsOn(const WidePathsOn &) = delete;
  WidePathsOn &operator=(const WidePathsOn &) = delete;
  ~WidePathsOn() { win32::UseWidePaths(false); }
};

TEST(WidePathTest, TheSystemResolvesWhatIsNotFullAlready) {
  const WidePathsOn wide;
  std::wstring cwd(MAX_PATH, L'\0');
  cwd.resize(::GetCurrentDirectoryW(MAX_PATH, cwd.data()));
  ASSERT_GT(cwd.size(), 3u);
  const std::wstring parent = cwd.substr(0, cwd.find_last_of(L'\\'));
  std::wstring driveDir(MAX_PATH, L'\0');
  driveDir.resize(::GetFullPathNameW(L"Z:", MAX_PATH, driveDir.data(), nullptr));
  if (!driveDir.ends_with(L'\\'))
    driveDir += L'\\';
  const struct {
    std::string path;
    std::wstring expected;
  } cases[] = {
      {"sub\\a.exe", L"\\\\?\\" + cwd + L"\\sub\\a.exe"},
      {"..\\a.exe", L"\\\\?\\" + parent + L"\\a.exe"},
      {"Z:a.exe", L"\\\\?\\" + driveDir + L"a.exe"},
      {"\\\\server\\share\\a.exe", L"\\\\?\\UNC\\server\\share\\a.exe"},
      {"\\\\?\\C:\\x\\..\\a.exe", L"\\\\?\\C:\\x\\..\\a.exe"},
      {"C:\\\xD1\x8F\xD0\xB4\xD1\x80\xD0\xBE.exe", L"\\\\?\\C:\\\u044F\u0434\u0440\u043E.exe"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(win32::WidePath(c.path), c.expected);
  }
  // A path that is no UTF-8 is the window's, in the code page.
  std::wstring codePage(4, L'\0');
  codePage.resize(static_cast<std::size_t>(
      ::MultiByteToWideChar(CP_ACP, 0, "caf\xE9", 4, codePage.data(), 4)));
  EXPECT_EQ(win32::WidePath("C:\\caf\xE9.exe"), L"\\\\?\\C:\\" + codePage + L".exe");
  EXPECT_EQ(win32::WithoutExtendedPrefix(win32::Narrow(L"\\\\?\\UNC\\server\\share\\\u6838")),
            "\\\\server\\share\\\xE6\xA0\xB8");
}

#endif

} // namespace
} // namespace vorse
