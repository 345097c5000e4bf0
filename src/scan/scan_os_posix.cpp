// ScanOs for POSIX: generic POSIX code only. The directory search is our own, over readdir;
// version blocks come from our own PE reader.
//
// Paths: the program joins paths with "\", as on Windows ("dir\*.exe", "dir\sub\a.exe").
// Here every "\" of a path or pattern is read as "/", so those paths work unchanged; a POSIX
// name that itself holds a "\" cannot be reached through this body.
#include "pe_locate.h"
#include "scan_os.h"
#include "wildcard.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

// A readdir name always fits the record's fixed name field with its NUL.
static_assert(NAME_MAX < sizeof(FindData::cFileName));
// The reader caps a block's length, so it always fits the size query's 32-bit result.
static_assert(kMaxVersionBlockSize <= std::numeric_limits<std::uint32_t>::max());

/// What a plain file reports on Windows.
constexpr std::uint32_t kFileAttributeArchive = 0x20;

std::string ToPosixPath(const std::string &Path) {
  std::string posix = Path;
  std::replace(posix.begin(), posix.end(), '\\', '/');
  return posix;
}

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

/// One directory's entries, read in a single pass and kept in the order readdir gave them. A
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
  /// Why the directory could not be opened, or why readdir stopped before its end; else 0.
  int error = 0;

  std::string_view Name(const Entry &Of) const { return {names.data() + Of.offset, Of.length}; }

  /// Replaces the entries with those of \p PosixDir. False, with errno set, when it cannot be
  /// opened; a read that fails on the way keeps the entries before the failure.
  bool Read(const std::string &PosixDir) {
    names.clear();
    entries.clear();
    error = 0;
    const std::unique_ptr<DIR, int (*)(DIR *)> stream(opendir(PosixDir.c_str()), closedir);
    if (!stream) {
      error = errno;
      return false;
    }
    while (true) {
      // readdir tells its end from a failure only by errno, which the storing may touch.
      errno = 0;
      const dirent *entry = readdir(stream.get());
      if (entry == nullptr)
        break;
      const std::size_t length = strnlen(entry->d_name, NAME_MAX);
      entries.push_back({names.size(), length, entry->d_type});
      names.append(entry->d_name, length);
      names.push_back('\0');
    }
    error = errno;
    return true;
  }
};

class PosixScanOs final : public ScanOs {
public:
  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    const std::string posix = ToPosixPath(Pattern);
    const std::size_t slash = posix.rfind('/');
    const std::size_t dirLength = slash == std::string::npos ? 0 : slash + 1;
    Search search = StartSearch(Pattern.substr(0, dirLength), posix.substr(dirLength));
    // A pattern without a directory part searches the current directory, as on Windows; the
    // root's own "/" must stay, or "/*" would search "".
    const bool found = (search.replayed ||
                        search.listing.Read(dirLength == 0 ? "." : posix.substr(0, dirLength))) &&
                       Next(search, Data);
    const int error = errno;
    const std::lock_guard lock(mutex_);
    if (!found) {
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
    struct stat status {};
    // lstat, not stat: a link to a directory is not a directory, so no search loops through
    // links.
    if (lstat(ToPosixPath(Path).c_str(), &status) != 0)
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

  /// What lstat would answer for \p Path, taken from the enumeration's type where \p Path is
  /// the entry that the latest search step has just handed out and the type is known: the file
  /// search asks for exactly that entry's attributes next. Nothing for any other path.
  std::optional<std::uint32_t> ListedAttributes(const std::string &Path) {
    const std::lock_guard lock(mutex_);
    const auto it = searches_.find(current_);
    if (it == searches_.end() || it->second.returned == kNoEntry)
      return std::nullopt;
    const Listing &listing = it->second.listing;
    const Listing::Entry &entry = listing.entries[it->second.returned];
    const std::string_view name = listing.Name(entry);
    // A name holding "\" is taken apart on its way to lstat, which then finds another entry.
    if (entry.type == DT_UNKNOWN || name.find('\\') != std::string_view::npos)
      return std::nullopt;
    if (Path.size() != listing.dir.size() + name.size() || !Path.starts_with(listing.dir) ||
        !Path.ends_with(name))
      return std::nullopt;
    return AttributesOfType(entry.type);
  }

  /// The version block of \p FileName; errno tells why there is none.
  static std::optional<std::vector<std::byte>> ReadBlock(const std::string &FileName) {
    errno = 0;
    std::optional<std::vector<std::byte>> block = ReadVersionBlock(ToPosixPath(FileName));
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
};

} // namespace

ScanOs &PlatformScanOs() {
  static PosixScanOs os;
  return os;
}

} // namespace vorse
