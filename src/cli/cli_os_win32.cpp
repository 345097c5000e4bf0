// CliOs for Windows: generic Win32 code only.
#include "cli/cli_os.h"
#include "cli/held_folder.h"
#include "cli/json_writer.h"
#include "cli/pending_deletes.h"
#include "scan/narrow_names.h"
#include "scan/scan_errors.h"
#include "sysutil/folder_access.h"
#include "sysutil/os_detect.h"
#include "sysutil/unicode.h"
#include "sysutil/win32_support.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <list>
#include <optional>
#include <span>
#include <string>
#include <vector>

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

struct LocalFreer {
  void operator()(void *Memory) const { ::LocalFree(Memory); }
};

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

/// \p Text, which the system gave in its code page, as the process's narrow text: UTF-8 after
/// win32::UseWidePaths.
std::string FromCodePage(const std::string &Text) {
  return win32::WidePaths() ? AnsiToUtf8(Text) : Text;
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

/// Whether \p Error, the reason a deletion failed, may only mean that the file is in use.
bool IsInUse(std::error_code Error) {
  return Error.value() == ERROR_SHARING_VIOLATION || Error.value() == ERROR_ACCESS_DENIED;
}

/// The path to register for the deletion of \p Path at the next start, into \p Registered,
/// where \p Error, the reason its deletion failed, may mean it is in use; else \p Error.
std::error_code RestartPath(const std::string &Path, std::error_code Error,
                            std::string &Registered) {
  // A running program or a loaded library cannot be deleted while in use; Windows deletes
  // it at the next start instead, before anything can load it again.
  if (!IsInUse(Error))
    return Error;
  // Registered by its real location: start-up deletes the path as written, where a 32-bit
  // program's view of the system directory does not apply. Start-up deletes with every right,
  // so only a path that nobody but administrators could lead elsewhere meanwhile is registered.
  std::string real = RealLocation(Path);
  if (!NobodyElseCanRedirect(real, CurrentUserSid(), ReadFolderSecurity))
    return make_error_code(Untrusted::RedirectableByOthers);
  Registered = std::move(real);
  return {};
}

/// Creates \p Target, which must not exist yet, and has \p Fill write it through a buffer it
/// is given; what was made is removed again on any failure.
template <typename Filler> std::error_code CreateNewFile(const std::string &Target, Filler Fill) {
  // CREATE_NEW: an entry that appeared since the name was chosen, a link included, is never
  // overwritten or written through.
  win32::ScopedFileHandle to(
      win32::CreateFileAt(Target, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!to)
    return win32::LastError();
  std::array<char, 64 * 1024> buffer;
  std::error_code error = Fill(to.get(), std::span<char>(buffer));
  if (!error && !::FlushFileBuffers(to.get()))
    error = win32::LastError();
  to.reset();
  if (error)
    win32::DeleteFileAt(Target);
  return error;
}

/// Owned by Administrators, SYSTEM or this user, and nobody else allowed to change it (add,
/// write, delete or rename entries, or change its permissions or owner). A reparse point is
/// judged as the rest: by who made it and who may change it.
std::error_code Trust(HANDLE Object) {
  static const std::vector<std::string> trusted = Administration(CurrentUserSid());
  FolderSecurity security;
  if (const std::error_code error = ReadSecurity(Object, security))
    return error;
  if (std::find(trusted.begin(), trusted.end(), security.Owner) == trusted.end())
    return Untrusted::OwnedByAnother;
  if (!OnlyTrustedMayChange(security, trusted))
    return Untrusted::WritableByOthers;
  return {};
}

/// Opens the directory \p Path to hold it: not shared for deletion or writing, so that it can
/// be neither renamed nor turned into a reparse point while held. \p Link: open a reparse point
/// there itself instead of what it leads to.
HANDLE HoldDirectory(const std::string &Path, bool Link) {
  return win32::CreateFileAt(
      Path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (Link ? FILE_FLAG_OPEN_REPARSE_POINT : 0));
}

/// The handles a held folder keeps open.
using HeldHandles = std::list<win32::ScopedFileHandle>;

/// \p Handle as a stream to read, which then owns it.
std::error_code ReadStreamOf(win32::ScopedFileHandle &Handle, StdioFile &File) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(Handle.get()), _O_RDONLY | _O_BINARY);
  if (fd < 0)
    return std::make_error_code(std::errc::too_many_files_open);
  Handle.release();
  File.reset(::_fdopen(fd, "rb"));
  if (!File) {
    ::_close(fd);
    return std::make_error_code(std::errc::not_enough_memory);
  }
  return {};
}

/// OpenEntryToRead's stream of \p Path.
std::error_code OpenEntryStream(const std::string &Path, StdioFile &File) {
  win32::ScopedFileHandle handle;
  BY_HANDLE_FILE_INFORMATION info{};
  if (const std::error_code error =
          win32::OpenRegular(Path, GENERIC_READ, OPEN_EXISTING, handle, info))
    return error;
  return ReadStreamOf(handle, File);
}

/// NtSetInformationFile's record for FileDispositionInformation.
struct DispositionInformation {
  BOOLEAN deleteFile;
};

class Win32NewFile final : public NewFile {
public:
  explicit Win32NewFile(HANDLE File) : file_(File) {}
  std::error_code Fill(std::FILE *From) override {
    std::array<char, 64 * 1024> buffer;
    for (;;) {
      const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), From);
      if (got > 0 && !WriteAll(file_.get(), buffer.data(), static_cast<DWORD>(got)))
        return win32::LastError();
      if (got < buffer.size())
        break;
    }
    if (std::ferror(From) != 0)
      return std::make_error_code(std::errc::io_error);
    return ::FlushFileBuffers(file_.get()) ? std::error_code() : win32::LastError();
  }
  std::error_code ReadBack(StdioFile &File) override {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), file_.get(), ::GetCurrentProcess(), &copy, 0,
                           FALSE, DUPLICATE_SAME_ACCESS))
      return win32::LastError();
    win32::ScopedFileHandle held(copy);
    if (::SetFilePointer(copy, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
      return win32::LastError();
    return ReadStreamOf(held, File);
  }
  std::error_code Discard() override {
    // Deleted through the handle it was made with, when the last handle closes: never by name.
    using SetInformation = LONG(WINAPI *)(HANDLE, void *, void *, ULONG, int);
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    const auto set = ntdll == nullptr
                         ? nullptr
                         : reinterpret_cast<SetInformation>(reinterpret_cast<void (*)()>(
                               ::GetProcAddress(ntdll, "NtSetInformationFile")));
    if (::SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !::SetEndOfFile(file_.get()))
      return win32::LastError();
    constexpr int kFileDispositionInformation = 13;
    std::array<ULONG_PTR, 2> status{};
    DispositionInformation disposition{TRUE};
    if (set == nullptr || set(file_.get(), status.data(), &disposition, sizeof disposition,
                              kFileDispositionInformation) < 0)
      return {ERROR_ACCESS_DENIED, std::system_category()};
    return {};
  }

private:
  win32::ScopedFileHandle file_;
};

/// The 9x family has no access control, and cannot open a folder to hold it: every user there
/// may change everything anyway.
bool HasAccessControl() {
  return OS_Detect(PlatformSysutilOs()) != kPlatform9x;
}

class Win32HeldFolder final : public HeldFolder {
public:
  Win32HeldFolder(std::string Path, HeldHandles Held)
      : path_(std::move(Path)), held_(std::move(Held)), checked_(HasAccessControl()) {
    if (!path_.ends_with('\\'))
      path_ += '\\';
  }
  std::error_code OpenEntry(const std::string &Name, StdioFile &File) override {
    StdioFile file;
    if (const std::error_code error = OpenEntryStream(path_ + Name, file))
      return error;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file.get())));
    if (const std::error_code error = checked_ ? Trust(handle) : std::error_code())
      return error;
    File = std::move(file);
    return {};
  }
  std::error_code CreateEntry(const std::string &Name, std::unique_ptr<NewFile> &File,
                              bool &Existed) override {
    // CREATE_NEW: an entry there, a link included, is never written over or through.
    win32::ScopedFileHandle made(
        win32::CreateFileAt(path_ + Name, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
    const std::error_code error = made ? std::error_code() : win32::LastError();
    Existed = error.value() == ERROR_FILE_EXISTS || error.value() == ERROR_ALREADY_EXISTS;
    if (error)
      return error;
    File = std::make_unique<Win32NewFile>(made.release());
    return {};
  }

private:
  std::string path_;
  HeldHandles held_;
  bool checked_;
};

class Win32CliOs final : public CliOs {
public:
  std::string NativePath(const std::string &SearchPath) override { return SearchPath; }
  std::string SearchForm(const std::string &NativePath) override { return NativePath; }
  std::size_t PathLimit() override { return win32::WidePaths() ? 0 : MAX_PATH - 1; }
  std::vector<std::string> DefaultRoots() override {
    std::vector<std::string> roots{FromCodePage(QueryDirectory(
        [](char *Buffer, UINT Size) { return ::GetSystemDirectoryA(Buffer, Size); }))};
    // Only the 64-bit build looks at the 32-bit system directory, as the window does: a 32-bit
    // process sees that directory as its own system directory already.
    if constexpr (sizeof(void *) == 8) {
      std::string wow64 = FromCodePage(QueryDirectory(win32::SystemWow64DirectoryA));
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
    // The wide calls open every name as it is listed, but for one that has no UTF-8 form
    // (win32::Narrow gives '?' there, which no name holds).
    if (win32::WidePaths())
      return Name.find('?') != std::string_view::npos;
    return vorse::NarrowCallsRewrite(Name);
  }
  bool MeansNoVersionResource(std::error_code Error) override {
    return vorse::MeansNoVersionResource(Error);
  }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &SearchPath) override {
    return vorse::IdentifyDirectory(SearchPath);
  }
  bool Exists(const std::string &Path) override {
    return win32::GetFileAttributesAt(Path) != INVALID_FILE_ATTRIBUTES;
  }
  std::error_code CreateDirectories(const std::string &Path) override {
    bool made = false;
    for (std::size_t end = Path.find_first_of("\\/");; end = Path.find_first_of("\\/", end + 1)) {
      const std::string part = Path.substr(0, end);
      // Drive roots ("C:") and the empty start of "\dir" are not created, only passed. What is
      // made is for Administrators and SYSTEM alone, like the window's quarantine folder.
      const bool creatable = !part.empty() && part.back() != ':';
      made = creatable && CreatePrivateDirectory(part) != 0;
      if (creatable && !made && ::GetLastError() != ERROR_ALREADY_EXISTS &&
          ::GetLastError() != ERROR_ACCESS_DENIED)
        return win32::LastError();
      if (end == std::string::npos)
        break;
    }
    // A folder made here is checked to be theirs before any copy goes in.
    if (made) {
      const std::optional<FolderSecurity> security = ReadFolderSecurity(Path);
      if (!security || !OnlyTrustedMayChange(*security, Administration(CurrentUserSid())))
        return std::error_code(ERROR_ACCESS_DENIED, std::system_category());
    }
    const DWORD attributes = win32::GetFileAttributesAt(Path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return win32::LastError();
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? std::error_code()
               : std::error_code(ERROR_DIRECTORY, std::system_category());
  }
  std::error_code CopyToNewFile(const std::string &Source, const std::string &Target) override {
    // The original is read as the search found it; only the copy's name is never followed.
    const win32::ScopedFileHandle from(win32::CreateFileAt(
        Source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN));
    if (!from)
      return win32::LastError();
    if (::GetFileType(from.get()) != FILE_TYPE_DISK)
      return win32::NotARegularFile();
    return CreateNewFile(Target, [&](HANDLE To, std::span<char> Buffer) {
      for (DWORD got = 1; got > 0;) {
        if (!::ReadFile(from.get(), Buffer.data(), static_cast<DWORD>(Buffer.size()), &got,
                        nullptr) ||
            !WriteAll(To, Buffer.data(), got))
          return win32::LastError();
      }
      return std::error_code();
    });
  }
  std::error_code CopyFoundToNewFile(FoundFile &Source, const std::string &Target) override {
    return CreateNewFile(Target, [&](HANDLE To, std::span<char> Buffer) {
      const auto bytes = std::as_writable_bytes(Buffer);
      for (std::uint64_t offset = 0;;) {
        std::size_t got = 0;
        if (const std::error_code error = Source.ReadAt(offset, bytes, got))
          return error;
        if (got == 0)
          return std::error_code();
        if (!WriteAll(To, Buffer.data(), static_cast<DWORD>(got)))
          return win32::LastError();
        offset += got;
      }
    });
  }
  std::error_code OpenEntryToRead(const std::string &Path, StdioFile &File) override {
    return OpenEntryStream(Path, File);
  }
  std::optional<FileId> IdentifyFile(std::FILE *File) override {
    BY_HANDLE_FILE_INFORMATION info{};
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(File)));
    if (!::GetFileInformationByHandle(handle, &info))
      return std::nullopt;
    return win32::IdOf(info);
  }
  std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                 std::uint64_t &Length, bool &Created) override {
    return vorse::OpenAppendFile(Path, File, Length, Created);
  }
  std::error_code RemoveFile(const std::string &Path, RemoveOutcome &Outcome) override {
    if (win32::DeleteFileAt(Path)) {
      Outcome = RemoveOutcome::Removed;
      return {};
    }
    std::string registered;
    if (const std::error_code error = RestartPath(Path, win32::LastError(), registered))
      return error;
    if (const std::error_code error = DeleteAtRestart(registered))
      return error;
    Outcome = RemoveOutcome::ScheduledAtRestart;
    return {};
  }
  std::error_code RemoveFound(FoundFile &File, const std::string &Path,
                              std::string &Registered) override {
    const std::error_code error = File.Remove();
    if (!error)
      return {};
    // The registration names a path: only while it still leads to the file held.
    win32::ScopedFileHandle handle;
    BY_HANDLE_FILE_INFORMATION info{};
    if (IsInUse(error) &&
        (win32::OpenRegular(Path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, handle, info) ||
         win32::IdOf(info) != File.Id()))
      return FoundFileReplaced();
    return RestartPath(Path, error, Registered);
  }
  std::error_code DeleteAtRestart(const std::string &Registered) override {
    return win32::DeleteFileLater(Registered, MOVEFILE_DELAY_UNTIL_REBOOT) ? std::error_code()
                                                                           : win32::LastError();
  }
  std::string AbsolutePath(const std::string &Path) override {
    std::string full = win32::FullPathName(Path);
    return full.empty() ? Path : full;
  }
  bool SamePath(const std::string &A, const std::string &B) override {
    return win32::SameName(A, B);
  }
  std::error_code CancelDeleteAtRestart(const std::string &Path, const std::string &Registered,
                                        bool &Withdrawn) override {
    // Every name of the file a registration may have used: the one recorded, the path as
    // reached and where it really leads, and their short forms (as the 9x family writes them).
    std::vector<std::string> names{Registered, Path, RealLocation(Path)};
    for (std::size_t i = 0, count = names.size(); i < count; ++i)
      names.push_back(win32::ShortPathName(names[i]));
    return WithdrawDeleteAtRestart(PlatformRestartRegistrations(), names, Withdrawn);
  }
  std::error_code OpenQuarantineFolder(const std::string &Path,
                                       std::unique_ptr<HeldFolder> &Folder) override {
    HeldHandles held;
    if (!HasAccessControl()) {
      Folder = std::make_unique<Win32HeldFolder>(Path, std::move(held));
      return {};
    }
    if (!held.emplace_back(HoldDirectory(Path, false)))
      return win32::LastError();
    if (const std::error_code error = Trust(held.back().get()))
      return error;
    Folder = std::make_unique<Win32HeldFolder>(Path, std::move(held));
    return {};
  }
  std::error_code OpenFolderOf(const std::string &Path, std::unique_ptr<HeldFolder> &Folder,
                               std::string &Name) override {
    // Each folder below the root is held from its check until the file is made, so that none
    // can be renamed or turned into a reparse point in between; a reparse point is passed only
    // when nobody but Administrators, SYSTEM and this user could have made or changed it.
    const std::size_t last = Path.find_last_of("\\/");
    // A drive's path only ("C:\..."): there the folders below the root are what is checked.
    std::size_t start = Path.size() > 3 && Path[1] == ':' && (Path[2] == '\\' || Path[2] == '/')
                            ? 3
                            : std::string::npos;
    if (start == std::string::npos || last == std::string::npos || last + 1 >= Path.size() ||
        last + 1 < start)
      return {ERROR_BAD_PATHNAME, std::system_category()};
    Name = Path.substr(last + 1);
    HeldHandles held;
    const bool hold = HasAccessControl();
    for (std::size_t end = start; hold && start < last; start = end + 1) {
      end = std::min(Path.find_first_of("\\/", start), last);
      const std::string folder = Path.substr(0, end);
      const win32::ScopedFileHandle &entry = held.emplace_back(HoldDirectory(folder, true));
      BY_HANDLE_FILE_INFORMATION info{};
      if (!entry || !::GetFileInformationByHandle(entry.get(), &info))
        return win32::LastError();
      if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return {ERROR_DIRECTORY, std::system_category()};
      // The point itself stays held; what it leads to is held beside it.
      if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (Trust(entry.get()))
          return Untrusted::LinkOfAnother;
        if (!held.emplace_back(HoldDirectory(folder, false)))
          return win32::LastError();
      }
    }
    Folder = std::make_unique<Win32HeldFolder>(Path.substr(0, last), std::move(held));
    return {};
  }
  std::chrono::system_clock::time_point WallClock() override {
    return std::chrono::system_clock::now();
  }
  std::string HostName() override {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return ::GetComputerNameA(name, &size) ? AnsiToUtf8(std::string(name, size)) : std::string();
  }
  std::string ToUtf8(const std::string &Text) override {
    // After UseWidePaths only text that the code page wrote (a line of the window's manifest, a
    // system message) is not UTF-8 already.
    return win32::WidePaths() && IsValidUtf8(Text) ? Text : AnsiToUtf8(Text);
  }
};

} // namespace

CliOs &PlatformCliOs() {
  static Win32CliOs os;
  return os;
}

std::vector<std::string> ProgramArguments(int Argc, char **Argv) {
  // The 9x family has the wide calls only as stubs that fail: there the code page stays.
  if (OS_Detect(PlatformSysutilOs()) == kPlatformNT) {
    int count = 0;
    const std::unique_ptr<LPWSTR[], LocalFreer> wide(
        ::CommandLineToArgvW(::GetCommandLineW(), &count));
    if (wide) {
      win32::UseWidePaths();
      std::vector<std::string> args;
      for (int i = 1; i < count; ++i)
        args.push_back(win32::Narrow(wide[i]));
      return args;
    }
  }
  return {Argv + (Argc > 0 ? 1 : 0), Argv + Argc};
}

bool WriteToConsole(std::FILE *File, std::string_view Text) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(File)));
  DWORD mode = 0;
  if (!win32::WidePaths() || !::GetConsoleMode(handle, &mode))
    return false;
  // Whatever the stream still holds goes first, in its order.
  std::fflush(File);
  // A byte that is not UTF-8 (a system message in the code page) shows as U+FFFD.
  const std::u16string units = Utf8ToUtf16Replacing(Text);
  for (std::size_t done = 0; done < units.size();) {
    DWORD wrote = 0;
    // Older consoles take a few thousand characters a call; a pair of surrogates stays whole.
    std::size_t chunk = std::min<std::size_t>(units.size() - done, 4096);
    if (done + chunk < units.size() && units[done + chunk - 1] >= 0xD800 &&
        units[done + chunk - 1] < 0xDC00)
      --chunk;
    if (!::WriteConsoleW(handle, units.data() + done, static_cast<DWORD>(chunk), &wrote, nullptr) ||
        wrote == 0)
      break;
    done += wrote;
  }
  return true;
}

} // namespace vorse
