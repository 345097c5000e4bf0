// CliOs for POSIX: generic POSIX code only.
#include "cli/cli_os.h"
#include "cli/stdio_file.h"
#include "scan/scan_errors.h"
#include "sysutil/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vorse {
namespace {

class PosixCliOs final : public CliOs {
public:
  // The search joins names with "\"; a POSIX name holding "\" itself cannot be reached by it.
  std::string NativePath(const std::string &SearchPath) override {
    std::string native = SearchPath;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
  }
  std::vector<std::string> DefaultRoots() override { return {}; }
  bool StderrIsTerminal() override { return isatty(STDERR_FILENO) == 1; }
  bool MeansNothingThere(std::error_code Error) override { return vorse::MeansNothingThere(Error); }
  bool MeansNoVersionResource(std::error_code Error) override {
    return vorse::MeansNoVersionResource(Error);
  }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &SearchPath) override {
    return vorse::IdentifyDirectory(SearchPath);
  }
  bool Exists(const std::string &Path) override {
    struct stat status {};
    return lstat(Path.c_str(), &status) == 0;
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
    // O_EXCL: an entry that appeared since the name was chosen is never overwritten. The copy
    // is kept from being run by anyone but its owner.
    ScopedFd to(open(Target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!to)
      return StreamError();
    std::error_code error;
    if (!CopyContents(from.get(), to.get()) || fchmod(to.get(), 0600) != 0 || fsync(to.get()) != 0)
      error = StreamError();
    if (close(to.release()) != 0 && !error)
      error = StreamError();
    if (error)
      unlink(Target.c_str());
    return error;
  }
  std::error_code RemoveFile(const std::string &Path, RemoveOutcome &Outcome) override {
    if (unlink(Path.c_str()) != 0)
      return StreamError();
    Outcome = RemoveOutcome::Removed;
    return {};
  }
  std::string ToUtf8(const std::string &Text) override { return Text; }
};

} // namespace

CliOs &PlatformCliOs() {
  static PosixCliOs os;
  return os;
}

} // namespace vorse
