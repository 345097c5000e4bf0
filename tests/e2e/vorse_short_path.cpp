// vorse_short_path: prints the short (8.3) form of each path it is given, one a line, so that the
// repair tests can tell which file a short name in a deletion entry stands for. The paths are
// taken in the wide form, so any name works, and printed in UTF-8.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t *Text) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, Text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Text, -1, narrow.data(), bytes, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  return narrow;
}

} // namespace

int main() {
  int argc = 0;
  wchar_t **argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr)
    return 2;
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const DWORD needed = ::GetShortPathNameW(argv[i], nullptr, 0);
    std::wstring form(needed, L'\0');
    const DWORD length = needed == 0 ? 0 : ::GetShortPathNameW(argv[i], form.data(), needed);
    if (length == 0 || length >= needed) {
      std::fprintf(stderr, "vorse_short_path: no short form for %s (error %lu)\n",
                   Utf8(argv[i]).c_str(), ::GetLastError());
      status = 1;
      continue;
    }
    form.resize(length);
    std::printf("%s\n", Utf8(form.c_str()).c_str());
  }
  ::LocalFree(argv);
  return status;
}
