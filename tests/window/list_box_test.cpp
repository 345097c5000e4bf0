// List1's rows read back as the narrow calls take them, whatever their length and characters.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <string>

namespace vorse {
namespace {

std::string InCodePage(const std::wstring &Text) {
  const auto units = static_cast<int>(Text.size());
  std::string narrow(static_cast<std::size_t>(::WideCharToMultiByte(CP_ACP, 0, Text.data(), units,
                                                                    nullptr, 0, nullptr, nullptr)),
                     '\0');
  ::WideCharToMultiByte(CP_ACP, 0, Text.data(), units, narrow.data(),
                        static_cast<int>(narrow.size()), nullptr, nullptr);
  return narrow;
}

TEST(ListBoxControlTest, ReadsEveryRowWhole) {
  const HWND window = ::CreateWindowExW(0, L"LISTBOX", L"", 0, 0, 0, 100, 100, nullptr, nullptr,
                                        ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  ListBoxControl list;
  list.Attach(window);
  // A CJK name takes three bytes a character under the UTF-8 code page; the long row is past
  // any fixed room a conversion of the narrow form might use.
  const std::wstring rows[] = {
      L"C:\\WINDOWS\\system32\\kern32.exe",
      L"C:\\WINDOWS\\system32\\\u30a6\u30a4\u30eb\u30b9\u691c\u67fb.exe",
      L"C:\\WINDOWS\\system32\\" + std::wstring(700, L'\u4e2d') + L".exe",
      L"C:\\WINDOWS\\system32\\" + std::wstring(1500, L'a') + L".exe",
  };
  for (const std::wstring &row : rows)
    ::SendMessageW(window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    list.SetListIndex(i);
    EXPECT_EQ(list.Text(), InCodePage(rows[i]));
  }
  ::DestroyWindow(window);
}

} // namespace
} // namespace vorse
