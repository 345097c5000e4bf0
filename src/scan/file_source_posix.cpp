// FileSource: pread on a descriptor, with the reads a batch made ahead taken first.
#include "file_source_posix.h"

#include "byte_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vorse {

const ReadsAhead::Read *ReadsAhead::At(std::uint64_t Offset) const {
  const auto it = std::find_if(reads.begin(), reads.end(),
                               [&](const Read &Made) { return Made.offset == Offset; });
  return it == reads.end() ? nullptr : &*it;
}

FileSource::FileSource(int Dir, const char *Name, bool ListedRegular)
    : owned_(openat(Dir, Name, ListedRegular ? kListedRegularFlags : kOpenFlags)),
      fd_(owned_.get()) {
  if (!owned_ || ListedRegular) {
    size_ = owned_ ? kUnknownSize : 0;
    return;
  }
  struct stat status {};
  if (fstat(fd_, &status) == 0 && S_ISREG(status.st_mode))
    size_ = static_cast<std::uint64_t>(status.st_size);
}

FileSource::FileSource(int Fd, ReadsAhead &Ahead) : fd_(Fd), ahead_(&Ahead), size_(kUnknownSize) {}

bool FileSource::Read(std::uint64_t Offset, std::span<std::byte> Out) {
  return RangeFits(size_, Offset, Out.size()) && ReadUpTo(Offset, Out) == Out.size();
}

std::size_t FileSource::ReadUpTo(std::uint64_t Offset, std::span<std::byte> Out) {
  if (Offset >= size_)
    return 0;
  Out = Out.first(static_cast<std::size_t>(std::min<std::uint64_t>(Out.size(), size_ - Offset)));
  std::size_t done = 0;
  while (done < Out.size()) {
    const ssize_t got = ReadOnce(Offset + done, Out.subspan(done));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      break;
    // The end of the file: from now on its length is known.
    if (got == 0) {
      size_ = Offset + done;
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return done;
}

ssize_t FileSource::ReadOnce(std::uint64_t Offset, std::span<std::byte> Out) {
  if (ahead_ != nullptr) {
    if (const ReadsAhead::Read *made = ahead_->At(Offset)) {
      const std::size_t count = std::min(made->length, Out.size());
      std::memcpy(Out.data(), made->data.get(), count);
      return static_cast<ssize_t>(count);
    }
    if (ahead_->onlyThese) {
      // Only the first read missed counts: the walk's reads after it are not the ones it
      // makes once that read is there.
      if (!ahead_->missed)
        ahead_->missed = ReadsAhead::Range{Offset, Out.size()};
      errno = ENODATA;
      return -1;
    }
  }
  return pread(fd_, Out.data(), Out.size(), static_cast<off_t>(Offset));
}

} // namespace vorse
