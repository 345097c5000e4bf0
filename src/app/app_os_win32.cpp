// AppOs for Windows: generic Win32 code only, each method one call of the same name.
#include "app/app_os.h"
#include "app/text_file.h"
#include "sysutil/win32_support.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>

namespace vorse {
namespace {

class Win32AppOs final : public AppOs {
public:
  std::uint32_t GetSystemDirectoryA(char *Buffer, std::uint32_t Size) override {
    return ::GetSystemDirectoryA(Buffer, Size);
  }
  std::uint32_t GetWindowsDirectoryA(char *Buffer, std::uint32_t Size) override {
    return ::GetWindowsDirectoryA(Buffer, Size);
  }
  std::uint32_t GetSystemWow64DirectoryA(char *Buffer, std::uint32_t Size) override {
    return win32::SystemWow64DirectoryA(Buffer, Size);
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
  std::int64_t ReadFileChunk(const std::string &Path, std::uint64_t Offset,
                             std::span<std::byte> Out) override {
    // Share every access: the file being compared may be open elsewhere, even for deletion.
    win32::ScopedFileHandle file(::CreateFileA(
        Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return -1;
    // SetFilePointer with its high half rather than SetFilePointerEx, which the 9x family lacks.
    LONG high = static_cast<LONG>(Offset >> 32);
    if (::SetFilePointer(file.get(), static_cast<LONG>(Offset & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
            INVALID_SET_FILE_POINTER &&
        ::GetLastError() != NO_ERROR)
      return -1;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(Out.size(), 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(file.get(), Out.data(), wanted, &read, nullptr))
      return -1;
    return read;
  }
  std::intptr_t ShellExecuteA(std::uintptr_t Window, const std::string &Operation,
                              const std::string &File, const std::string &Parameters,
                              const std::string &Directory, std::int32_t ShowCommand) override {
    return reinterpret_cast<std::intptr_t>(
        ::ShellExecuteA(reinterpret_cast<HWND>(Window), Operation.c_str(), File.c_str(),
                        Parameters.c_str(), Directory.c_str(), ShowCommand));
  }
  void AppendLines(const std::string &Path, const std::string &Lines) override {
    WriteTextFile(Path, "ab", Lines);
  }
  void WriteNewFile(const std::string &Path, const std::string &Lines) override {
    WriteTextFile(Path, "wb", Lines);
  }
  std::error_code LastError() override { return win32::LastError(); }
};

} // namespace

AppOs &PlatformAppOs() {
  static Win32AppOs os;
  return os;
}

} // namespace vorse
