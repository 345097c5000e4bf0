// A file's bytes for the version reader on POSIX: pread on a descriptor, or reads already made.
#pragma once

#include "pe_locate.h"
#include "sysutil/posix_file.h"

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vorse {

/// The reads of one file made before its walk asked for them (by a batch of many files, whose
/// reads go to the system together), and the first read the walk asked for that they lack.
struct ReadsAhead {
  struct Read {
    std::uint64_t offset;
    /// What the system returned for a read at offset, in the first length bytes of data: fewer
    /// bytes than were asked for where the file ended or the read stopped short, none at the
    /// end of the file. Past length, data holds nothing meaningful: it is made uncleared, for the
    /// system to fill.
    std::unique_ptr<std::byte[]> data;
    std::size_t length;
  };
  struct Range {
    std::uint64_t offset;
    std::size_t length;
  };

  std::vector<Read> reads;
  /// Whether a read that none of reads answers fails, and is kept in missed, instead of going to
  /// the file.
  bool onlyThese = false;
  std::optional<Range> missed;

  /// The read made at \p Offset, or null.
  const Read *At(std::uint64_t Offset) const;
};

/// A file read with pread, which needs no seek and no buffer of its own. Only a regular file
/// shows any bytes: anything else (a named pipe, a device, a directory) reads as empty.
class FileSource final : public ByteSource {
public:
  // O_NONBLOCK: opening a named pipe with no writer, or some devices, would otherwise wait
  // forever, and a tree can hold one under any name. It changes nothing for regular files.
  /// The flags a file is opened with; where the directory's listing called it a regular file,
  /// links are not followed either (kListedRegularFlags).
  static constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  static constexpr int kListedRegularFlags = kOpenFlags | O_NOFOLLOW;

  /// Opens the entry \p Name of the open directory \p Dir. A file the listing called regular
  /// (\p ListedRegular) is taken as one without asking the system again: should a named pipe
  /// have taken its place since, it was opened without waiting and pread refuses it. Its length
  /// is then learnt from the reads themselves.
  FileSource(int Dir, const char *Name, bool ListedRegular);
  /// A file already open as \p Fd (with kListedRegularFlags), which stays the caller's. Reads
  /// that \p Ahead holds are taken from it, others from the file unless it says otherwise.
  FileSource(int Fd, ReadsAhead &Ahead);

  bool IsOpen() const { return fd_ >= 0; }
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t Offset, std::span<std::byte> Out) override;
  std::size_t ReadUpTo(std::uint64_t Offset, std::span<std::byte> Out) override;

private:
  static constexpr std::uint64_t kUnknownSize = std::numeric_limits<std::int64_t>::max();

  /// One read of up to Out.size() bytes at \p Offset, as pread answers.
  ssize_t ReadOnce(std::uint64_t Offset, std::span<std::byte> Out);

  ScopedFd owned_;
  int fd_;
  ReadsAhead *ahead_ = nullptr;
  std::uint64_t size_ = 0;
};

} // namespace vorse
