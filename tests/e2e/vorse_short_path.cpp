// vorse_short_path: prints the short (8.3) form of each path it is given, one a line, so that the
// repair tests can tell which file a short name in a deletion entry stands for.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const DWORD needed = ::GetShortPathNameA(argv[i], nullptr, 0);
    std::string form(needed, '\0');
    const DWORD length = needed == 0 ? 0 : ::GetShortPathNameA(argv[i], form.data(), needed);
    if (length == 0 || length >= needed) {
      std::fprintf(stderr, "vorse_short_path: no short form for %s (error %lu)\n", argv[i],
                   ::GetLastError());
      status = 1;
      continue;
    }
    form.resize(length);
    std::printf("%s\n", form.c_str());
  }
  return status;
}
