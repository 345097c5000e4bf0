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
#include <mutex>
#include <optional>
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

class PosixScanOs final : public ScanOs {
public:
  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    const std::string posix = ToPosixPath(Pattern);
    const std::size_t slash = posix.rfind('/');
    // A pattern without a directory part searches the current directory, as on Windows; the
    // root's own "/" must stay, or "/*" would search "".
    const std::string dir = slash == std::string::npos ? "." : posix.substr(0, slash + 1);
    Search search{opendir(dir.c_str()), posix.substr(slash + 1)};
    if (search.dir == nullptr)
      return kInvalidFindHandle;
    if (!Next(search, Data)) {
      closedir(search.dir);
      return kInvalidFindHandle;
    }
    const std::lock_guard lock(mutex_);
    const FindHandle handle = nextHandle_++;
    searches_.emplace(handle, std::move(search));
    return handle;
  }

  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    const std::lock_guard lock(mutex_);
    const auto it = searches_.find(Handle);
    if (it == searches_.end()) {
      errno = EBADF;
      return 0;
    }
    return Next(it->second, Data) ? 1 : 0;
  }

  std::int32_t FindClose(FindHandle Handle) override {
    const std::lock_guard lock(mutex_);
    const auto it = searches_.find(Handle);
    if (it == searches_.end()) {
      errno = EBADF;
      return 0;
    }
    closedir(it->second.dir);
    searches_.erase(it);
    return 1;
  }

  std::uint32_t GetFileAttributesA(const std::string &Path) override {
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
  struct Search {
    DIR *dir;
    std::string pattern;
  };
  struct LastBlock {
    std::string fileName;
    std::vector<std::byte> block;
  };

  /// Moves \p Open on to its next entry matching its pattern and fills \p Data with it.
  /// False, with errno set, at the end of the directory or when reading it fails.
  static bool Next(Search &Open, FindData &Data) {
    errno = 0;
    while (const dirent *entry = readdir(Open.dir)) {
      if (!WildcardMatch(Open.pattern, entry->d_name))
        continue;
      const std::size_t length = strnlen(entry->d_name, NAME_MAX);
      std::memcpy(Data.cFileName, entry->d_name, length);
      Data.cFileName[length] = '\0';
      Data.dwFileAttributes = AttributesOfType(entry->d_type);
      return true;
    }
    // readdir leaves errno alone at the end; ENOENT stands for Windows' "no more files".
    if (errno == 0)
      errno = ENOENT;
    return false;
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
  std::optional<LastBlock> lastBlock_;
};

} // namespace

ScanOs &PlatformScanOs() {
  static PosixScanOs os;
  return os;
}

} // namespace vorse
