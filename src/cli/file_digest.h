// Whole-file reads of the scanner: a file's size and SHA-256, and byte-for-byte comparison.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

namespace vorse {

/// A file's length and the lower-case hex SHA-256 of its bytes.
struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256;
};

/// Reads the file at \p Path (native form) once, to its end. On failure returns the reason.
std::error_code DigestFile(const std::string &Path, FileDigest &Digest);

/// Reads \p Original and \p Copy side by side: \p Same tells whether their bytes are equal,
/// and \p Digest is \p Original's size and SHA-256 when they are. On failure returns the
/// reason, naming neither file: the caller knows which step it was.
std::error_code CompareFiles(const std::string &Original, const std::string &Copy, bool &Same,
                             FileDigest &Digest);

} // namespace vorse
