// The platform operations of the file search and the version-resource reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

namespace vorse {

class FoundFile;

inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
/// What GetFileAttributesA returns when an entry cannot be examined: all bits set.
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

/// The size of the record's name field: room for a name of up to 255 units at three bytes each,
/// which a Windows name in UTF-8 (vorsescan.exe's wide calls) or a POSIX name written as the
/// search writes it (scan_os_posix.cpp) may take.
inline constexpr std::size_t kFindNameSize = 3 * 255 + 1;

/// The WIN32_FIND_DATA record, as far as the search reads it, its name narrow: the fixed name
/// field, cut at its first NUL by StripNulls. dwFileAttributes is the type the enumeration
/// reported, or kInvalidFileAttributes where it reported none.
struct FindData {
  std::uint32_t dwFileAttributes = 0;
  char cFileName[kFindNameSize] = {};
};

/// A directory-search handle; kInvalidFindHandle (INVALID_HANDLE_VALUE) when a search fails.
using FindHandle = std::intptr_t;
inline constexpr FindHandle kInvalidFindHandle = -1;

/// The seam of the scan subsystem. Each method forwards to the Win32 call of the same name
/// with the same arguments and returns its raw result; the POSIX body gives the same answers
/// from our own directory enumeration and PE reader.
class ScanOs {
public:
  virtual ~ScanOs() = default;
  /// \p Pattern is a directory path followed by a wildcard pattern ("C:\dir\*.exe").
  virtual FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) = 0;
  virtual std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) = 0;
  virtual std::int32_t FindClose(FindHandle Handle) = 0;
  virtual std::uint32_t GetFileAttributesA(const std::string &Path) = 0;
  virtual std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                                std::uint32_t &Handle) = 0;
  /// Writes the version block into \p Data, within \p Size bytes.
  virtual std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t Handle,
                                           std::uint32_t Size, void *Data) = 0;
  /// Holds the file \p FileName that the version queries have just read, for acting on it
  /// without resolving its path again: on POSIX through the directory the read went through.
  /// Not one of Windows' calls. On failure returns the reason.
  virtual std::error_code HoldFile(const std::string &FileName,
                                   std::unique_ptr<FoundFile> &Found) = 0;
  /// Why the last failed call of this thread failed, for reports that name the reason.
  virtual std::error_code LastError() = 0;
};

/// The body for the build's target OS: Win32 on Windows, ours on POSIX.
ScanOs &PlatformScanOs();

} // namespace vorse
