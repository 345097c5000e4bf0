// StdioFile: a C stream closed when it goes out of scope.
#pragma once

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#ifndef _WIN32
#include "sysutil/posix_file.h"
#endif

namespace vorse {

struct StdioFileCloser {
  void operator()(std::FILE *File) const { std::fclose(File); }
};

/// Owns a stream from fopen; closing it at scope end ignores the result, so a writer closes
/// it itself (release + fclose) where a failed close must be reported.
using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

/// Why the last stream call failed: errno, or EIO where the C library set none.
inline std::error_code StreamError() {
  return {errno != 0 ? errno : EIO, std::generic_category()};
}

#ifndef _WIN32
/// The open descriptor \p Fd as a binary read stream, which then owns it; none when \p Fd is.
inline StdioFile ReadStream(ScopedFd Fd) {
  std::FILE *file = Fd ? fdopen(Fd.get(), "rb") : nullptr;
  if (file != nullptr)
    Fd.release();
  return StdioFile(file);
}
#endif

/// Opens \p Path for reading in binary mode, like fopen with "rb", but only a regular file:
/// anything else (a named pipe, a device) fails with errno EOPNOTSUPP. A file found by the
/// scan may have been swapped for one since.
inline StdioFile OpenRegularFile(const std::string &Path) {
#ifdef _WIN32
  return StdioFile(std::fopen(Path.c_str(), "rb"));
#else
  return ReadStream(OpenRegularFd(Path));
#endif
}

} // namespace vorse
