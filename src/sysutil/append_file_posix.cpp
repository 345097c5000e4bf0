// AppendFile for POSIX: O_APPEND writes on a descriptor opened without following links.
#include "sysutil/append_file.h"

#include "sysutil/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vorse {
namespace {

std::error_code Errno() {
  return {errno != 0 ? errno : EIO, std::generic_category()};
}

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
      return Errno();
    Written = static_cast<std::size_t>(wrote);
    if (Written == Data.size() && fsync(fd_.get()) != 0)
      return Errno();
    return {};
  }
  std::error_code Truncate(std::uint64_t Length) override {
    if (ftruncate(fd_.get(), static_cast<off_t>(Length)) != 0)
      return Errno();
    return {};
  }

private:
  ScopedFd fd_;
};

} // namespace

std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                               std::uint64_t &Length, bool &Created) {
  // O_NONBLOCK: a named pipe planted there fails at once instead of waiting for a reader.
  constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  errno = 0;
  const int created = open(Path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
  Created = created >= 0;
  ScopedFd fd(Created || errno != EEXIST ? created : open(Path.c_str(), kFlags));
  struct stat status {};
  if (!fd || fstat(fd.get(), &status) != 0)
    return Errno();
  if (!S_ISREG(status.st_mode))
    return std::make_error_code(std::errc::operation_not_supported);
  Length = static_cast<std::uint64_t>(status.st_size);
  File = std::make_unique<PosixAppendFile>(std::move(fd));
  return {};
}

} // namespace vorse
