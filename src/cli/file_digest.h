// Whole-file reads of the scanner: a file's size and SHA-256, and byte-for-byte comparison.
#pragma once

#include "app/manifest.h"
#include "cli/cli_os.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>

namespace vorse {

/// Reads the file at \p Path (native form) once, to its end. On failure returns the reason.
std::error_code DigestFile(const std::string &Path, FileDigest &Digest);

/// Reads \p File from where it stands to its end.
std::error_code DigestStream(std::FILE *File, FileDigest &Digest);

/// What a would-be copy is to its original.
enum class Comparison {
  /// A file of its own with the same bytes.
  Same,
  /// A file of its own with other bytes.
  Different,
  /// The original itself, under another name (a hard link): no copy at all.
  SameFile,
};

/// Reads \p Original and \p Copy side by side and tells in \p Result what the copy is to it;
/// \p Digest is \p Original's size and SHA-256 when they hold the same bytes. \p Copy is
/// opened as it stands (CliOs::OpenEntryToRead): a link there fails. On failure returns the
/// reason, naming neither file: the caller knows which step it was.
std::error_code CompareFiles(CliOs &Os, const std::string &Original, const std::string &Copy,
                             Comparison &Result, FileDigest &Digest);

} // namespace vorse
