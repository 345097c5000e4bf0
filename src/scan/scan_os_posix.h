// The POSIX body of the scan seam, made with a directory reader of the caller's choosing.
#pragma once

#include "scan/scan_os.h"

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>

namespace vorse {

/// How the search reads a directory's records, a batch at a time, as getdents64 does: the bytes
/// written into \p Records (at most \p Size), 0 at the end, -1 with errno set when it fails.
using DirectoryReader = std::function<ssize_t(int Fd, void *Records, std::size_t Size)>;

/// A body of its own that reads every directory through \p Read; PlatformScanOs reads them with
/// getdents64. Tests make a listing fail on the way with it.
std::unique_ptr<ScanOs> MakePosixScanOs(DirectoryReader Read);

} // namespace vorse
