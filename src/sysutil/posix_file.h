// Plain-descriptor file helpers shared by the POSIX bodies of the app and scanner seams.
#pragma once

#include <string>

namespace vorse {

/// Owns a file descriptor and closes it at scope end, keeping errno as it was.
class ScopedFd {
public:
  explicit ScopedFd(int Fd = -1) : fd_(Fd) {}
  ScopedFd(ScopedFd &&Other) noexcept : fd_(Other.release()) {}
  ScopedFd &operator=(ScopedFd &&) = delete;
  ScopedFd(const ScopedFd &) = delete;
  ScopedFd &operator=(const ScopedFd &) = delete;
  ~ScopedFd();

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  /// Gives up ownership: the caller closes the descriptor.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_;
};

/// Whether a link at the path itself is followed or refused (errno ELOOP).
enum class AtLink { Follow, Refuse };

/// Opens \p Path read-only, but only a regular file: anything else (a named pipe, a device, a
/// directory) fails with errno EOPNOTSUPP. Never waits on a named pipe with no writer.
ScopedFd OpenRegularFd(const std::string &Path, AtLink Link = AtLink::Follow);

/// Copies every byte from the current position of \p From to \p To; false, with errno set, on
/// a failed read or write.
bool CopyContents(int From, int To);

} // namespace vorse
