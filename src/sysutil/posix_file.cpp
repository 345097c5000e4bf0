// Plain-descriptor file helpers over open, read and write.
#include "sysutil/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>

namespace vorse {
namespace {

/// Writes all of [Data, Data + Size) to \p Fd; false on a failed write.
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

} // namespace

ScopedFd::~ScopedFd() {
  if (fd_ < 0)
    return;
  const int saved = errno;
  ::close(fd_);
  errno = saved;
}

ScopedFd OpenRegularFd(const std::string &Path, AtLink Link) {
  // O_NONBLOCK: opening a named pipe with no writer would otherwise wait forever, and a tree
  // can hold one under any name. Regular files read the same either way.
  const int noFollow = Link == AtLink::Refuse ? O_NOFOLLOW : 0;
  ScopedFd fd(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | noFollow));
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

} // namespace vorse
