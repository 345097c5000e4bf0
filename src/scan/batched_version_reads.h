// The version blocks of many files of one directory, read together through an io_uring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct io_uring;
struct io_uring_cqe;

namespace vorse {

/// Reads the version blocks of a batch of files at once. Each round of the batch (its opens,
/// then each further read the files' walks ask for, then its closes) costs one call into the
/// system for all of its files, where reading them one by one costs one call per file and step.
/// The outcome of every file is the one ReadVersionBlockAt gives for a file its listing called
/// regular: the same walk runs over the same bytes, and whatever the batch cannot read (a read
/// that fails or comes back short, one larger than the batch reads ahead) is read from the
/// file as ReadVersionBlockAt reads it.
class BatchedVersionReads {
public:
  /// The most files one Read takes.
  static constexpr std::size_t kMaxFiles = 32;

  struct Outcome {
    std::optional<std::vector<std::byte>> block;
    /// Why there is no block: errno of the read that failed, or 0 for a file that was read and
    /// holds none.
    int error = 0;
  };

  /// How the batch waits for the ring's next completion, as io_uring_wait_cqe does (0, or minus
  /// errno). A seam, so that a test can make the wait fail.
  using CompletionWait = std::function<int(io_uring *Ring, io_uring_cqe **Cqe)>;

  /// A batch reader, or null where the system gives this process no ring: a kernel without
  /// io_uring (or older than 5.18), or one where it is turned off or filtered out. It waits
  /// with \p Wait, or with io_uring_wait_cqe where none is given.
  static std::unique_ptr<BatchedVersionReads> Create(CompletionWait Wait = {});
  ~BatchedVersionReads();
  BatchedVersionReads(const BatchedVersionReads &) = delete;
  BatchedVersionReads &operator=(const BatchedVersionReads &) = delete;

  /// The outcome of each of the entries \p Names (at most kMaxFiles, in POSIX form) of the
  /// directory open as \p Dir, in their order. Nothing for a file the batch could not open:
  /// the caller reads that one alone, and so learns why it cannot be read. After a failure of
  /// the ring itself every outcome is nothing, and so is every later one.
  std::vector<std::optional<Outcome>> Read(int Dir, std::span<const std::string> Names);

private:
  struct Ring;
  explicit BatchedVersionReads(std::unique_ptr<Ring> Owned);

  std::unique_ptr<Ring> ring_;
};

} // namespace vorse
