// FoundFile for Windows: the file opened by its path without following a reparse point, and
// removed through that handle.
#include "scan/found_file.h"
#include "sysutil/win32_support.h"

#include <algorithm>

namespace vorse {
namespace {

// The records of ntdll that a delete disposition set through the handle needs:
// NtSetInformationFile has it on every Windows of the NT family, SetFileInformationByHandle
// only from Vista on (win32::SetInformation).
struct BasicInformation {
  LARGE_INTEGER creationTime;
  LARGE_INTEGER lastAccessTime;
  LARGE_INTEGER lastWriteTime;
  LARGE_INTEGER changeTime;
  ULONG attributes;
};
constexpr int kFileBasicInformation = 4;
constexpr int kFileDispositionInformation = 13;

class Win32FoundFile final : public FoundFile {
public:
  /// Takes \p File over.
  Win32FoundFile(HANDLE File, const std::string &Path, const BY_HANDLE_FILE_INFORMATION &Info)
      : FoundFile((static_cast<std::uint64_t>(Info.nFileSizeHigh) << 32) | Info.nFileSizeLow),
        file_(File), folder_(Path.substr(0, NameStart(Path))), name_(Path.substr(NameStart(Path))),
        id_(win32::IdOf(Info)) {}

  DirectoryId Id() const override { return id_; }
  const std::string &Name() const override { return name_; }
  std::optional<DirectoryId> FolderId() override {
    return IdentifyDirectory(folder_.empty() ? "." : folder_);
  }
  std::error_code ReadAt(std::uint64_t Offset, std::span<std::byte> Out,
                         std::size_t &Got) override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(Offset);
    at.OffsetHigh = static_cast<DWORD>(Offset >> 32);
    DWORD got = 0;
    const DWORD size = static_cast<DWORD>(std::min<std::size_t>(Out.size(), 1u << 30));
    Got = 0;
    if (!::ReadFile(file_.get(), Out.data(), size, &got, &at))
      return ::GetLastError() == ERROR_HANDLE_EOF ? std::error_code() : win32::LastError();
    Got = got;
    return {};
  }
  std::error_code Remove() override {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file_.get(), &info))
      return win32::LastError();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      // 0 would leave the attributes as they are: a file with no other one is "normal".
      const DWORD rest = info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
      BasicInformation basic{};
      basic.attributes = rest != 0 ? rest : FILE_ATTRIBUTE_NORMAL;
      // Left read-only, the file could not be deleted at the next start either.
      if (win32::SetInformation(file_.get(), &basic, sizeof basic, kFileBasicInformation))
        return {ERROR_FILE_READ_ONLY, std::system_category()};
    }
    BOOLEAN remove = TRUE;
    return win32::SetInformation(file_.get(), &remove, sizeof remove, kFileDispositionInformation);
  }

private:
  static std::size_t NameStart(const std::string &Path) {
    const std::size_t separator = Path.find_last_of("\\/:");
    return separator == std::string::npos ? 0 : separator + 1;
  }

  win32::ScopedFileHandle file_;
  std::string folder_;
  std::string name_;
  DirectoryId id_;
};

} // namespace

std::error_code HoldFile(const std::string &Path, std::unique_ptr<FoundFile> &Found) {
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  win32::ScopedFileHandle file(win32::CreateFileAt(
      Path, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, kShare, nullptr, OPEN_EXISTING, kFlags));
  // A file that the administrator may read but not delete (a system file of TrustedInstaller),
  // or that another process holds open without sharing its deletion, is still copied; its
  // removal then fails through the handle and falls to the next start.
  if (!file &&
      (::GetLastError() == ERROR_ACCESS_DENIED || ::GetLastError() == ERROR_SHARING_VIOLATION))
    file.reset(win32::CreateFileAt(Path, GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !::GetFileInformationByHandle(file.get(), &info))
    return win32::LastError();
  constexpr DWORD kNotRegular = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  if ((info.dwFileAttributes & kNotRegular) != 0 || ::GetFileType(file.get()) != FILE_TYPE_DISK)
    return {ERROR_CANT_ACCESS_FILE, std::system_category()};
  Found = std::make_unique<Win32FoundFile>(file.release(), Path, info);
  return {};
}

} // namespace vorse
