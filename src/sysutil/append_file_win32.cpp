// AppendFile for Windows: one WriteFile at the end of a file opened without following reparse
// points, with the calls every Windows family has.
#include "sysutil/append_file.h"

#include "sysutil/win32_support.h"

namespace vorse {
namespace {

/// Moves the file pointer of \p File to \p Offset from \p Method. SetFilePointer with its high
/// half rather than SetFilePointerEx, which the 9x family lacks.
bool Seek(HANDLE File, std::uint64_t Offset, DWORD Method) {
  LONG high = static_cast<LONG>(Offset >> 32);
  return ::SetFilePointer(File, static_cast<LONG>(Offset & 0xFFFFFFFFu), &high, Method) !=
             INVALID_SET_FILE_POINTER ||
         ::GetLastError() == NO_ERROR;
}

class Win32AppendFile final : public AppendFile {
public:
  explicit Win32AppendFile(HANDLE File) : file_(File) {}
  std::error_code Append(std::string_view Data, std::size_t &Written) override {
    Written = 0;
    DWORD wrote = 0;
    // One write at the end: the whole record lands, or the part that fitted.
    if (!Seek(file_.get(), 0, FILE_END) ||
        !::WriteFile(file_.get(), Data.data(), static_cast<DWORD>(Data.size()), &wrote, nullptr))
      return win32::LastError();
    Written = wrote;
    if (Written == Data.size() && !::FlushFileBuffers(file_.get()))
      return win32::LastError();
    return {};
  }
  std::error_code Truncate(std::uint64_t Length) override {
    if (!Seek(file_.get(), Length, FILE_BEGIN) || !::SetEndOfFile(file_.get()))
      return win32::LastError();
    return {};
  }

private:
  win32::ScopedFileHandle file_;
};

} // namespace

std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                               std::uint64_t &Length, bool &Created) {
  constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
  win32::ScopedFileHandle handle;
  BY_HANDLE_FILE_INFORMATION info{};
  std::error_code error = win32::OpenRegular(Path, kAccess, CREATE_NEW, handle, info);
  Created = !error;
  if (error.value() == ERROR_FILE_EXISTS)
    error = win32::OpenRegular(Path, kAccess, OPEN_EXISTING, handle, info);
  if (error)
    return error;
  Length = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  File = std::make_unique<Win32AppendFile>(handle.release());
  return {};
}

} // namespace vorse
