// AppOs for Windows: generic Win32 code only, each method one call of the same name.
#include "app/app_os.h"
#include "app/runtime_error.h"
#include "app/text_file.h"
#include "scan/narrow_names.h"
#include "scan/scan_errors.h"
#include "sysutil/folder_access.h"
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
    return file ? ReadAt(file.get(), Offset, Out) : -1;
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
  std::string WriteBeside(const std::string &Path, const std::string &Lines) override {
    std::string name;
    win32::ScopedFileHandle file(CreateBeside(Path, name));
    if (!file)
      throw RuntimeError("Cannot create a file beside " + Path + ": " +
                         win32::LastError().message());
    DWORD written = 0;
    const bool whole = Lines.size() <= MAXDWORD &&
                       ::WriteFile(file.get(), Lines.data(), static_cast<DWORD>(Lines.size()),
                                   &written, nullptr) != 0 &&
                       written == Lines.size() && ::FlushFileBuffers(file.get()) != 0;
    const std::error_code reason = win32::LastError();
    file.reset();
    if (!whole) {
      ::DeleteFileA(name.c_str());
      throw RuntimeError("Cannot write " + Path + ": " + reason.message());
    }
    return name;
  }
  std::int32_t MoveFileA(const std::string &Existing, const std::string &NewName) override {
    return ::MoveFileA(Existing.c_str(), NewName.c_str());
  }
  std::int32_t DeleteFileA(const std::string &Path) override { return ::DeleteFileA(Path.c_str()); }
  std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                 std::uint64_t &Length, bool &Created) override {
    return vorse::OpenAppendFile(Path, File, Length, Created);
  }
  std::error_code LastError() override { return win32::LastError(); }

  std::intptr_t HoldFolder(const std::string &Path) override {
    // Listing access, since a handle with none of the data accesses takes no part in the
    // sharing checks, and would let a rename through.
    return reinterpret_cast<std::intptr_t>(::CreateFileA(
        Path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }
  void ReleaseFolder(std::intptr_t Hold) override { ::CloseHandle(reinterpret_cast<HANDLE>(Hold)); }
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    return ::GetFileAttributesA(Path.c_str());
  }
  std::int32_t SetFileAttributesA(const std::string &Path, std::uint32_t Attributes) override {
    return ::SetFileAttributesA(Path.c_str(), Attributes);
  }
  std::string RealLocation(const std::string &Path) override { return vorse::RealLocation(Path); }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &Path) override {
    return vorse::IdentifyDirectory(Path);
  }
  std::int32_t CreatePrivateDirectory(const std::string &Path) override {
    return vorse::CreatePrivateDirectory(Path);
  }
  std::optional<FolderSecurity> ReadFolderSecurity(const std::string &Path) override {
    return vorse::ReadFolderSecurity(Path);
  }
  std::string CurrentUserSid() override { return vorse::CurrentUserSid(); }
  std::intptr_t OpenFileToMove(const std::string &Path) override {
    return reinterpret_cast<std::intptr_t>(
        ::CreateFileA(Path.c_str(), GENERIC_READ | DELETE | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }
  std::int64_t ReadOpenFile(std::intptr_t File, std::uint64_t Offset,
                            std::span<std::byte> Out) override {
    return ReadAt(reinterpret_cast<HANDLE>(File), Offset, Out);
  }
  std::int32_t MoveIntoFolder(std::intptr_t File, std::intptr_t Folder,
                              const std::string &Name) override {
    return vorse::MoveIntoFolder(reinterpret_cast<HANDLE>(File), reinterpret_cast<HANDLE>(Folder),
                                 Name);
  }
  void CloseFile(std::intptr_t File) override { ::CloseHandle(reinterpret_cast<HANDLE>(File)); }
  bool MeansNameTaken(std::error_code Error) override {
    return Error.value() == ERROR_FILE_EXISTS || Error.value() == ERROR_ALREADY_EXISTS;
  }
  bool MeansNothingThere(std::error_code Error) override { return vorse::MeansNothingThere(Error); }
  bool MeansNoMoreFiles(std::error_code Error) override { return vorse::MeansNoMoreFiles(Error); }
  bool NarrowCallsRewrite(std::string_view Name) override {
    return vorse::NarrowCallsRewrite(Name);
  }
  bool MeansNoVersionResource(std::error_code Error) override {
    // The 9x family answers "file not found" for a listed file without a version resource. On
    // the NT family the file has gone since it was listed, or its name opened none: it was
    // not examined, and the run must not read as clean.
    const bool family9x = (::GetVersion() & 0x80000000u) != 0;
    return vorse::MeansNoVersionResource(Error) ||
           (family9x && Error.value() == ERROR_FILE_NOT_FOUND);
  }

private:
  static std::int64_t ReadAt(HANDLE File, std::uint64_t Offset, std::span<std::byte> Out) {
    if (!win32::SeekFile(File, Offset, FILE_BEGIN))
      return -1;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(Out.size(), 1u << 30));
    DWORD read = 0;
    if (!::ReadFile(File, Out.data(), wanted, &read, nullptr))
      return -1;
    return read;
  }
  /// Creates a new file beside \p Path under a name of its own, which goes into \p Name.
  /// CREATE_NEW opens nothing that stands at a name already, a link included: such a name is
  /// passed over.
  static HANDLE CreateBeside(const std::string &Path, std::string &Name) {
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      Name = Path + "." + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(attempt) +
             ".tmp";
      const HANDLE file = ::CreateFileA(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
      const DWORD error = ::GetLastError();
      if (file != INVALID_HANDLE_VALUE ||
          (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS))
        return file;
    }
    return INVALID_HANDLE_VALUE;
  }
};

} // namespace

AppOs &PlatformAppOs() {
  static Win32AppOs os;
  return os;
}

} // namespace vorse
