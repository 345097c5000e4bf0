// AppOs for POSIX: generic POSIX code only. There is no Windows here: no system directories,
// no delayed deletion and no shell to start, so those calls fail the way the Win32 calls fail;
// the file operations work on the local file system. Paths come as the search writes them and
// are mapped back to POSIX form (sysutil/posix_name.h) before any call.
#include "app/app_os.h"
#include "app/runtime_error.h"
#include "app/text_file.h"
#include "scan/scan_errors.h"
#include "scan/scan_os.h"
#include "sysutil/posix_file.h"
#include "sysutil/posix_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vorse {
namespace {

/// What ShellExecuteA returns when it cannot start anything (SE_ERR_NOASSOC); any value up to
/// 32 is a failure.
constexpr std::intptr_t kShellExecuteFailed = 31;

class PosixAppOs final : public AppOs {
public:
  std::uint32_t GetSystemDirectoryA(char *, std::uint32_t) override { return Unsupported(); }
  std::uint32_t GetWindowsDirectoryA(char *, std::uint32_t) override { return Unsupported(); }
  std::uint32_t GetSystemWow64DirectoryA(char *, std::uint32_t) override { return Unsupported(); }
  std::int32_t CreateDirectoryExA(const std::string &, const std::string &NewDir) override {
    return ::mkdir(ToPosixForm(NewDir).c_str(), 0777) == 0;
  }
  std::int32_t CopyFileA(const std::string &Source, const std::string &Target,
                         std::int32_t FailIfExists) override {
    const ScopedFd from = OpenRegularFd(ToPosixForm(Source));
    if (!from)
      return 0;
    // O_EXCL makes "fail if it exists" one atomic step: a file that appears meanwhile is kept.
    const int mode = FailIfExists != 0 ? O_EXCL : O_TRUNC;
    const std::string target = ToPosixForm(Target);
    const ScopedFd to(::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0666));
    if (!to)
      return 0;
    if (CopyContents(from.get(), to.get()))
      return 1;
    const int saved = errno;
    ::unlink(target.c_str());
    errno = saved;
    return 0;
  }
  std::int32_t MoveFileExA(const std::string &, const char *, std::uint32_t) override {
    errno = ENOSYS;
    return 0;
  }
  std::uint32_t GetShortPathNameA(const std::string &LongPath, char *Buffer,
                                  std::uint32_t Size) override {
    // Like Windows on a volume without 8.3 names: an existing path is its own short form.
    struct stat info;
    if (::stat(ToPosixForm(LongPath).c_str(), &info) != 0)
      return 0;
    const auto length = static_cast<std::uint32_t>(LongPath.size());
    if (length >= Size)
      return length + 1;
    std::memcpy(Buffer, LongPath.c_str(), length + 1);
    return length;
  }
  std::int32_t PathFileExistsA(const std::string &Path) override {
    struct stat info;
    return ::stat(ToPosixForm(Path).c_str(), &info) == 0;
  }
  std::int64_t ReadFileChunk(const std::string &Path, std::uint64_t Offset,
                             std::span<std::byte> Out) override {
    const ScopedFd file = OpenRegularFd(ToPosixForm(Path));
    return file ? ReadAt(file.get(), Offset, Out) : -1;
  }
  std::intptr_t ShellExecuteA(std::uintptr_t, const std::string &, const std::string &,
                              const std::string &, const std::string &, std::int32_t) override {
    errno = ENOSYS;
    return kShellExecuteFailed;
  }
  void AppendLines(const std::string &Path, const std::string &Lines) override {
    WriteTextFile(ToPosixForm(Path), "ab", Lines);
  }
  void WriteNewFile(const std::string &Path, const std::string &Lines) override {
    WriteTextFile(ToPosixForm(Path), "wb", Lines);
  }
  std::string WriteBeside(const std::string &Path, const std::string &Lines) override {
    // mkstemp creates its file with O_EXCL, so a link planted at the name is never followed.
    constexpr std::string_view kSuffix = ".XXXXXX";
    std::string name = ToPosixForm(Path) + std::string(kSuffix);
    ScopedFd file(::mkstemp(name.data()));
    if (!file)
      throw RuntimeError("Cannot create a file beside " + Path + ": " + ErrnoText());
    struct stat old;
    if (::stat(ToPosixForm(Path).c_str(), &old) == 0)
      ::fchmod(file.get(), old.st_mode & 07777);
    const bool whole = WriteAll(file.get(), Lines.data(), Lines.size()) && ::fsync(file.get()) == 0;
    if (!whole || ::close(file.release()) != 0) {
      const std::string reason = ErrnoText();
      ::unlink(name.c_str());
      throw RuntimeError("Cannot write " + Path + ": " + reason);
    }
    // The suffix mkstemp chose is letters and digits, the same in the search's form.
    return Path + name.substr(name.size() - kSuffix.size());
  }
  std::int32_t MoveFileA(const std::string &Existing, const std::string &NewName) override {
    // Like MoveFileA, never over a name that is taken.
    return ::renameat2(AT_FDCWD, ToPosixForm(Existing).c_str(), AT_FDCWD,
                       ToPosixForm(NewName).c_str(), RENAME_NOREPLACE) == 0;
  }
  std::int32_t DeleteFileA(const std::string &Path) override {
    return ::unlink(ToPosixForm(Path).c_str()) == 0;
  }
  std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                 std::uint64_t &Length, bool &Created) override {
    return vorse::OpenAppendFile(ToPosixForm(Path), File, Length, Created);
  }
  std::error_code LastError() override { return {errno, std::generic_category()}; }

  // POSIX keeps no name from being renamed while it is open: the descriptor only stands in for
  // the hold.
  std::intptr_t HoldFolder(const std::string &Path) override {
    return ::open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  void ReleaseFolder(std::intptr_t Hold) override { ::close(static_cast<int>(Hold)); }
  // A file without any write permission stands for a read-only one.
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    struct stat own;
    struct stat info;
    if (::lstat(Path.c_str(), &own) != 0 || ::stat(Path.c_str(), &info) != 0)
      return kInvalidFileAttributes;
    // A link reports what it leads to, marked as a link, as on Windows.
    const std::uint32_t link = S_ISLNK(own.st_mode) ? kFileAttributeReparsePoint : 0;
    const std::uint32_t directory = S_ISDIR(info.st_mode) ? kFileAttributeDirectory : 0;
    const std::uint32_t readOnly = (info.st_mode & 0222) == 0 ? kFileAttributeReadOnly : 0;
    return link | directory | readOnly;
  }
  std::int32_t SetFileAttributesA(const std::string &Path, std::uint32_t Attributes) override {
    struct stat info;
    if (::stat(Path.c_str(), &info) != 0)
      return 0;
    const mode_t writable = (Attributes & kFileAttributeReadOnly) != 0 ? 0 : S_IWUSR;
    return ::chmod(Path.c_str(), (info.st_mode & 07555) | writable) == 0;
  }
  std::string RealLocation(const std::string &Path) override { return Path; }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &Path) override {
    return vorse::IdentifyDirectory(Path);
  }
  // POSIX has no access lists to read here; a folder of its own is one that only its owner may
  // enter.
  std::int32_t CreatePrivateDirectory(const std::string &Path) override {
    return ::mkdir(ToPosixForm(Path).c_str(), 0700) == 0;
  }
  std::optional<FolderSecurity> ReadFolderSecurity(const std::string &) override {
    errno = ENOSYS;
    return std::nullopt;
  }
  std::string CurrentUserSid() override { return {}; }
  std::intptr_t OpenFileToMove(const std::string &Path) override {
    return ::open(ToPosixForm(Path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  std::int64_t ReadOpenFile(std::intptr_t File, std::uint64_t Offset,
                            std::span<std::byte> Out) override {
    return ReadAt(static_cast<int>(File), Offset, Out);
  }
  // A rename by descriptor needs the entry's folder and name, which a descriptor does not give.
  std::int32_t MoveIntoFolder(std::intptr_t, std::intptr_t, const std::string &) override {
    errno = ENOSYS;
    return 0;
  }
  void CloseFile(std::intptr_t File) override { ::close(static_cast<int>(File)); }
  bool MeansNameTaken(std::error_code Error) override { return Error == std::errc::file_exists; }
  bool MeansNothingThere(std::error_code Error) override { return vorse::MeansNothingThere(Error); }
  bool MeansNoMoreFiles(std::error_code Error) override { return vorse::MeansNoMoreFiles(Error); }
  // Each entry is opened relative to its held directory, under its very name.
  bool NarrowCallsRewrite(std::string_view) override { return false; }
  bool MeansNoVersionResource(std::error_code Error) override {
    return vorse::MeansNoVersionResource(Error);
  }

private:
  static std::int64_t ReadAt(int File, std::uint64_t Offset, std::span<std::byte> Out) {
    for (;;) {
      const ssize_t read = ::pread(File, Out.data(), Out.size(), static_cast<off_t>(Offset));
      if (read < 0 && errno == EINTR)
        continue;
      return read;
    }
  }
  static std::string ErrnoText() { return std::generic_category().message(errno); }
  static std::uint32_t Unsupported() {
    errno = ENOSYS;
    return 0;
  }
};

} // namespace

AppOs &PlatformAppOs() {
  static PosixAppOs os;
  return os;
}

} // namespace vorse
