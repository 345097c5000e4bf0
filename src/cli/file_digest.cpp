// Whole-file reads of the scanner: a file's size and SHA-256, and byte-for-byte comparison.
#include "cli/file_digest.h"

#include "cli/stdio_file.h"
#include "sysutil/sha256.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
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

/// The bytes of a file, a chunk at a time from its start: each read fills \p Buffer, but at
/// the end, where \p Got is how much of it was filled (0 past the end).
using ChunkReader = std::function<std::error_code(std::span<std::byte> Buffer, std::size_t &Got)>;

ChunkReader StreamChunks(std::FILE *From) {
  return [From](std::span<std::byte> Buffer, std::size_t &Got) {
    errno = 0;
    Got = std::fread(Buffer.data(), 1, Buffer.size(), From);
    return Got < Buffer.size() && std::ferror(From) != 0 ? StreamError() : std::error_code();
  };
}

ChunkReader FoundChunks(FoundFile &From) {
  return [&From, offset = std::uint64_t{0}](std::span<std::byte> Buffer, std::size_t &Got) mutable {
    for (Got = 0; Got < Buffer.size();) {
      std::size_t got = 0;
      if (const std::error_code error = From.ReadAt(offset, Buffer.subspan(Got), got))
        return error;
      if (got == 0)
        break;
      Got += got;
      offset += got;
    }
    return std::error_code();
  };
}

std::error_code DigestChunks(const ChunkReader &Read, FileDigest &Digest) {
  Sha256 hash;
  std::array<std::byte, kChunk> buffer;
  Digest.size = 0;
  for (std::size_t got = kChunk; got == kChunk;) {
    if (const std::error_code error = Read(buffer, got))
      return error;
    hash.Update(std::span(buffer).first(got));
    Digest.size += got;
  }
  Digest.sha256 = HexDigest(hash);
  return {};
}

/// CompareFiles on an original that \p Read reads and that is the file \p OriginalId.
std::error_code Compare(const ChunkReader &Read, std::optional<FileId> OriginalId, CliOs &Os,
                        const std::string &Copy, Comparison &Result, FileDigest &Digest) {
  File copy;
  if (const std::error_code error = Os.OpenEntryToRead(Copy, copy))
    return error;
  const std::optional<FileId> copyId = Os.IdentifyFile(copy.get());
  if (!OriginalId || !copyId)
    return std::make_error_code(std::errc::io_error);
  Result = Comparison::SameFile;
  if (OriginalId == copyId)
    return {};
  const ChunkReader readCopy = StreamChunks(copy.get());
  Sha256 hash;
  std::array<std::byte, kChunk> left;
  std::array<std::byte, kChunk> right;
  Result = Comparison::Different;
  Digest.size = 0;
  for (std::size_t got = kChunk; got == kChunk;) {
    std::size_t gotCopy = 0;
    if (const std::error_code error = Read(left, got))
      return error;
    if (const std::error_code error = readCopy(right, gotCopy))
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

} // namespace

std::error_code DigestFile(const std::string &Path, FileDigest &Digest) {
  File file;
  if (const std::error_code error = Open(Path, file))
    return error;
  return DigestStream(file.get(), Digest);
}

std::error_code DigestStream(std::FILE *File, FileDigest &Digest) {
  return DigestChunks(StreamChunks(File), Digest);
}

std::error_code DigestFile(FoundFile &File, FileDigest &Digest) {
  return DigestChunks(FoundChunks(File), Digest);
}

std::error_code CompareFiles(CliOs &Os, const std::string &Original, const std::string &Copy,
                             Comparison &Result, FileDigest &Digest) {
  File original;
  if (const std::error_code error = Open(Original, original))
    return error;
  return Compare(StreamChunks(original.get()), Os.IdentifyFile(original.get()), Os, Copy, Result,
                 Digest);
}

std::error_code CompareFiles(CliOs &Os, FoundFile &Original, const std::string &Copy,
                             Comparison &Result, FileDigest &Digest) {
  return Compare(FoundChunks(Original), Original.Id(), Os, Copy, Result, Digest);
}

} // namespace vorse
