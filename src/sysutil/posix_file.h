// Plain-descriptor file helpers shared by the POSIX bodies of the app and scanner seams.
#pragma once

#include <cstddef>
#include <string>

namespace vorse {

/// Owns a file descriptor and closes it at scope end, keeping errno as it was.
class ScopedFd {
public:
  explicit ScopedFd(int Fd = -1) : fd_(Fd) {}
  ScopedFd(ScopedFd &&Other) noexcept : fd_(Other.release()) {}
  /// Closes the descriptor held before.
  ScopedFd &operator=(ScopedFd &&Other) noexcept;
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

/// A path that the *at calls reach whatever its length: Dir() and Name() name the same entry
/// as the path. A path the system takes at once is used as it is (Dir() is AT_FDCWD); a longer
/// one is walked to the directory that holds its last name one directory at a time, following
/// links on the way as a lookup of the whole path would.
class PathAt {
public:
  explicit PathAt(const std::string &Path);
  /// False, with errno set, when a directory on the way could not be opened.
  explicit operator bool() const { return reached_; }
  int Dir() const;
  const char *Name() const { return name_.c_str(); }

private:
  ScopedFd holder_;
  std::string name_;
  bool reached_ = true;
};

/// Opens \p Path read-only, but only a regular file: anything else (a named pipe, a device, a
/// directory) fails with errno EOPNOTSUPP. Never waits on a named pipe with no writer. \p Path
/// may be longer than the system's path limit.
ScopedFd OpenRegularFd(const std::string &Path, AtLink Link = AtLink::Follow);

/// OpenRegularFd for the entry \p Name of the open directory \p Dir.
ScopedFd OpenRegularFdAt(int Dir, const char *Name, AtLink Link = AtLink::Follow);

/// Writes all of [Data, Data + Size) to \p Fd; false, with errno set, on a failed write.
bool WriteAll(int Fd, const char *Data, std::size_t Size);

/// Copies every byte from the current position of \p From to \p To; false, with errno set, on
/// a failed read or write.
bool CopyContents(int From, int To);

} // namespace vorse
