// CliOs for POSIX: generic POSIX code only.
#include "cli/cli_os.h"
#include "cli/stdio_file.h"
#include "scan/scan_errors.h"
#include "sysutil/posix_file.h"
#include "sysutil/posix_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace vorse {
namespace {

class PosixAppendFile final : public AppendFile {
public:
  explicit PosixAppendFile(ScopedFd Fd) : fd_(std::move(Fd)) {}
  std::error_code Append(std::string_view Data, std::size_t &Written) override {
    Written = 0;
    ssize_t wrote = -1;
    // One write: with O_APPEND the record lands whole at the end, or the part that fitted.
    do {
      errno = 0;
      wrote = write(fd_.get(), Data.data(), Data.size());
    } while (wrote < 0 && errno == EINTR);
    if (wrote < 0)
      return StreamError();
    Written = static_cast<std::size_t>(wrote);
    if (Written == Data.size() && fsync(fd_.get()) != 0)
      return StreamError();
    return {};
  }
  std::error_code Truncate(std::uint64_t Length) override {
    if (ftruncate(fd_.get(), static_cast<off_t>(Length)) != 0)
      return StreamError();
    return {};
  }

private:
  ScopedFd fd_;
};

class PosixCliOs final : public CliOs {
public:
  // Paths of any length are reached: each call below goes through PathAt.
  std::string NativePath(const std::string &SearchPath) override { return ToPosixForm(SearchPath); }
  std::string SearchForm(const std::string &NativePath) override {
    return ToSearchForm(NativePath);
  }
  std::size_t PathLimit() override { return 0; }
  std::vector<std::string> DefaultRoots() override { return {}; }
  bool StderrIsTerminal() override { return isatty(STDERR_FILENO) == 1; }
  bool StdoutIsOpen() override { return fcntl(STDOUT_FILENO, F_GETFD) != -1; }
  bool MeansNothingThere(std::error_code Error) override { return vorse::MeansNothingThere(Error); }
  bool MeansNoMoreFiles(std::error_code Error) override { return vorse::MeansNoMoreFiles(Error); }
  // Each entry is opened relative to its held directory, under its very name.
  bool NarrowCallsRewrite(std::string_view) override { return false; }
  bool MeansNoVersionResource(std::error_code Error) override {
    return vorse::MeansNoVersionResource(Error);
  }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &SearchPath) override {
    return vorse::IdentifyDirectory(SearchPath);
  }
  bool Exists(const std::string &Path) override {
    const PathAt at(Path);
    struct stat status {};
    return at && fstatat(at.Dir(), at.Name(), &status, AT_SYMLINK_NOFOLLOW) == 0;
  }
  std::error_code CreateDirectories(const std::string &Path) override {
    for (std::size_t end = Path.find('/', 1);; end = Path.find('/', end + 1)) {
      const std::string part = Path.substr(0, end);
      if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
        return StreamError();
      if (end == std::string::npos)
        break;
    }
    struct stat status {};
    if (stat(Path.c_str(), &status) != 0)
      return StreamError();
    return S_ISDIR(status.st_mode) ? std::error_code()
                                   : std::make_error_code(std::errc::not_a_directory);
  }
  std::error_code CopyToNewFile(const std::string &Source, const std::string &Target) override {
    errno = 0;
    const ScopedFd from = OpenRegularFd(Source);
    if (!from)
      return StreamError();
    // O_EXCL: an entry that appeared since the name was chosen, a link included, is never
    // overwritten or written through. The copy is kept from being run by anyone but its owner.
    const PathAt target(Target);
    ScopedFd to(target ? openat(target.Dir(), target.Name(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                       : -1);
    if (!to)
      return StreamError();
    std::error_code error;
    if (!CopyContents(from.get(), to.get()) || fchmod(to.get(), 0600) != 0 || fsync(to.get()) != 0)
      error = StreamError();
    if (close(to.release()) != 0 && !error)
      error = StreamError();
    if (error)
      unlinkat(target.Dir(), target.Name(), 0);
    return error;
  }
  std::error_code OpenEntryToRead(const std::string &Path, StdioFile &File) override {
    errno = 0;
    File = ReadStream(OpenRegularFd(Path, AtLink::Refuse));
    return File ? std::error_code() : StreamError();
  }
  std::optional<FileId> IdentifyFile(std::FILE *File) override {
    struct stat status {};
    if (fstat(fileno(File), &status) != 0)
      return std::nullopt;
    return FileId{static_cast<std::uint64_t>(status.st_dev),
                  static_cast<std::uint64_t>(status.st_ino)};
  }
  std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                 std::uint64_t &Length, bool &Created) override {
    // O_NONBLOCK: a named pipe planted there fails at once instead of waiting for a reader.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    const int created = open(Path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    Created = created >= 0;
    ScopedFd fd(Created || errno != EEXIST ? created : open(Path.c_str(), kFlags));
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0)
      return StreamError();
    if (!S_ISREG(status.st_mode))
      return std::make_error_code(std::errc::operation_not_supported);
    Length = static_cast<std::uint64_t>(status.st_size);
    File = std::make_unique<PosixAppendFile>(std::move(fd));
    return {};
  }
  std::error_code RemoveFile(const std::string &Path, RemoveOutcome &Outcome) override {
    const PathAt at(Path);
    if (!at || unlinkat(at.Dir(), at.Name(), 0) != 0)
      return StreamError();
    Outcome = RemoveOutcome::Removed;
    return {};
  }
  std::string AbsolutePath(const std::string &Path) override {
    std::string cwd;
    if (!Path.starts_with('/')) {
      cwd.assign(PATH_MAX, '\0');
      while (getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE)
          return Path;
        cwd.resize(cwd.size() * 2);
      }
      cwd.resize(cwd.find('\0'));
    }
    // "." and empty parts name nothing; ".." stays, as only the file system knows where it
    // leads when a link stands before it.
    std::string absolute;
    const std::string joined = cwd + "/" + Path;
    for (std::size_t start = 0; start <= joined.size();) {
      std::size_t end = joined.find('/', start);
      end = end == std::string::npos ? joined.size() : end;
      const std::string_view part = std::string_view(joined).substr(start, end - start);
      if (!part.empty() && part != ".")
        (absolute += '/') += part;
      start = end + 1;
    }
    return absolute.empty() ? "/" : absolute;
  }
  bool SamePath(const std::string &A, const std::string &B) override { return A == B; }
  std::error_code CancelDeleteAtRestart(const std::string &, bool &Withdrawn) override {
    Withdrawn = false;
    return {};
  }
  std::chrono::system_clock::time_point WallClock() override {
    return std::chrono::system_clock::now();
  }
  std::string HostName() override {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
      return {};
    return name;
  }
  std::string ToUtf8(const std::string &Text) override { return Text; }
};

} // namespace

CliOs &PlatformCliOs() {
  static PosixCliOs os;
  return os;
}

} // namespace vorse
