// AppOs for Windows: generic Win32 code only, each method one call of the same name.
#include "app/app_os.h"
#include "app/runtime_error.h"
#include "sysutil/win32_support.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace vorse {
namespace {

std::string ErrnoText() { return std::generic_category().message(errno); }

/// Writes \p Lines to \p Path opened in \p Mode ("ab" or "wb"), then closes it.
void WriteText(const std::string &Path, const char *Mode, const std::string &Lines) {
  FILE *file = std::fopen(Path.c_str(), Mode);
  if (file == nullptr)
    throw RuntimeError("Cannot open " + Path + " for writing: " + ErrnoText());
  const bool written = std::fwrite(Lines.data(), 1, Lines.size(), file) == Lines.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed)
    throw RuntimeError("Cannot write " + Path + ": " + ErrnoText());
}

class Win32AppOs final : public AppOs {
public:
  std::uint32_t GetSystemDirectoryA(char *Buffer, std::uint32_t Size) override {
    return ::GetSystemDirectoryA(Buffer, Size);
  }
  std::uint32_t GetWindowsDirectoryA(char *Buffer, std::uint32_t Size) override {
    return ::GetWindowsDirectoryA(Buffer, Size);
  }
  std::uint32_t GetSystemWow64DirectoryA(char *Buffer, std::uint32_t Size) override {
    return ::GetSystemWow64DirectoryA(Buffer, Size);
  }
  std::int32_t CreateDirectoryExA(const std::string &Template, const std::string &NewDir) override {
    return ::CreateDirectoryExA(Template.c_str(), NewDir.c_str(), nullptr);
  }
  std::int32_t CopyFileA(const std::string &Source, const std::string &Target,
                         std::int32_t FailIfExists) override {
    return ::CopyFileA(Source.c_str(), Target.c_str(), FailIfExists);
  }
  std::int32_t MoveFileExA(const std::string &Existing, const char *NewName,
                           std::uint32_t Flags) override {
    return ::MoveFileExA(Existing.c_str(), NewName, Flags);
  }
  std::uint32_t GetShortPathNameA(const std::string &LongPath, char *Buffer,
                                  std::uint32_t Size) override {
    return ::GetShortPathNameA(LongPath.c_str(), Buffer, Size);
  }
  std::int32_t PathFileExistsA(const std::string &Path) override {
    return ::PathFileExistsA(Path.c_str());
  }
  std::intptr_t ShellExecuteA(std::uintptr_t Window, const std::string &Operation,
                              const std::string &File, const std::string &Parameters,
                              const std::string &Directory, std::int32_t ShowCommand) override {
    return reinterpret_cast<std::intptr_t>(
        ::ShellExecuteA(reinterpret_cast<HWND>(Window), Operation.c_str(), File.c_str(),
                        Parameters.c_str(), Directory.c_str(), ShowCommand));
  }
  void AppendLines(const std::string &Path, const std::string &Lines) override {
    WriteText(Path, "ab", Lines);
  }
  void WriteNewFile(const std::string &Path, const std::string &Lines) override {
    WriteText(Path, "wb", Lines);
  }
};

} // namespace

AppOs &PlatformAppOs() {
  static Win32AppOs os;
  return os;
}

} // namespace vorse
