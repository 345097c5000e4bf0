// Where a path really leads, on Windows. Every call that Windows 2000 or the 9x family lacks is
// looked up at run time, so the program still loads where it is missing.
#include "sysutil/file_location.h"
#include "sysutil/win32_support.h"

#include <array>
#include <cctype>
#include <string_view>

namespace vorse {
namespace {

/// The folders below the system directory that WOW64 leaves alone: a 32-bit program reaches
/// the real ones through the system directory's name.
constexpr std::array<std::string_view, 5> kNotRedirected = {"catroot", "catroot2", "drivers\\etc",
                                                            "logfiles", "spool"};

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size())
    return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(A[i])) !=
        std::tolower(static_cast<unsigned char>(B[i])))
      return false;
  return true;
}

/// \p Path begins with the folder \p Dir: Dir itself, then "\" or the end.
bool IsBelow(std::string_view Path, std::string_view Dir) {
  return Path.size() >= Dir.size() && SameText(Path.substr(0, Dir.size()), Dir) &&
         (Path.size() == Dir.size() || Path[Dir.size()] == '\\');
}

/// A directory query of the GetSystemDirectoryA kind: the directory, or empty when it fails.
template <typename Query> std::string Directory(Query Ask) {
  std::string buffer(MAX_PATH, '\0');
  const UINT length = Ask(buffer.data(), MAX_PATH);
  buffer.resize(length < MAX_PATH ? length : 0);
  return buffer;
}

/// The path Windows reports for the file open as \p File, in its DOS form; empty when the call
/// is missing (before Vista) or fails.
std::string FinalPathOf(HANDLE File) {
  using GetFinalPath = DWORD(WINAPI *)(HANDLE, LPWSTR, DWORD, DWORD);
  static const auto getFinalPath =
      win32::Kernel32Function<GetFinalPath>("GetFinalPathNameByHandleW");
  if (getFinalPath == nullptr)
    return {};
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length = getFinalPath(File, buffer.data(), MAX_PATH, FILE_NAME_NORMALIZED);
  if (length >= MAX_PATH) {
    buffer.assign(length, L'\0');
    length = getFinalPath(File, buffer.data(), length, FILE_NAME_NORMALIZED);
  }
  if (length == 0 || length >= buffer.size())
    return {};
  buffer.resize(length);
  return win32::WithoutExtendedPrefix(win32::Narrow(buffer));
}

/// Where a 32-bit program on 64-bit Windows reaches \p Path, without asking the file: a path
/// below the system directory leads into the 32-bit one, except in the folders left alone.
std::string RedirectedLocation(const std::string &Path) {
  using IsWow64 = BOOL(WINAPI *)(HANDLE, PBOOL);
  static const auto isWow64Process = win32::Kernel32Function<IsWow64>("IsWow64Process");
  BOOL wow64 = FALSE;
  if (isWow64Process == nullptr || !isWow64Process(::GetCurrentProcess(), &wow64) || !wow64)
    return Path;
  const std::string system = Directory(::GetSystemDirectoryA);
  const std::string system32 = Directory(win32::SystemWow64DirectoryA);
  if (system.empty() || system32.empty() || !IsBelow(Path, system))
    return Path;
  const std::string_view rest = std::string_view(Path).substr(system.size());
  for (const std::string_view folder : kNotRedirected)
    if (IsBelow(rest.substr(rest.empty() ? 0 : 1), folder))
      return Path;
  return system32 + std::string(rest);
}

} // namespace

std::optional<DirectoryId> IdentifyDirectory(const std::string &Path) {
  // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFile open a directory at all; no access
  // right is asked for, so an unreadable directory still tells who it is.
  const win32::ScopedFileHandle handle(
      win32::CreateFileAt(Path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!handle || !::GetFileInformationByHandle(handle.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return std::nullopt;
  return win32::IdOf(info);
}

std::string RealLocation(const std::string &Path) {
  // No access right asked for: a file that another program holds without sharing opens too.
  const win32::ScopedFileHandle handle(
      win32::CreateFileAt(Path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  std::string real = handle ? FinalPathOf(handle.get()) : std::string();
  if (real.empty())
    real = RedirectedLocation(Path);
  return SameText(real, Path) ? Path : real;
}

} // namespace vorse
