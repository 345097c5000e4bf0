// CliOs for Windows: generic Win32 code only.
#include "cli/cli_os.h"
#include "cli/pending_deletes.h"
#include "scan/narrow_names.h"
#include "scan/scan_errors.h"
#include "sysutil/win32_support.h"

#include <fcntl.h>
#include <io.h>

#include <array>

namespace vorse {
namespace {

/// A directory query of the GetSystemDirectoryA kind, with room for any path it reports.
template <typename Query> std::string QueryDirectory(Query query) {
  std::string buffer(MAX_PATH, '\0');
  UINT length = query(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.resize(length);
    length = query(buffer.data(), static_cast<UINT>(buffer.size()));
  }
  buffer.resize(length < buffer.size() ? length : 0);
  return buffer;
}

/// \p Text from the ANSI code page to UTF-8, by way of UTF-16; unchanged when a byte has no
/// meaning in the code page (the JSON writer then keeps its bytes).
std::string AnsiToUtf8(const std::string &Text) {
  if (Text.empty())
    return Text;
  const int length = static_cast<int>(Text.size());
  const int units =
      ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, Text.data(), length, nullptr, 0);
  if (units <= 0)
    return Text;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, Text.data(), length, wide.data(), units);
  const int bytes =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0)
    return Text;
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, converted.data(), bytes, nullptr, nullptr);
  return converted;
}

/// The error for an entry that is a link (a reparse point), a directory or a device where a
/// regular file is needed.
std::error_code NotARegularFile() {
  return {ERROR_CANT_ACCESS_FILE, std::system_category()};
}

/// Opens \p Path with \p Access and \p Disposition, but only a regular disk file, and never
/// through a reparse point at \p Path itself (a symbolic link or a junction standing there).
std::error_code OpenRegular(const std::string &Path, DWORD Access, DWORD Disposition,
                            win32::ScopedFileHandle &File, BY_HANDLE_FILE_INFORMATION &Info) {
  File.reset(::CreateFileA(
      Path.c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      Disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!File || !::GetFileInformationByHandle(File.get(), &Info))
    return win32::LastError();
  constexpr DWORD kNotRegular = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  if ((Info.dwFileAttributes & kNotRegular) != 0 || ::GetFileType(File.get()) != FILE_TYPE_DISK)
    return NotARegularFile();
  return {};
}

FileId IdOf(const BY_HANDLE_FILE_INFORMATION &Info) {
  return FileId{Info.dwVolumeSerialNumber,
                (static_cast<std::uint64_t>(Info.nFileIndexHigh) << 32) | Info.nFileIndexLow};
}

/// Writes all of \p Data to \p File; false on a failed write.
bool WriteAll(HANDLE File, const char *Data, DWORD Size) {
  while (Size > 0) {
    DWORD wrote = 0;
    if (!::WriteFile(File, Data, Size, &wrote, nullptr) || wrote == 0)
      return false;
    Data += wrote;
    Size -= wrote;
  }
  return true;
}

class Win32AppendFile final : public AppendFile {
public:
  explicit Win32AppendFile(HANDLE File) : file_(File) {}
  std::error_code Append(std::string_view Data, std::size_t &Written) override {
    Written = 0;
    DWORD wrote = 0;
    // One write at the end: the whole record lands, or the part that fitted.
    if (!::SetFilePointerEx(file_.get(), LARGE_INTEGER{}, nullptr, FILE_END) ||
        !::WriteFile(file_.get(), Data.data(), static_cast<DWORD>(Data.size()), &wrote, nullptr))
      return win32::LastError();
    Written = wrote;
    if (Written == Data.size() && !::FlushFileBuffers(file_.get()))
      return win32::LastError();
    return {};
  }
  std::error_code Truncate(std::uint64_t Length) override {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(Length);
    if (!::SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(file_.get()))
      return win32::LastError();
    return {};
  }

private:
  win32::ScopedFileHandle file_;
};

class Win32CliOs final : public CliOs {
public:
  std::string NativePath(const std::string &SearchPath) override { return SearchPath; }
  std::string SearchForm(const std::string &NativePath) override { return NativePath; }
  std::size_t PathLimit() override { return MAX_PATH - 1; }
  std::vector<std::string> DefaultRoots() override {
    std::vector<std::string> roots{QueryDirectory(
        [](char *Buffer, UINT Size) { return ::GetSystemDirectoryA(Buffer, Size); })};
    // Only the 64-bit build looks at the 32-bit system directory, as the window does: a 32-bit
    // process sees that directory as its own system directory already.
    if constexpr (sizeof(void *) == 8) {
      std::string wow64 = QueryDirectory(win32::SystemWow64DirectoryA);
      if (!wow64.empty())
        roots.push_back(std::move(wow64));
    }
    return roots;
  }
  bool StderrIsTerminal() override {
    // A console handle answers GetConsoleMode; a pipe or a file does not.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  }
  bool StdoutIsOpen() override {
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    return out != nullptr && out != INVALID_HANDLE_VALUE;
  }
  bool MeansNothingThere(std::error_code Error) override { return vorse::MeansNothingThere(Error); }
  bool MeansNoMoreFiles(std::error_code Error) override { return vorse::MeansNoMoreFiles(Error); }
  bool NarrowCallsRewrite(std::string_view Name) override {
    return vorse::NarrowCallsRewrite(Name);
  }
  bool MeansNoVersionResource(std::error_code Error) override {
    return vorse::MeansNoVersionResource(Error);
  }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &SearchPath) override {
    return vorse::IdentifyDirectory(SearchPath);
  }
  bool Exists(const std::string &Path) override {
    return ::GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  std::error_code CreateDirectories(const std::string &Path) override {
    for (std::size_t end = Path.find_first_of("\\/");; end = Path.find_first_of("\\/", end + 1)) {
      const std::string part = Path.substr(0, end);
      // Drive roots ("C:") and the empty start of "\dir" are not created, only passed.
      const bool creatable = !part.empty() && part.back() != ':';
      if (creatable && !::CreateDirectoryA(part.c_str(), nullptr) &&
          ::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_ACCESS_DENIED)
        return win32::LastError();
      if (end == std::string::npos)
        break;
    }
    const DWORD attributes = ::GetFileAttributesA(Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return win32::LastError();
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? std::error_code()
               : std::error_code(ERROR_DIRECTORY, std::system_category());
  }
  std::error_code CopyToNewFile(const std::string &Source, const std::string &Target) override {
    // The original is read as the search found it; only the copy's name is never followed.
    const win32::ScopedFileHandle from(::CreateFileA(
        Source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from)
      return win32::LastError();
    if (::GetFileType(from.get()) != FILE_TYPE_DISK)
      return NotARegularFile();
    // CREATE_NEW: an entry that appeared since the name was chosen, a link included, is never
    // overwritten or written through.
    win32::ScopedFileHandle to(::CreateFileA(Target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                             nullptr));
    if (!to)
      return win32::LastError();
    std::array<char, 64 * 1024> buffer;
    std::error_code error;
    for (DWORD got = 1; !error && got > 0;) {
      if (!::ReadFile(from.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                      nullptr) ||
          !WriteAll(to.get(), buffer.data(), got))
        error = win32::LastError();
    }
    if (!error && !::FlushFileBuffers(to.get()))
      error = win32::LastError();
    to.reset();
    if (error)
      ::DeleteFileA(Target.c_str());
    return error;
  }
  std::error_code OpenEntryToRead(const std::string &Path, StdioFile &File) override {
    win32::ScopedFileHandle handle;
    BY_HANDLE_FILE_INFORMATION info{};
    if (const std::error_code error = OpenRegular(Path, GENERIC_READ, OPEN_EXISTING, handle, info))
      return error;
    const int fd =
        ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_RDONLY | _O_BINARY);
    if (fd < 0)
      return std::make_error_code(std::errc::too_many_files_open);
    handle.release();
    File.reset(::_fdopen(fd, "rb"));
    if (!File) {
      ::_close(fd);
      return std::make_error_code(std::errc::not_enough_memory);
    }
    return {};
  }
  std::optional<FileId> IdentifyFile(std::FILE *File) override {
    BY_HANDLE_FILE_INFORMATION info{};
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(File)));
    if (!::GetFileInformationByHandle(handle, &info))
      return std::nullopt;
    return IdOf(info);
  }
  std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                 std::uint64_t &Length, bool &Created) override {
    win32::ScopedFileHandle handle;
    BY_HANDLE_FILE_INFORMATION info{};
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
    std::error_code error = OpenRegular(Path, kAccess, CREATE_NEW, handle, info);
    Created = !error;
    if (error.value() == ERROR_FILE_EXISTS)
      error = OpenRegular(Path, kAccess, OPEN_EXISTING, handle, info);
    if (error)
      return error;
    Length = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    File = std::make_unique<Win32AppendFile>(handle.release());
    return {};
  }
  std::error_code RemoveFile(const std::string &Path, RemoveOutcome &Outcome) override {
    if (::DeleteFileA(Path.c_str())) {
      Outcome = RemoveOutcome::Removed;
      return {};
    }
    const std::error_code error = win32::LastError();
    // A running program or a loaded library cannot be deleted while in use; Windows deletes
    // it at the next start instead, before anything can load it again.
    if (error.value() != ERROR_SHARING_VIOLATION && error.value() != ERROR_ACCESS_DENIED)
      return error;
    // Registered by its real location: start-up deletes the path as written, where a 32-bit
    // program's view of the system directory does not apply.
    if (!::MoveFileExA(RealLocation(Path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
      return win32::LastError();
    Outcome = RemoveOutcome::ScheduledAtRestart;
    return {};
  }
  std::string AbsolutePath(const std::string &Path) override {
    std::string full(MAX_PATH, '\0');
    DWORD length =
        ::GetFullPathNameA(Path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
      full.assign(length, '\0');
      length = ::GetFullPathNameA(Path.c_str(), length, full.data(), nullptr);
    }
    if (length == 0 || length >= full.size())
      return Path;
    full.resize(length);
    return full;
  }
  bool SamePath(const std::string &A, const std::string &B) override {
    return ::lstrcmpiA(A.c_str(), B.c_str()) == 0;
  }
  std::error_code CancelDeleteAtRestart(const std::string &Path, bool &Withdrawn) override {
    return WithdrawDeleteAtRestart(Path, Withdrawn);
  }
  std::chrono::system_clock::time_point WallClock() override {
    return std::chrono::system_clock::now();
  }
  std::string HostName() override {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return ::GetComputerNameA(name, &size) ? AnsiToUtf8(std::string(name, size)) : std::string();
  }
  std::string ToUtf8(const std::string &Text) override { return AnsiToUtf8(Text); }
};

} // namespace

CliOs &PlatformCliOs() {
  static Win32CliOs os;
  return os;
}

} // namespace vorse
