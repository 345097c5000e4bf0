// ScanOs for Linux. The directory search is our own, over getdents64 (readdir over
// fdopendir would cost three more calls a directory: a stat and two fcntl); version blocks come
// from our own PE reader.
//
// Paths: the program joins paths with "\", as on Windows ("dir\*.exe", "dir\sub\a.exe").
// Here every "\" of a path or pattern is read as "/", so those paths work unchanged. A "\"
// inside a POSIX name is an ordinary character, so names are handed up in the search's form
// (sysutil/posix_name.h): such a "\" as the private-use character U+F05C, and a name's own
// U+F05C or U+F025 as U+F025 followed by it. Paths are mapped back on the way down. The mapping
// is one to one, so every name is reached as itself, never taken apart and never confused with
// another.
//
// Depth: a search, an attribute query and a file's reading all open the entry relative to its
// directory, held open from the walk's root down, never by the full path. So no depth of tree
// and no length of path hides an entry, and below the first directory searched no link is
// followed into another directory, even one swapped in after the listing.
//
// Reading: a file that a search has just handed out as regular is read in a batch with the
// regular files matching the search that follow it (batched_version_reads.h), so that each round
// of the batch costs one call into the system instead of one a file; the rest of the batch take
// their outcome from it as the search reaches them. Any other file, and every file where the
// system gives no io_uring, is read alone.
#include "scan_os_posix.h"
#include "batched_version_reads.h"
#include "found_file.h"
#include "pe_locate.h"
#include "scan_os.h"
#include "sysutil/posix_file.h"
#include "sysutil/posix_name.h"
#include "wildcard.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace vorse {
namespace {

// A directory entry's name always fits the record's name field with its NUL, also in the
// search's form.
static_assert(3 * NAME_MAX < sizeof(FindData::cFileName));
// The reader caps a block's length, so it always fits the size query's 32-bit result.
static_assert(kMaxVersionBlockSize <= std::numeric_limits<std::uint32_t>::max());

/// What a plain file reports on Windows.
constexpr std::uint32_t kFileAttributeArchive = 0x20;

/// Where the last name of a search path starts: after its last separator.
std::size_t NameStart(std::string_view Path) {
  const std::size_t separator = Path.find_last_of("\\/");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

/// A path as the search writes it, in POSIX form, split after its last separator.
class PosixPath {
public:
  explicit PosixPath(std::string_view Search)
      : path_(ToPosixForm(Search)), nameStart_(path_.rfind('/') + 1) {}
  /// The directory part, its "/" included; empty for a bare name.
  std::string_view Dir() const { return std::string_view(path_).substr(0, nameStart_); }
  /// The last name; empty where the path ends with its separator.
  const char *Name() const { return path_.c_str() + nameStart_; }

private:
  std::string path_;
  std::size_t nameStart_;
};

/// Whether \p Name must be mapped to be written as the search writes it: it holds a "\" or
/// the first byte of a mapped character.
bool NeedsMapping(std::string_view Name) {
  // One pass over the bytes: find_first_of would search its set once for every byte.
  return std::any_of(Name.begin(), Name.end(), [](char C) { return C == '\\' || C == '\xEF'; });
}

/// The directories from the first one searched down to the one searched last, each held open,
/// so that every entry is reached relative to its own directory. The first (the base) is
/// opened by its path as given; each one below by its name within the one above, without
/// following a link. Only the deepest kHeldLevels are held open below the base, so a deep tree
/// cannot use up the process's descriptors; a level let go is opened again from the base.
class DirectoryChain {
public:
  /// A descriptor of the directory \p Dir (POSIX form, ending with "/", or empty for the
  /// current directory), valid until the next call; -1 with errno set when it cannot be opened.
  int Open(std::string_view Dir) {
    // The base itself, asked for while deeper levels are held, begins another walk (of another
    // root, or of the same one again), and the base may have been replaced since: it is opened
    // again by its path.
    if (!WithinBase(Dir) || (Dir.size() == levels_[0].end && levels_.size() > 1))
      return OpenBase(Dir);
    std::size_t common = 0;
    while (common < Dir.size() && common < path_.size() && Dir[common] == path_[common])
      ++common;
    std::size_t keep = levels_.size();
    while (levels_[keep - 1].end > common)
      --keep;
    levels_.resize(keep);
    path_.resize(levels_.back().end);
    firstHeld_ = std::min(firstHeld_, keep);
    if (!levels_.back().Held() && !Reopen())
      return -1;
    while (path_.size() < Dir.size()) {
      const std::size_t slash = Dir.find('/', path_.size());
      // An empty name ("a//b") names the same directory, as in any path.
      if (slash == path_.size())
        path_ += '/';
      else if (!Push(std::string(Dir.substr(path_.size(), slash - path_.size()))))
        return -1;
    }
    return levels_.back().Fd();
  }

  /// A descriptor of the directory \p Dir (as for Open), opened by its path as the base of a
  /// new walk: no directory held before is used, as any of them may have been replaced since.
  int Begin(std::string_view Dir) { return OpenBase(Dir); }

  /// A descriptor of the directory \p Dir (as for Open) positioned at its start, to be listed;
  /// -1, with errno set, when it cannot be opened. Valid until the next call.
  int OpenForListing(std::string_view Dir) {
    if (Open(Dir) < 0)
      return -1;
    // Listed before: a walk lists each directory once, so a new one has begun, and any
    // directory held may have been replaced since. It starts afresh from this one, by its path.
    if (levels_.back().listed && OpenBase(Dir) < 0)
      return -1;
    levels_.back().listed = true;
    return levels_.back().Fd();
  }

private:
  static constexpr std::size_t kHeldLevels = 64;

  struct Level {
    std::size_t end; ///< of this directory's path within path_, its "/" included
    ScopedFd fd;
    /// Whether the descriptor has been read to list the directory.
    bool listed = false;

    int Fd() const { return fd.get(); }
    bool Held() const { return static_cast<bool>(fd); }
    void LetGo() {
      fd = ScopedFd();
      listed = false;
    }
  };

  bool WithinBase(std::string_view Dir) const {
    if (levels_.empty())
      return false;
    // The current directory is the base of relative paths only.
    if (levels_[0].end == 0)
      return !Dir.starts_with('/');
    return Dir.starts_with(std::string_view(path_).substr(0, levels_[0].end));
  }

  int OpenBase(std::string_view Dir) {
    levels_.clear();
    path_.clear();
    firstHeld_ = 1;
    const PathAt at(Dir.empty() ? std::string(".") : std::string(Dir));
    ScopedFd fd(at ? ::openat(at.Dir(), at.Name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
    if (!fd)
      return -1;
    path_ = Dir;
    levels_.push_back(Level{path_.size(), std::move(fd)});
    return levels_.back().Fd();
  }

  /// Opens \p Name below the deepest level as the new deepest level.
  bool Push(const std::string &Name) {
    ScopedFd fd(::openat(levels_.back().Fd(), Name.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd)
      return false;
    path_ += Name;
    path_ += '/';
    levels_.push_back(Level{path_.size(), std::move(fd)});
    LetGoOfShallowest();
    return true;
  }

  /// Opens again, from the base down, the levels that were let go: all below the base, since
  /// the deepest one was.
  bool Reopen() {
    firstHeld_ = 1;
    for (std::size_t i = 1; i < levels_.size(); ++i) {
      const std::size_t start = levels_[i - 1].end;
      const std::string name = path_.substr(start, levels_[i].end - 1 - start);
      levels_[i].fd = ScopedFd(::openat(levels_[i - 1].Fd(), name.c_str(),
                                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!levels_[i].fd) {
        levels_.resize(i);
        path_.resize(levels_.back().end);
        return false;
      }
      if (i + 1 - firstHeld_ > kHeldLevels)
        levels_[firstHeld_++].LetGo();
    }
    return true;
  }

  void LetGoOfShallowest() {
    if (levels_.size() - firstHeld_ <= kHeldLevels)
      return;
    levels_[firstHeld_++].LetGo();
  }

  /// The deepest level's path; each level's path is its start.
  std::string path_;
  std::vector<Level> levels_;
  /// Every level from here down holds its descriptor, and so does the base; those between
  /// have let theirs go.
  std::size_t firstHeld_ = 1;
};

/// The record's attributes from the type the enumeration reports, as far as it reports one.
std::uint32_t AttributesOfType(unsigned char Type) {
  switch (Type) {
  case DT_DIR:
    return kFileAttributeDirectory;
  case DT_UNKNOWN:
    return kInvalidFileAttributes;
  default:
    // A symbolic link (DT_LNK) is never a directory here, whatever it points at.
    return kFileAttributeArchive;
  }
}

/// One directory's entries, read in a single pass and kept in the order the system gave them. A
/// search is served from this, and so is the search of the same directory that follows it at
/// once: the file search lists each directory twice in a row ("*", then the pattern), and the
/// second then sees the entries exactly as the first did. The storage is handed on from search
/// to search, so a whole walk allocates for its largest directory only.
struct Listing {
  struct Entry {
    std::size_t offset; ///< of the name in names, which ends with a NUL there
    std::size_t length;
    unsigned char type; ///< d_type
  };

  /// The directory part of the search's pattern as the program wrote it, separator included.
  std::string dir;
  std::string names;
  std::vector<Entry> entries;
  /// Why the directory could not be opened, or why reading it stopped before its end; else 0.
  int error = 0;
  /// The system's records, a batch at a time.
  std::vector<char> records;

  std::string_view Name(const Entry &Of) const { return {names.data() + Of.offset, Of.length}; }

  /// Replaces the entries with those of the directory open as \p Fd (at its start), read with
  /// \p Reader, each name in the search's form. False, with errno set, when \p Fd is -1; a
  /// read that fails on the way keeps the entries before the failure, and its errno in error.
  bool Read(int Fd, const DirectoryReader &Reader) {
    names.clear();
    entries.clear();
    error = 0;
    if (Fd < 0) {
      error = errno;
      return false;
    }
    records.resize(kRecordBatch);
    while (true) {
      const ssize_t got = Reader(Fd, records.data(), records.size());
      if (got <= 0) {
        error = got < 0 ? errno : 0;
        return true;
      }
      for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        const auto *record = reinterpret_cast<const dirent64 *>(records.data() + at);
        at += record->d_reclen;
        const std::size_t room = record->d_reclen - offsetof(dirent64, d_name);
        Add(std::string_view(record->d_name, strnlen(record->d_name, room)), record->d_type);
      }
    }
  }

private:
  /// As much as the C library's own directory streams read a call.
  static constexpr std::size_t kRecordBatch = 32 * 1024;

  void Add(std::string_view Name, unsigned char Type) {
    const std::size_t offset = names.size();
    if (NeedsMapping(Name))
      names += ToSearchForm(Name);
    else
      names += Name;
    entries.push_back({offset, names.size() - offset, Type});
    names.push_back('\0');
  }
};

class PosixScanOs final : public ScanOs {
public:
  explicit PosixScanOs(DirectoryReader Read) : read_(std::move(Read)) {}

  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    const std::size_t dirLength = NameStart(Pattern);
    Search search = StartSearch(Pattern.substr(0, dirLength), Pattern.substr(dirLength));
    const std::lock_guard lock(mutex_);
    // A pattern without a directory part searches the current directory, as on Windows.
    const bool found =
        (search.replayed ||
         search.listing.Read(chain_.OpenForListing(ToPosixForm(search.listing.dir)), read_)) &&
        Next(search, Data);
    if (!found) {
      const int error = errno;
      Retire(search);
      errno = error;
      return kInvalidFindHandle;
    }
    const FindHandle handle = nextHandle_++;
    searches_.emplace(handle, std::move(search));
    current_ = handle;
    return handle;
  }

  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    const std::lock_guard lock(mutex_);
    const auto it = searches_.find(Handle);
    if (it == searches_.end()) {
      errno = EBADF;
      return 0;
    }
    current_ = Handle;
    return Next(it->second, Data) ? 1 : 0;
  }

  std::int32_t FindClose(FindHandle Handle) override {
    const std::lock_guard lock(mutex_);
    const auto it = searches_.find(Handle);
    if (it == searches_.end()) {
      errno = EBADF;
      return 0;
    }
    Retire(it->second);
    searches_.erase(it);
    return 1;
  }

  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    if (const std::optional<std::uint32_t> listed = ListedAttributes(Path))
      return *listed;
    const PosixPath posix(Path);
    const std::lock_guard lock(mutex_);
    // The walk asks for the entry a search has just handed out; any other path (a root, before
    // its walk begins) is reached from where its path leads now.
    const int dir =
        ReturnedBy(Path) != nullptr ? chain_.Open(posix.Dir()) : chain_.Begin(posix.Dir());
    struct stat status {};
    // Not following a link: a link to a directory is not a directory, so no search loops
    // through links. A path that ends with its separator ("\" for the root) names the
    // directory itself.
    const bool failed = dir < 0 || (*posix.Name() == '\0' ? fstat(dir, &status)
                                                          : fstatat(dir, posix.Name(), &status,
                                                                    AT_SYMLINK_NOFOLLOW)) != 0;
    if (failed)
      return kInvalidFileAttributes;
    return S_ISDIR(status.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
  }

  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    Handle = 0;
    std::optional<std::vector<std::byte>> block = ReadBlock(FileName);
    const std::lock_guard lock(mutex_);
    lastBlock_.reset();
    if (!block)
      return 0;
    const auto size = static_cast<std::uint32_t>(block->size());
    // Kept for the data query that follows on the same file, so it is not read twice.
    lastBlock_ = LastBlock{FileName, std::move(*block)};
    return size;
  }

  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t, std::uint32_t Size,
                                   void *Data) override {
    std::optional<std::vector<std::byte>> block = TakeLastBlock(FileName);
    if (!block)
      block = ReadBlock(FileName);
    if (!block)
      return 0;
    std::memcpy(Data, block->data(), std::min<std::size_t>(block->size(), Size));
    return 1;
  }

  std::error_code HoldFile(const std::string &FileName,
                           std::unique_ptr<FoundFile> &Found) override {
    const PosixPath posix(FileName);
    const std::lock_guard lock(mutex_);
    // The directory the read just went through, still held: the path is not resolved again.
    const int dir = chain_.Open(posix.Dir());
    if (dir < 0)
      return {errno, std::generic_category()};
    return HoldFileAt(dir, posix.Name(), Found);
  }

  std::error_code LastError() override { return {errno, std::generic_category()}; }

private:
  static constexpr std::size_t kNoEntry = std::numeric_limits<std::size_t>::max();

  struct Search {
    Listing listing;
    std::string pattern;
    /// Whether the listing came from the search before instead of from the directory.
    bool replayed = false;
    std::size_t next = 0;
    /// The entry last handed out, while the search has not reached its end.
    std::size_t returned = kNoEntry;
    /// The outcomes of the latest batch of reads, by entry, in the listing's order; each one
    /// is taken only once.
    std::vector<std::pair<std::size_t, std::optional<BatchedVersionReads::Outcome>>> ahead{};
  };
  struct LastBlock {
    std::string fileName;
    std::vector<std::byte> block;
  };

  /// Moves \p Open on to its next entry matching its pattern and fills \p Data with it.
  /// False, with errno set, at the end of the directory or where reading it failed.
  static bool Next(Search &Open, FindData &Data) {
    const std::vector<Listing::Entry> &entries = Open.listing.entries;
    while (Open.next < entries.size()) {
      const Listing::Entry &entry = entries[Open.next++];
      if (!WildcardMatch(Open.pattern, Open.listing.Name(entry)))
        continue;
      std::memcpy(Data.cFileName, Open.listing.names.data() + entry.offset, entry.length + 1);
      Data.dwFileAttributes = AttributesOfType(entry.type);
      Open.returned = Open.next - 1;
      return true;
    }
    Open.returned = kNoEntry;
    // ENOENT stands for Windows' "no more files".
    errno = Open.listing.error != 0 ? Open.listing.error : ENOENT;
    return false;
  }

  /// A search of \p Dir for \p Pattern over the last search's listing, when that search was of
  /// the same directory and read all of it itself; otherwise over its storage, emptied, to be
  /// read into. Either way the last listing is used up, so a third search reads anew.
  Search StartSearch(std::string Dir, std::string Pattern) {
    const std::lock_guard lock(mutex_);
    Search search{std::exchange(last_, Listing{}), std::move(Pattern)};
    search.replayed = lastComplete_ && search.listing.dir == Dir;
    lastComplete_ = false;
    search.listing.dir = std::move(Dir);
    return search;
  }

  /// Keeps the listing of \p Ended for the search that follows. Leaves errno alone.
  void Retire(Search &Ended) {
    last_ = std::move(Ended.listing);
    lastComplete_ = !Ended.replayed && last_.error == 0;
  }

  /// What lstat would answer for \p Path, taken from the enumeration's type where the listing
  /// knows it (ListedType). Nothing for any other path.
  std::optional<std::uint32_t> ListedAttributes(const std::string &Path) {
    const std::lock_guard lock(mutex_);
    const unsigned char type = ListedType(Path);
    if (type == DT_UNKNOWN)
      return std::nullopt;
    return AttributesOfType(type);
  }

  /// The search whose latest step handed out \p Path as its entry: the file search asks for
  /// exactly that entry's attributes next, and reads it next when it matches. Null for any other
  /// path. The caller holds the lock.
  Search *ReturnedBy(const std::string &Path) {
    const auto it = searches_.find(current_);
    if (it == searches_.end() || it->second.returned == kNoEntry)
      return nullptr;
    Search &search = it->second;
    const std::string_view name = search.listing.Name(search.listing.entries[search.returned]);
    const std::string &dir = search.listing.dir;
    if (Path.size() != dir.size() + name.size() || !Path.starts_with(dir) || !Path.ends_with(name))
      return nullptr;
    return &search;
  }

  /// The enumeration's type of \p Path where a search has just handed it out (ReturnedBy);
  /// DT_UNKNOWN for any other path. The caller holds the lock.
  unsigned char ListedType(const std::string &Path) {
    const Search *search = ReturnedBy(Path);
    if (search == nullptr)
      return DT_UNKNOWN;
    return search->listing.entries[search->returned].type;
  }

  /// The outcome of reading the regular file that \p Of has just handed out, in a batch with
  /// the entries after it in the directory open as \p Dir. The first entry of a batch reads the
  /// batch; the others take their outcome from it. Nothing where there is no batch or it could
  /// not open the file: the file is then read alone. The caller holds the lock.
  std::optional<BatchedVersionReads::Outcome> BatchedOutcome(Search &Of, int Dir) {
    if (!batches_)
      return std::nullopt;
    if (Of.ahead.empty() || Of.ahead.back().first < Of.returned)
      ReadBatch(Of, Dir);
    const auto it = std::find_if(Of.ahead.begin(), Of.ahead.end(),
                                 [&](const auto &Ahead) { return Ahead.first == Of.returned; });
    if (it == Of.ahead.end())
      return std::nullopt;
    return std::exchange(it->second, std::nullopt);
  }

  /// Reads, in one batch, the entry \p Of handed out last and the regular files matching its
  /// pattern that follow it, as far as a batch takes.
  void ReadBatch(Search &Of, int Dir) {
    std::vector<std::size_t> entries;
    std::vector<std::string> names;
    const Listing &listing = Of.listing;
    for (std::size_t i = Of.returned;
         i < listing.entries.size() && entries.size() < BatchedVersionReads::kMaxFiles; ++i) {
      const Listing::Entry &entry = listing.entries[i];
      if (entry.type != DT_REG || !WildcardMatch(Of.pattern, listing.Name(entry)))
        continue;
      entries.push_back(i);
      names.push_back(ToPosixForm(listing.Name(entry)));
    }
    std::vector<std::optional<BatchedVersionReads::Outcome>> outcomes = batches_->Read(Dir, names);
    Of.ahead.clear();
    for (std::size_t k = 0; k < entries.size(); ++k)
      Of.ahead.emplace_back(entries[k], std::move(outcomes[k]));
  }

  /// The version block of \p FileName; errno tells why there is none.
  std::optional<std::vector<std::byte>> ReadBlock(const std::string &FileName) {
    const PosixPath posix(FileName);
    const std::lock_guard lock(mutex_);
    const int dir = chain_.Open(posix.Dir());
    if (dir < 0)
      return std::nullopt;
    Search *search = ReturnedBy(FileName);
    const bool listedRegular =
        search != nullptr && search->listing.entries[search->returned].type == DT_REG;
    std::optional<BatchedVersionReads::Outcome> batched;
    if (listedRegular)
      batched = BatchedOutcome(*search, dir);
    errno = 0;
    std::optional<std::vector<std::byte>> block;
    if (batched) {
      block = std::move(batched->block);
      errno = batched->error;
    } else {
      block = ReadVersionBlockAt(dir, posix.Name(), listedRegular);
    }
    // A file that opened but holds no version resource leaves no errno.
    if (!block && errno == 0)
      errno = ENODATA;
    return block;
  }

  std::optional<std::vector<std::byte>> TakeLastBlock(const std::string &FileName) {
    const std::lock_guard lock(mutex_);
    std::optional<LastBlock> last = std::exchange(lastBlock_, std::nullopt);
    if (!last || last->fileName != FileName)
      return std::nullopt;
    return std::move(last->block);
  }

  const DirectoryReader read_;
  std::mutex mutex_;
  std::map<FindHandle, Search> searches_;
  FindHandle nextHandle_ = 1;
  /// The search whose step ran last.
  FindHandle current_ = kInvalidFindHandle;
  /// The listing of the search that ended last, and whether a search of the same directory may
  /// be served from it.
  Listing last_;
  bool lastComplete_ = false;
  std::optional<LastBlock> lastBlock_;
  DirectoryChain chain_;
  /// Null where the system gives no io_uring: every file is then read alone.
  std::unique_ptr<BatchedVersionReads> batches_ = BatchedVersionReads::Create();
};

} // namespace

ScanOs &PlatformScanOs() {
  static PosixScanOs os(
      [](int Fd, void *Records, std::size_t Size) { return getdents64(Fd, Records, Size); });
  return os;
}

std::unique_ptr<ScanOs> MakePosixScanOs(DirectoryReader Read) {
  return std::make_unique<PosixScanOs>(std::move(Read));
}

} // namespace vorse
