// Whole-file reads of the scanner: a file's size and SHA-256, and byte-for-byte comparison.
#include "cli/file_digest.h"

#include "cli/stdio_file.h"
#include "sysutil/sha256.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <span>

namespace vorse {
namespace {

constexpr std::size_t kChunk = 1 << 16;

using File = StdioFile;

std::error_code Open(const std::string &Path, File &Opened) {
  errno = 0;
  Opened = OpenRegularFile(Path);
  return Opened ? std::error_code() : StreamError();
}

/// Fills as much of \p Buffer as the file still has; 0 at the end.
std::error_code ReadChunk(std::FILE *From, std::span<std::byte> Buffer, std::size_t &Got) {
  errno = 0;
  Got = std::fread(Buffer.data(), 1, Buffer.size(), From);
  return Got < Buffer.size() && std::ferror(From) != 0 ? StreamError() : std::error_code();
}

} // namespace

std::error_code DigestFile(const std::string &Path, FileDigest &Digest) {
  File file;
  if (const std::error_code error = Open(Path, file))
    return error;
  return DigestStream(file.get(), Digest);
}

std::error_code DigestStream(std::FILE *File, FileDigest &Digest) {
  Sha256 hash;
  std::array<std::byte, kChunk> buffer;
  Digest.size = 0;
  for (std::size_t got = kChunk; got == kChunk;) {
    if (const std::error_code error = ReadChunk(File, buffer, got))
      return error;
    hash.Update(std::span(buffer).first(got));
    Digest.size += got;
  }
  Digest.sha256 = HexDigest(hash);
  return {};
}

std::error_code CompareFiles(CliOs &Os, const std::string &Original, const std::string &Copy,
                             Comparison &Result, FileDigest &Digest) {
  File original;
  File copy;
  if (const std::error_code error = Open(Original, original))
    return error;
  if (const std::error_code error = Os.OpenEntryToRead(Copy, copy))
    return error;
  const std::optional<FileId> originalId = Os.IdentifyFile(original.get());
  const std::optional<FileId> copyId = Os.IdentifyFile(copy.get());
  if (!originalId || !copyId)
    return std::make_error_code(std::errc::io_error);
  Result = Comparison::SameFile;
  if (originalId == copyId)
    return {};
  Sha256 hash;
  std::array<std::byte, kChunk> left;
  std::array<std::byte, kChunk> right;
  Result = Comparison::Different;
  Digest.size = 0;
  for (std::size_t got = kChunk; got == kChunk;) {
    std::size_t gotCopy = 0;
    if (const std::error_code error = ReadChunk(original.get(), left, got))
      return error;
    if (const std::error_code error = ReadChunk(copy.get(), right, gotCopy))
      return error;
    if (got != gotCopy || std::memcmp(left.data(), right.data(), got) != 0)
      return {};
    hash.Update(std::span(left).first(got));
    Digest.size += got;
  }
  Result = Comparison::Same;
  Digest.sha256 = HexDigest(hash);
  return {};
}

} // namespace vorse
