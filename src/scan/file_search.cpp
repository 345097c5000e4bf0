// FindFilesAPI and StripNulls: two directory searches per level, then the descent.
#include "file_search.h"

#include <set>
#include <string_view>
#include <utility>
#include <vector>

namespace vorse {
namespace {

/// Ends a directory search when it goes out of scope, also when a row sink throws.
class FindCloser {
public:
  FindCloser(ScanOs &Os, FindHandle Handle) : os_(Os), handle_(Handle) {}
  FindCloser(const FindCloser &) = delete;
  FindCloser &operator=(const FindCloser &) = delete;
  // FindClose's result is ignored: the search is over either way.
  ~FindCloser() { os_.FindClose(handle_); }

private:
  ScanOs &os_;
  FindHandle handle_;
};

/// The text of \p Field up to its first NUL, or all of it when it holds none.
std::string_view UpToFirstNul(std::string_view Field) {
  return Field.substr(0, Field.find('\0'));
}

/// Runs one directory search of \p Dir for \p Pattern and hands every entry but "." and ".."
/// to \p OnEntry, as its name and its full path Dir & name, in the order the search returns
/// them. A search that cannot start is skipped in silence; a failed step ends it like the last
/// entry does.
template <typename Handler>
void ForEachEntry(ScanOs &Os, const std::string &Dir, const std::string &Pattern,
                  Handler &&OnEntry) {
  FindData data;
  const FindHandle handle = Os.FindFirstFileA(Dir + Pattern, data);
  if (handle == kInvalidFindHandle)
    return;
  const FindCloser closer(Os, handle);
  // One path for the whole search: each entry's name replaces the one before behind Dir.
  std::string path = Dir;
  do {
    const std::string_view name = RecordName(data);
    if (name == "." || name == "..")
      continue;
    path.resize(Dir.size());
    path += name;
    OnEntry(name, path);
  } while (Os.FindNextFileA(handle, data) != 0);
}

/// The first pass over \p Dir: the names of its subdirectories, in the order found. An entry
/// whose attributes cannot be read has every bit set, the directory bit too, and is kept.
std::vector<std::string> CollectSubdirectories(ScanOs &Os, const std::string &Dir,
                                               std::int64_t &DirCount) {
  std::vector<std::string> subdirs;
  ForEachEntry(Os, Dir, "*", [&](std::string_view Name, const std::string &Path) {
    if ((Os.GetFileAttributesA(Path) & kFileAttributeDirectory) == 0)
      return;
    subdirs.emplace_back(Name);
    ++DirCount;
  });
  return subdirs;
}

/// The second pass over \p Dir: a row for every entry matching \p SearchStr. No attribute
/// test here, so a directory whose name matches is a row too.
void ListMatches(ScanOs &Os, const std::string &Dir, const std::string &SearchStr,
                 std::int64_t &FileCount, RowSink &List1) {
  ForEachEntry(Os, Dir, SearchStr, [&](std::string_view, const std::string &Path) {
    ++FileCount;
    List1.AddItem(Path);
  });
}

} // namespace

std::string StripNulls(std::string &OriginalStr) {
  OriginalStr.resize(UpToFirstNul(OriginalStr).size());
  return OriginalStr;
}

std::string_view RecordName(const FindData &Data) {
  return UpToFirstNul({Data.cFileName, sizeof Data.cFileName});
}

void FindFilesAPI(ScanOs &Os, std::string &Path, const std::string &SearchStr,
                  std::int64_t &FileCount, std::int64_t &DirCount, RowSink &List1,
                  const DirectoryIdentifier &Identify) {
  if (Path.empty() || Path.back() != '\\')
    Path += '\\';
  // The descent runs on this stack instead of the call stack, so no depth of tree can exhaust
  // it. The next directory to search is on top; pushing a level's subdirectories in reverse
  // keeps them in the order found, and each one's whole tree is done before the next one.
  // Both searches of a level are closed before any subdirectory is opened.
  std::vector<std::string> pending{Path};
  std::set<DirectoryId> searched;
  while (!pending.empty()) {
    const std::string dir = std::move(pending.back());
    pending.pop_back();
    if (Identify) {
      const std::optional<DirectoryId> id = Identify(dir);
      if (id && !searched.insert(*id).second)
        continue;
    }
    const std::vector<std::string> subdirs = CollectSubdirectories(Os, dir, DirCount);
    ListMatches(Os, dir, SearchStr, FileCount, List1);
    for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
      pending.push_back(dir + *it + '\\');
  }
}

} // namespace vorse
