// Plain-descriptor file helpers over open, read and write, and directory identities.
#include "sysutil/posix_file.h"
#include "sysutil/file_location.h"
#include "sysutil/posix_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>

namespace vorse {
bool WriteAll(int Fd, const char *Data, std::size_t Size) {
  while (Size > 0) {
    const ssize_t written = ::write(Fd, Data, Size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written == 0)
      errno = EIO;
    if (written <= 0)
      return false;
    Data += written;
    Size -= static_cast<std::size_t>(written);
  }
  return true;
}

ScopedFd::~ScopedFd() {
  if (fd_ < 0)
    return;
  const int saved = errno;
  ::close(fd_);
  errno = saved;
}

ScopedFd &ScopedFd::operator=(ScopedFd &&Other) noexcept {
  if (this != &Other) {
    ScopedFd old(fd_);
    fd_ = Other.release();
  }
  return *this;
}

PathAt::PathAt(const std::string &Path) : name_(Path) {
  if (Path.size() < PATH_MAX)
    return;
  // The last name, without the separators that may end the path.
  const std::size_t end = name_.find_last_not_of('/') + 1;
  const std::size_t start = name_.rfind('/', end - 1) + 1;
  name_ = Path.substr(start, end - start);
  holder_ = ScopedFd(::open(Path.starts_with('/') ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (std::size_t at = 0; holder_ && at < start;) {
    const std::size_t slash = Path.find('/', at);
    const std::string part = Path.substr(at, slash - at);
    at = slash + 1;
    if (!part.empty())
      holder_ = ScopedFd(::openat(holder_.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  reached_ = static_cast<bool>(holder_);
}

int PathAt::Dir() const {
  return holder_ ? holder_.get() : AT_FDCWD;
}

ScopedFd OpenRegularFd(const std::string &Path, AtLink Link) {
  const PathAt at(Path);
  return at ? OpenRegularFdAt(at.Dir(), at.Name(), Link) : ScopedFd();
}

ScopedFd OpenRegularFdAt(int Dir, const char *Name, AtLink Link) {
  // O_NONBLOCK: opening a named pipe with no writer would otherwise wait forever, and a tree
  // can hold one under any name. Regular files read the same either way.
  const int noFollow = Link == AtLink::Refuse ? O_NOFOLLOW : 0;
  ScopedFd fd(::openat(Dir, Name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow));
  if (!fd)
    return fd;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0)
    return ScopedFd();
  if (!S_ISREG(status.st_mode)) {
    errno = EOPNOTSUPP;
    return ScopedFd();
  }
  return fd;
}

bool CopyContents(int From, int To) {
  std::array<char, 64 * 1024> buffer;
  for (;;) {
    const ssize_t got = ::read(From, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return false;
    if (got == 0)
      return true;
    if (!WriteAll(To, buffer.data(), static_cast<std::size_t>(got)))
      return false;
  }
}

std::optional<DirectoryId> IdentifyDirectory(const std::string &Path) {
  const PathAt at(ToPosixForm(Path));
  struct stat status {};
  if (!at || ::fstatat(at.Dir(), at.Name(), &status, 0) != 0 || !S_ISDIR(status.st_mode))
    return std::nullopt;
  return DirectoryId{static_cast<std::uint64_t>(status.st_dev),
                     static_cast<std::uint64_t>(status.st_ino)};
}

} // namespace vorse
