// BatchedVersionReads: rounds of opens, reads and closes through one io_uring, the walk of each
// file run again over its reads after each round until it asks for none that is missing.
#include "batched_version_reads.h"

#include "file_source_posix.h"
#include "pe_locate.h"

#include <liburing.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace vorse {
namespace {

/// Rounds of reads after the opens. A walk makes two or three reads for most files (the
/// headers, the resource tree, the block); a file that asks for more is finished alone.
constexpr std::size_t kMaxReadRounds = 6;
/// The most bytes read ahead for one file: a version block as long as it may be, beside the
/// headers and the tree. A file that asks for more is finished alone, so that a batch of hostile
/// files cannot make the batch hold much more than this per file.
constexpr std::size_t kMaxBytesAhead = 2 * kMaxVersionBlockSize;

/// The result of an operation that the ring took but whose completion never came back: it may
/// still be under way, so nothing it uses may be let go, and its descriptor, if any, is the
/// ring's.
constexpr int kInFlight = INT_MIN;

struct File {
  int fd = -1;
  ReadsAhead ahead;
  std::size_t bytesAhead = 0;
  /// Whether the walk is finished with the file's own reads, the batch having none to give.
  bool alone = false;
  std::optional<BatchedVersionReads::Outcome> outcome;
};

/// The walk of \p Of over the reads made ahead, and over its own reads for the rest unless
/// \p OnlyAhead. Where it lacked a read made ahead (Of.ahead.missed then says which), its
/// outcome stands for nothing.
BatchedVersionReads::Outcome Walk(File &Of, bool OnlyAhead) {
  Of.ahead.onlyThese = OnlyAhead;
  Of.ahead.missed.reset();
  FileSource source(Of.fd, Of.ahead);
  errno = 0;
  std::optional<std::vector<std::byte>> block = LocateVersionBlock(source);
  const int error = block ? 0 : errno;
  return {std::move(block), error};
}

} // namespace

struct BatchedVersionReads::Ring {
  io_uring ring{};
  CompletionWait wait;
  bool failed = false;
  /// The buffers of reads still in flight when the ring failed. The ring may write into them
  /// at any time, even after it is taken down, so they are never given back.
  std::vector<std::unique_ptr<std::byte[]>> stranded;

  ~Ring() {
    io_uring_queue_exit(&ring);
    for (std::unique_ptr<std::byte[]> &buffer : stranded)
      static_cast<void>(buffer.release());
  }

  /// Runs Count operations at once, the i-th set up by Prepare(i, sqe), and returns the result
  /// of each (a count, a descriptor, or minus errno), in their order. An operation the ring
  /// did not take has -ECANCELED; one it took but never answered has kInFlight. After a failure
  /// of the ring it runs nothing more.
  template <typename Prepare> std::vector<int> Run(std::size_t Count, Prepare &&Prep) {
    std::vector<int> results(Count, -ECANCELED);
    if (failed || Count == 0)
      return results;
    for (std::size_t i = 0; i < Count; ++i) {
      io_uring_sqe *sqe = io_uring_get_sqe(&ring);
      Prep(i, sqe);
      io_uring_sqe_set_data64(sqe, i);
    }
    // The ring was made to take every entry handed to it (IORING_SETUP_SUBMIT_ALL), so fewer
    // taken means that it failed. It takes them in their order.
    const int submitted = io_uring_submit_and_wait(&ring, static_cast<unsigned>(Count));
    failed = submitted != static_cast<int>(Count);
    for (int i = 0; i < submitted; ++i)
      results[static_cast<std::size_t>(i)] = kInFlight;
    for (int reaped = 0; reaped < submitted;) {
      io_uring_cqe *cqe = nullptr;
      // After a failed wait, every operation taken is still waited out before anything it
      // uses is let go, by other means than the wait that failed.
      const int waited = failed ? AwaitAfterFailure(cqe) : wait(&ring, &cqe);
      if (waited == -EINTR)
        continue;
      if (waited < 0 && failed)
        break;
      if (waited < 0) {
        failed = true;
        continue;
      }
      results[static_cast<std::size_t>(io_uring_cqe_get_data64(cqe))] = cqe->res;
      io_uring_cqe_seen(&ring, cqe);
      ++reaped;
    }
    return results;
  }

  /// The next completion, waited for by poll() on the ring's descriptor and taken from the
  /// completion queue as it stands; minus errno when poll() itself fails.
  int AwaitAfterFailure(io_uring_cqe *&Cqe) {
    while (io_uring_peek_cqe(&ring, &Cqe) != 0) {
      pollfd ready{ring.ring_fd, POLLIN, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR)
        return -errno;
    }
    return 0;
  }
};

std::unique_ptr<BatchedVersionReads> BatchedVersionReads::Create(CompletionWait Wait) {
  auto owned = std::make_unique<Ring>();
  owned->wait = Wait ? std::move(Wait) : [](io_uring *Ring, io_uring_cqe **Cqe) {
    return io_uring_wait_cqe(Ring, Cqe);
  };
  io_uring_params params{};
  params.flags = IORING_SETUP_SUBMIT_ALL;
  if (io_uring_queue_init_params(kMaxFiles, &owned->ring, &params) < 0) {
    // Nothing was set up, so there is nothing for the destructor to take down.
    owned.release();
    return nullptr;
  }
  return std::unique_ptr<BatchedVersionReads>(new BatchedVersionReads(std::move(owned)));
}

BatchedVersionReads::BatchedVersionReads(std::unique_ptr<Ring> Owned) : ring_(std::move(Owned)) {}

BatchedVersionReads::~BatchedVersionReads() = default;

std::vector<std::optional<BatchedVersionReads::Outcome>>
BatchedVersionReads::Read(int Dir, std::span<const std::string> Names) {
  std::vector<File> files(Names.size());
  const std::vector<int> opened = ring_->Run(Names.size(), [&](std::size_t I, io_uring_sqe *Sqe) {
    io_uring_prep_openat(Sqe, Dir, Names[I].c_str(), FileSource::kListedRegularFlags, 0);
  });
  std::vector<std::size_t> open;
  for (std::size_t i = 0; i < files.size(); ++i) {
    files[i].fd = opened[i];
    if (opened[i] >= 0)
      open.push_back(i);
  }

  for (std::size_t round = 0; round <= kMaxReadRounds; ++round) {
    // Each file's walk over the reads made so far; the first read it lacks is made next round.
    std::vector<std::size_t> asking;
    for (const std::size_t i : open) {
      File &file = files[i];
      if (file.outcome || file.alone)
        continue;
      Outcome outcome = Walk(file, true);
      if (!file.ahead.missed) {
        file.outcome = std::move(outcome);
        continue;
      }
      const ReadsAhead::Range missed = *file.ahead.missed;
      file.alone = round == kMaxReadRounds || missed.length > kMaxBytesAhead - file.bytesAhead;
      if (file.alone)
        continue;
      file.bytesAhead += missed.length;
      // Not cleared: the read fills what is used of it.
      file.ahead.reads.push_back({missed.offset,
                                  std::make_unique_for_overwrite<std::byte[]>(missed.length),
                                  missed.length});
      asking.push_back(i);
    }
    if (asking.empty())
      break;
    const std::vector<int> got = ring_->Run(asking.size(), [&](std::size_t I, io_uring_sqe *Sqe) {
      File &file = files[asking[I]];
      const ReadsAhead::Read &into = file.ahead.reads.back();
      io_uring_prep_read(Sqe, file.fd, into.data.get(), static_cast<unsigned>(into.length),
                         into.offset);
      // Never waits: not for the disk, and not for a named pipe that took a file's place
      // since its listing. Those reads fail at once and the file is read alone.
      Sqe->rw_flags = RWF_NOWAIT;
    });
    for (std::size_t k = 0; k < asking.size(); ++k) {
      File &file = files[asking[k]];
      // A read that failed is made again by the file's own reads: one that would have had to
      // wait for the disk, or one of a named pipe, which takes no read without waiting at an
      // offset (and pread refuses). One the ring never answered keeps its buffer to itself.
      if (got[k] == kInFlight)
        ring_->stranded.push_back(std::move(file.ahead.reads.back().data));
      if (got[k] < 0) {
        file.ahead.reads.pop_back();
        file.alone = true;
      } else {
        file.ahead.reads.back().length = static_cast<std::size_t>(got[k]);
      }
    }
  }

  // The rest read what the batch did not for themselves, as a file read alone is read.
  std::vector<std::optional<Outcome>> outcomes(files.size());
  for (const std::size_t i : open) {
    File &file = files[i];
    outcomes[i] = file.outcome ? std::move(file.outcome) : Walk(file, false);
  }

  const std::vector<int> closed = ring_->Run(open.size(), [&](std::size_t I, io_uring_sqe *Sqe) {
    io_uring_prep_close(Sqe, files[open[I]].fd);
  });
  for (std::size_t k = 0; k < open.size(); ++k) {
    // Not taken because the ring failed: closed here instead. A close the ring took is its
    // own, answered or not: closing again could close a descriptor opened since.
    if (closed[k] == -ECANCELED)
      close(files[open[k]].fd);
  }
  return outcomes;
}

} // namespace vorse
