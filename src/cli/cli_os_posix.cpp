// CliOs for POSIX: generic POSIX code only.
#include "cli/cli_os.h"
#include "cli/stdio_file.h"
#include "scan/scan_errors.h"
#include "sysutil/posix_file.h"
#include "sysutil/posix_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <vector>

namespace vorse {
namespace {

/// Root's or the invoking user's, and changeable by nobody else: \p Status's owner and mode.
std::error_code Trust(const struct stat &Status) {
  if (Status.st_uid != 0 && Status.st_uid != getuid())
    return Untrusted::OwnedByAnother;
  if ((Status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return Untrusted::WritableByOthers;
  return {};
}

class PosixNewFile final : public NewFile {
public:
  PosixNewFile(int Dir, std::string Name, ScopedFd Fd)
      : dir_(Dir), name_(std::move(Name)), fd_(std::move(Fd)) {}
  std::error_code Fill(std::FILE *From) override {
    errno = 0;
    if (!CopyContents(fileno(From), fd_.get()) || fsync(fd_.get()) != 0)
      return StreamError();
    return {};
  }
  std::error_code ReadBack(StdioFile &File) override {
    errno = 0;
    // Read through a description of its own, from the start, not by its name.
    ScopedFd fd(dup(fd_.get()));
    if (!fd || lseek(fd.get(), 0, SEEK_SET) != 0)
      return StreamError();
    File = ReadStream(std::move(fd));
    return File ? std::error_code() : StreamError();
  }
  std::error_code Discard() override {
    struct stat made {};
    struct stat named {};
    if (ftruncate(fd_.get(), 0) != 0 || fstat(fd_.get(), &made) != 0)
      return StreamError();
    // The name goes only while it still leads to this file.
    if (fstatat(dir_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == made.st_dev && named.st_ino == made.st_ino &&
        unlinkat(dir_, name_.c_str(), 0) != 0)
      return StreamError();
    return {};
  }

private:
  int dir_;
  std::string name_;
  ScopedFd fd_;
};

class PosixHeldFolder final : public HeldFolder {
public:
  explicit PosixHeldFolder(ScopedFd Dir) : dir_(std::move(Dir)) {}
  std::error_code OpenEntry(const std::string &Name, StdioFile &File) override {
    errno = 0;
    ScopedFd fd = OpenRegularFdAt(dir_.get(), Name.c_str(), AtLink::Refuse);
    struct stat status {};
    if (!fd || fstat(fd.get(), &status) != 0)
      return StreamError();
    if (const std::error_code error = Trust(status))
      return error;
    File = ReadStream(std::move(fd));
    return File ? std::error_code() : StreamError();
  }
  std::error_code CreateEntry(const std::string &Name, std::unique_ptr<NewFile> &File,
                              bool &Existed) override {
    // O_EXCL: an entry there, a link included, is never written over or through.
    ScopedFd fd(
        openat(dir_.get(), Name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    Existed = !fd && errno == EEXIST;
    if (!fd)
      return StreamError();
    File = std::make_unique<PosixNewFile>(dir_.get(), Name, std::move(fd));
    return {};
  }

private:
  ScopedFd dir_;
};

/// The parts of \p Path between its slashes, empty ones and "." left out.
std::vector<std::string> PathParts(const std::string &Path) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= Path.size();) {
    std::size_t end = Path.find('/', start);
    end = end == std::string::npos ? Path.size() : end;
    if (end > start && Path.compare(start, end - start, ".") != 0)
      parts.push_back(Path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

/// The target of the link \p Name in \p Dir.
std::error_code ReadLink(int Dir, const std::string &Name, std::string &Target) {
  for (std::size_t size = 256;; size *= 2) {
    Target.assign(size, '\0');
    const ssize_t got = readlinkat(Dir, Name.c_str(), Target.data(), size);
    if (got < 0)
      return StreamError();
    if (static_cast<std::size_t>(got) < size) {
      Target.resize(static_cast<std::size_t>(got));
      return {};
    }
  }
}

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
    return CreateNewFile(Target, [&](int To) { return CopyContents(from.get(), To); });
  }
  std::error_code CopyFoundToNewFile(FoundFile &Source, const std::string &Target) override {
    return CreateNewFile(Target, [&](int To) {
      std::array<std::byte, 64 * 1024> buffer;
      for (std::uint64_t offset = 0;;) {
        std::size_t got = 0;
        if (const std::error_code error = Source.ReadAt(offset, buffer, got)) {
          errno = error.value();
          return false;
        }
        if (got == 0)
          return true;
        if (!WriteAll(To, reinterpret_cast<const char *>(buffer.data()), got))
          return false;
        offset += got;
      }
    });
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
    return vorse::OpenAppendFile(Path, File, Length, Created);
  }
  std::error_code RemoveFound(FoundFile &File, const std::string &, std::string &) override {
    return File.Remove();
  }
  std::error_code DeleteAtRestart(const std::string &) override {
    return std::make_error_code(std::errc::function_not_supported);
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
  std::error_code CancelDeleteAtRestart(const std::string &, const std::string &,
                                        bool &Withdrawn) override {
    Withdrawn = false;
    return {};
  }
  std::error_code OpenQuarantineFolder(const std::string &Path,
                                       std::unique_ptr<HeldFolder> &Folder) override {
    errno = 0;
    ScopedFd dir(open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!dir || fstat(dir.get(), &status) != 0)
      return StreamError();
    if (const std::error_code error = Trust(status))
      return error;
    Folder = std::make_unique<PosixHeldFolder>(std::move(dir));
    return {};
  }
  std::error_code OpenFolderOf(const std::string &Path, std::unique_ptr<HeldFolder> &Folder,
                               std::string &Name) override {
    // Walked one folder at a time from the root, each held open and entered without following
    // a link; a link is followed only when its owner and its folder are trusted, as the
    // kernel's protected_symlinks reasons for sticky folders.
    std::vector<std::string> parts = PathParts(Path);
    if (!Path.starts_with('/') || parts.empty() || parts.back() == "..")
      return std::make_error_code(std::errc::invalid_argument);
    Name = parts.back();
    parts.pop_back();
    std::reverse(parts.begin(), parts.end());
    errno = 0;
    ScopedFd dir(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int links = 0; dir && !parts.empty();) {
      const std::string part = std::move(parts.back());
      parts.pop_back();
      struct stat entry {};
      struct stat folder {};
      if (fstatat(dir.get(), part.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return StreamError();
      if (!S_ISLNK(entry.st_mode)) {
        dir = ScopedFd(
            openat(dir.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        continue;
      }
      if (++links > 40)
        return std::make_error_code(std::errc::too_many_symbolic_link_levels);
      if (fstat(dir.get(), &folder) != 0)
        return StreamError();
      if (Trust(entry) == Untrusted::OwnedByAnother || Trust(folder))
        return Untrusted::LinkOfAnother;
      std::string target;
      if (const std::error_code error = ReadLink(dir.get(), part, target))
        return error;
      std::vector<std::string> through = PathParts(target);
      parts.insert(parts.end(), through.rbegin(), through.rend());
      if (target.starts_with('/'))
        dir = ScopedFd(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!dir)
      return StreamError();
    Folder = std::make_unique<PosixHeldFolder>(std::move(dir));
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

private:
  /// Creates \p Target, which must not exist yet, not even as a link, and has \p Fill write
  /// it (false, with errno set, on a failure); what was made is removed again on any failure.
  template <typename Filler>
  static std::error_code CreateNewFile(const std::string &Target, Filler Fill) {
    // O_EXCL: an entry that appeared since the name was chosen, a link included, is never
    // overwritten or written through. The copy is kept from being run by anyone but its owner.
    const PathAt target(Target);
    ScopedFd to(target ? openat(target.Dir(), target.Name(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                       : -1);
    if (!to)
      return StreamError();
    std::error_code error;
    if (!Fill(to.get()) || fchmod(to.get(), 0600) != 0 || fsync(to.get()) != 0)
      error = StreamError();
    if (close(to.release()) != 0 && !error)
      error = StreamError();
    if (error)
      unlinkat(target.Dir(), target.Name(), 0);
    return error;
  }
};

} // namespace

CliOs &PlatformCliOs() {
  static PosixCliOs os;
  return os;
}

std::vector<std::string> ProgramArguments(int Argc, char **Argv) {
  return {Argv + (Argc > 0 ? 1 : 0), Argv + Argc};
}

bool WriteToConsole(std::FILE *, std::string_view) {
  return false;
}

} // namespace vorse
