// FindFilesAPI and StripNulls: two directory searches per level, then the descent.
#include "file_search.h"

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

/// Runs one directory search for \p Pattern and hands every entry's name but "." and ".." to
/// \p OnName, in the order the search returns them. A search that cannot start is skipped in
/// silence; a failed step ends it like the last entry does.
template <typename Handler>
void ForEachEntry(ScanOs &Os, const std::string &Pattern, Handler &&OnName) {
  FindData data;
  const FindHandle handle = Os.FindFirstFileA(Pattern, data);
  if (handle == kInvalidFindHandle)
    return;
  const FindCloser closer(Os, handle);
  do {
    std::string name(data.cFileName, sizeof data.cFileName);
    StripNulls(name);
    if (name == "." || name == "..")
      continue;
    OnName(name);
  } while (Os.FindNextFileA(handle, data) != 0);
}

/// The first pass over \p Dir: the names of its subdirectories, in the order found. An entry
/// whose attributes cannot be read has every bit set, the directory bit too, and is kept.
std::vector<std::string> CollectSubdirectories(ScanOs &Os, const std::string &Dir,
                                               std::int64_t &DirCount) {
  std::vector<std::string> subdirs;
  ForEachEntry(Os, Dir + "*", [&](std::string &Name) {
    if ((Os.GetFileAttributesA(Dir + Name) & kFileAttributeDirectory) == 0)
      return;
    subdirs.push_back(std::move(Name));
    ++DirCount;
  });
  return subdirs;
}

/// The second pass over \p Dir: a row for every entry matching \p SearchStr. No attribute
/// test here, so a directory whose name matches is a row too.
void ListMatches(ScanOs &Os, const std::string &Dir, const std::string &SearchStr,
                 std::int64_t &FileCount, RowSink &List1) {
  ForEachEntry(Os, Dir + SearchStr, [&](const std::string &Name) {
    ++FileCount;
    List1.AddItem(Dir + Name);
  });
}

} // namespace

std::string StripNulls(std::string &OriginalStr) {
  const std::size_t nul = OriginalStr.find('\0');
  if (nul != std::string::npos)
    OriginalStr.resize(nul);
  return OriginalStr;
}

void FindFilesAPI(ScanOs &Os, std::string &Path, const std::string &SearchStr,
                  std::int64_t &FileCount, std::int64_t &DirCount, RowSink &List1) {
  if (Path.empty() || Path.back() != '\\')
    Path += '\\';
  // The descent runs on this stack instead of the call stack, so no depth of tree can exhaust
  // it. The next directory to search is on top; pushing a level's subdirectories in reverse
  // keeps them in the order found, and each one's whole tree is done before the next one.
  // Both searches of a level are closed before any subdirectory is opened.
  std::vector<std::string> pending{Path};
  while (!pending.empty()) {
    const std::string dir = std::move(pending.back());
    pending.pop_back();
    const std::vector<std::string> subdirs = CollectSubdirectories(Os, dir, DirCount);
    ListMatches(Os, dir, SearchStr, FileCount, List1);
    for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it)
      pending.push_back(dir + *it + '\\');
  }
}

} // namespace vorse
