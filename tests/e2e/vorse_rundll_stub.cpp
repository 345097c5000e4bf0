// vorse_rundll_stub: stands in for rundll32.exe in the 9x restart test and records how it was run.
//
// Planted as C:\windows\rundll32.exe, it restarts nothing: it writes three lines to
// rundll32-call.txt beside itself, "command line: " and the full command line, "directory: " and
// the current directory, "show: " and the show command it was started with, and ends.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 1;
  std::string log(self, length);
  log.erase(log.find_last_of('\\') + 1);
  log += "rundll32-call.txt";

  char directory[MAX_PATH] = {};
  const DWORD dirLength = ::GetCurrentDirectoryA(MAX_PATH, directory);
  if (dirLength == 0 || dirLength >= MAX_PATH)
    return 1;

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  ::GetStartupInfoA(&startup);
  const std::string show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0
                               ? std::to_string(startup.wShowWindow)
                               : std::string("none");

  std::FILE *out = std::fopen(log.c_str(), "wb");
  if (out == nullptr)
    return 1;
  std::fprintf(out, "command line: %s\r\ndirectory: %s\r\nshow: %s\r\n", ::GetCommandLineA(),
               directory, show.c_str());
  return std::fclose(out) == 0 ? 0 : 1;
}
