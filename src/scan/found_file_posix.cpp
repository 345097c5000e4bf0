// FoundFile for POSIX: the entry's name in a directory held open, and the file opened there.
#include "scan/found_file.h"
#include "sysutil/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vorse {
namespace {

DirectoryId IdOf(const struct stat &Status) {
  return {static_cast<std::uint64_t>(Status.st_dev), static_cast<std::uint64_t>(Status.st_ino)};
}

std::error_code Errno() {
  return {errno != 0 ? errno : EIO, std::generic_category()};
}

class PosixFoundFile final : public FoundFile {
public:
  PosixFoundFile(ScopedFd Dir, std::string Name, ScopedFd File, const struct stat &Status)
      : FoundFile(static_cast<std::uint64_t>(Status.st_size)), dir_(std::move(Dir)),
        name_(std::move(Name)), file_(std::move(File)), id_(IdOf(Status)) {}

  DirectoryId Id() const override { return id_; }
  const std::string &Name() const override { return name_; }
  std::optional<DirectoryId> FolderId() override {
    struct stat status {};
    if (fstat(dir_.get(), &status) != 0)
      return std::nullopt;
    return IdOf(status);
  }
  std::error_code ReadAt(std::uint64_t Offset, std::span<std::byte> Out,
                         std::size_t &Got) override {
    ssize_t got = -1;
    do {
      errno = 0;
      got = pread(file_.get(), Out.data(), Out.size(), static_cast<off_t>(Offset));
    } while (got < 0 && errno == EINTR);
    if (got < 0)
      return Errno();
    Got = static_cast<std::size_t>(got);
    return {};
  }
  std::error_code Remove() override {
    // Another file put under the name since, a link included, is not this one to remove.
    struct stat status {};
    errno = 0;
    if (fstatat(dir_.get(), name_.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT ? FoundFileReplaced() : Errno();
    if (IdOf(status) != id_)
      return FoundFileReplaced();
    if (unlinkat(dir_.get(), name_.c_str(), 0) != 0)
      return Errno();
    return {};
  }

private:
  ScopedFd dir_;
  std::string name_;
  ScopedFd file_;
  DirectoryId id_;
};

} // namespace

std::error_code HoldFileAt(int Dir, const char *Name, std::unique_ptr<FoundFile> &Found) {
  errno = 0;
  // A directory of its own: the scan's may move on to other directories meanwhile.
  ScopedFd dir(fcntl(Dir, F_DUPFD_CLOEXEC, 0));
  if (!dir)
    return Errno();
  ScopedFd file = OpenRegularFdAt(dir.get(), Name, AtLink::Refuse);
  struct stat status {};
  if (!file || fstat(file.get(), &status) != 0)
    return Errno();
  Found = std::make_unique<PosixFoundFile>(std::move(dir), Name, std::move(file), status);
  return {};
}

} // namespace vorse
