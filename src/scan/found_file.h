// FoundFile: a file the scan examined, held open for what is done with it afterwards.
#pragma once

#include "scan/pe_locate.h"
#include "sysutil/file_location.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>

namespace vorse {

/// A file the scan examined, held open: reading, copying and removing it reach this very file,
/// whatever has become since of the path that led to it. On POSIX it is the entry's name in
/// the directory the scan held open while reading it, and the file opened there without
/// following a link; on Windows the file opened by its path without following a reparse point.
class FoundFile : public ByteSource {
public:
  /// Which file is held: the device and inode, or the volume serial and file index.
  virtual DirectoryId Id() const = 0;
  /// The entry's name in its directory, in the system's own form.
  virtual const std::string &Name() const = 0;
  /// Which directory holds the entry; nothing when that cannot be told.
  virtual std::optional<DirectoryId> FolderId() = 0;
  /// Reads up to Out.size() bytes at \p Offset; \p Got is 0 at the end of the file.
  virtual std::error_code ReadAt(std::uint64_t Offset, std::span<std::byte> Out,
                                 std::size_t &Got) = 0;
  /// Removes the file at once. On POSIX the entry is removed from the held directory only while
  /// it still names this file (else FoundFileReplaced()); on Windows the file is deleted through
  /// its handle, its read-only bit cleared first, as the file is going away.
  virtual std::error_code Remove() = 0;

  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t Offset, std::span<std::byte> Out) override;

protected:
  explicit FoundFile(std::uint64_t Size) : size_(Size) {}

private:
  std::uint64_t size_;
};

/// The reason for leaving alone a file whose entry no longer names the file examined.
std::error_code FoundFileReplaced();

#ifdef _WIN32
/// Holds the regular file at \p Path, never through a reparse point at \p Path itself.
std::error_code HoldFile(const std::string &Path, std::unique_ptr<FoundFile> &Found);
#else
/// Holds the regular file \p Name of the open directory \p Dir, never through a link there.
std::error_code HoldFileAt(int Dir, const char *Name, std::unique_ptr<FoundFile> &Found);
#endif

} // namespace vorse
