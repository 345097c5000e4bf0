// The one includer of <windows.h>: lean headers, no min/max macros, and RAII for handles.
#pragma once

#ifndef _WIN32
#error "win32_support.h is for Windows builds only"
#endif

#include <windows.h>

#include "sysutil/file_location.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace vorse::win32 {

/// Owns a handle and releases it with Traits::Close, on the model of a scoped handle.
template <typename Traits> class ScopedHandle {
public:
  using Handle = typename Traits::Handle;
  ScopedHandle() = default;
  explicit ScopedHandle(Handle h) : handle_(h) {}
  ScopedHandle(const ScopedHandle &) = delete;
  ScopedHandle &operator=(const ScopedHandle &) = delete;
  ~ScopedHandle() { reset(); }
  void reset(Handle h = Traits::Invalid()) {
    if (Traits::IsValid(handle_))
      Traits::Close(handle_);
    handle_ = h;
  }
  Handle get() const { return handle_; }
  /// Gives up ownership: the caller closes the handle.
  Handle release() {
    const Handle h = handle_;
    handle_ = Traits::Invalid();
    return h;
  }
  explicit operator bool() const { return Traits::IsValid(handle_); }

private:
  Handle handle_ = Traits::Invalid();
};

struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Close(Handle h) { ::FindClose(h); }
};

using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedFindHandle = ScopedHandle<FindHandleTraits>;

/// The function \p Name of the system DLL \p Module, which every process has loaded, as a
/// pointer of type \p Fn; null where this Windows lacks it.
template <typename Fn> Fn SystemFunction(const char *Module, const char *Name) {
  const HMODULE module = ::GetModuleHandleA(Module);
  if (module == nullptr)
    return nullptr;
  // By way of void (*)(), the one function type that converts to any other without a warning.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, Name)));
}

/// The kernel32 function \p Name as a pointer of type \p Fn, or null where this Windows lacks
/// it. Functions newer than the oldest Windows the programs start on are looked up here rather
/// than imported: an import that is missing stops the program before it runs at all.
template <typename Fn> Fn Kernel32Function(const char *Name) {
  return SystemFunction<Fn>("kernel32.dll", Name);
}

/// GetSystemWow64DirectoryA where kernel32 has it (XP and later, 0 on a system without a 32-bit
/// subsystem); elsewhere 0 with ERROR_CALL_NOT_IMPLEMENTED, as there is no such directory.
inline UINT SystemWow64DirectoryA(char *Buffer, UINT Size) {
  const auto query = Kernel32Function<UINT(WINAPI *)(LPSTR, UINT)>("GetSystemWow64DirectoryA");
  if (query == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  return query(Buffer, Size);
}

/// Moves the file pointer of \p File to \p Offset from \p Method (FILE_BEGIN, FILE_END), by
/// SetFilePointer with its high half: SetFilePointerEx is missing from the 9x family.
inline bool SeekFile(HANDLE File, std::uint64_t Offset, DWORD Method) {
  LONG high = static_cast<LONG>(Offset >> 32);
  ::SetLastError(NO_ERROR);
  return ::SetFilePointer(File, static_cast<LONG>(Offset & 0xFFFFFFFFu), &high, Method) !=
             INVALID_SET_FILE_POINTER ||
         ::GetLastError() == NO_ERROR;
}

/// The error for an entry that is a link (a reparse point), a directory or a device where a
/// regular file is needed.
inline std::error_code NotARegularFile() {
  return {ERROR_CANT_ACCESS_FILE, std::system_category()};
}

/// The calling thread's last Win32 error as an error_code whose message is the system's text.
inline std::error_code LastError() {
  return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

/// Makes paths and names reach the system through its wide calls from here on: the narrow
/// text they are given in is then UTF-8, and each path is given in its extended-length form
/// ("\\?\C:\..."), so that no name is rewritten and no length limit of 260 applies. For
/// vorsescan.exe on the NT family; the window, and every program on the 9x family (which has the
/// wide calls only as failing stubs), keep the narrow calls and the code page.
void UseWidePaths(bool On = true);
/// True while UseWidePaths is on.
bool WidePaths();
/// \p Text, narrow as this process takes it (UTF-8 after UseWidePaths, else the code page), in
/// UTF-16; empty when it does not convert. After UseWidePaths, text that is not UTF-8 is taken
/// in the code page, as the window writes its manifest.
std::wstring Widen(std::string_view Text);
/// UTF-16 \p Units as narrow text of this process, as Widen takes it.
std::string Narrow(std::wstring_view Units);
/// \p Path as the wide calls take it: Widen, then the extended-length form; empty when
/// \p Path cannot be given to them.
std::wstring WidePath(const std::string &Path);

// The calls that take a path, each as its narrow form or, after UseWidePaths, its wide form on
// WidePath; the same arguments and results otherwise.
HANDLE CreateFileAt(const std::string &Path, DWORD Access, DWORD Share,
                    SECURITY_ATTRIBUTES *Security, DWORD Disposition, DWORD Flags);
DWORD GetFileAttributesAt(const std::string &Path);
BOOL DeleteFileAt(const std::string &Path);
BOOL CreateDirectoryAt(const std::string &Path, SECURITY_ATTRIBUTES *Security);
/// MoveFileEx with no target: a deletion (with MOVEFILE_DELAY_UNTIL_REBOOT, at the next start).
BOOL DeleteFileLater(const std::string &Path, DWORD Flags);
/// FindFirstFile on \p Pattern: the first entry's attributes and name.
HANDLE FindFirstFileAt(const std::string &Pattern, DWORD &Attributes, std::string &Name);
BOOL FindNextFileAt(HANDLE Search, DWORD &Attributes, std::string &Name);
/// GetFullPathName: \p Path made full, in the form it was given in; empty when that fails.
std::string FullPathName(const std::string &Path);
/// GetShortPathName: the short (8.3) form of \p Path; empty when the system has none to give.
std::string ShortPathName(const std::string &Path);
/// \p Path without the extended-length prefix the wide calls give back ("\\?\C:\dir",
/// "\\?\UNC\server\share"): its ordinary form.
std::string WithoutExtendedPrefix(const std::string &Path);
/// True when \p A and \p B are the same text as the system compares names (case ignored).
bool SameName(const std::string &A, const std::string &B);

/// Opens \p Path with \p Access and \p Disposition, but only a regular disk file, and never
/// through a reparse point at \p Path itself (a symbolic link or a junction standing there).
/// The 9x family has no reparse points and refuses both that flag and sharing for deletion,
/// so it is asked without them.
inline std::error_code OpenRegular(const std::string &Path, DWORD Access, DWORD Disposition,
                                   ScopedFileHandle &File, BY_HANDLE_FILE_INFORMATION &Info) {
  const bool nt = (::GetVersion() & 0x80000000u) == 0;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (nt ? FILE_SHARE_DELETE : 0);
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (nt ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  File.reset(CreateFileAt(Path, Access, share, nullptr, Disposition, flags));
  if (!File || !::GetFileInformationByHandle(File.get(), &Info))
    return LastError();
  constexpr DWORD kNotRegular = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  if ((Info.dwFileAttributes & kNotRegular) != 0 || ::GetFileType(File.get()) != FILE_TYPE_DISK)
    return NotARegularFile();
  return {};
}

/// What makes the file or directory that \p Info describes itself: its volume and its index on
/// it.
inline DirectoryId IdOf(const BY_HANDLE_FILE_INFORMATION &Info) {
  return {Info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(Info.nFileIndexHigh) << 32) | Info.nFileIndexLow};
}

/// IO_STATUS_BLOCK of ntdll's file calls.
struct IoStatus {
  union {
    LONG status;
    void *pointer;
  };
  ULONG_PTR information;
};

/// Sets information of class \p Class (FILE_INFORMATION_CLASS) on \p File through ntdll's
/// NtSetInformationFile, which every Windows of the NT family has; its status as a Win32 error.
inline std::error_code SetInformation(HANDLE File, void *Information, ULONG Length, int Class) {
  using SetFn = LONG(WINAPI *)(HANDLE, IoStatus *, void *, ULONG, int);
  using ToDosFn = ULONG(WINAPI *)(LONG);
  static const auto set = SystemFunction<SetFn>("ntdll.dll", "NtSetInformationFile");
  static const auto toDos = SystemFunction<ToDosFn>("ntdll.dll", "RtlNtStatusToDosError");
  if (set == nullptr || toDos == nullptr)
    return {ERROR_CALL_NOT_IMPLEMENTED, std::system_category()};
  IoStatus io{};
  const LONG status = set(File, &io, Information, Length, Class);
  if (status >= 0)
    return {};
  return {static_cast<int>(toDos(status)), std::system_category()};
}

} // namespace vorse::win32
