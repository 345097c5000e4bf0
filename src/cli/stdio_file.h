// StdioFile: a C stream closed when it goes out of scope.
#pragma once

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

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

} // namespace vorse
