// The one includer of <windows.h>: lean headers, no min/max macros, and RAII for handles.
#pragma once

#ifndef _WIN32
#error "win32_support.h is for Windows builds only"
#endif

#include <windows.h>

#include <string>
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

/// The function \p Name of the loaded \p Module (kernel32, ntdll) as a pointer of type \p Fn, or
/// null where this Windows lacks it. Functions newer than the oldest Windows the programs start on
/// are looked up here rather than imported: an import that is missing stops the program before it
/// runs at all.
template <typename Fn> Fn ModuleFunction(const char *Module, const char *Name) {
  const HMODULE module = ::GetModuleHandleA(Module);
  if (module == nullptr)
    return nullptr;
  // By way of void (*)(), the one function type that converts to any other without a warning.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, Name)));
}
template <typename Fn> Fn Kernel32Function(const char *Name) {
  return ModuleFunction<Fn>("kernel32.dll", Name);
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

/// The calling thread's last Win32 error as an error_code whose message is the system's text.
inline std::error_code LastError() {
  return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

} // namespace vorse::win32
