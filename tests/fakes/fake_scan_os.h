// FakeScanOs: an in-memory file tree and version blocks behind the scan seam, recording calls.
#pragma once

#include "scan/row_sink.h"
#include "scan/scan_os.h"
#include "scan/wildcard.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace vorse {

/// A list box that keeps its rows.
class RowRecorder final : public RowSink {
public:
  void AddItem(const std::string &Text) override { rows_.push_back(Text); }
  const std::vector<std::string> &Rows() const { return rows_; }

private:
  std::vector<std::string> rows_;
};

/// Paths use "\" and directories are named with their trailing "\" ("C:\Sys\"). A directory's
/// entries come back in the order they were added, after "." and "..", as Windows gives them.
class FakeScanOs final : public ScanOs {
public:
  /// Adds the directory \p Dir (no trailing "\") and every parent it lacks.
  void AddDir(const std::string &Dir) { AddEntry(Dir, kFileAttributeDirectory); }
  /// Adds the file \p Path and every parent directory it lacks.
  void AddFile(const std::string &Path) { AddEntry(Path, kFileAttributeArchive); }
  /// Primes the version queries of \p Path: the size query reports \p ReportedSize, the data
  /// query writes \p Block (at most the size it is given).
  void SetVersionBlock(const std::string &Path, std::vector<std::byte> Block,
                       std::uint32_t ReportedSize) {
    versions_[Path] = {std::move(Block), ReportedSize};
  }

  /// Injected failures: GetFileAttributesA on \p Path returns the failure value.
  void FailAttributes(const std::string &Path) { failedAttributes_.insert(Path); }
  /// FindFirstFileA on \p Pattern returns the invalid handle.
  void FailSearch(const std::string &Pattern) { failedSearches_.insert(Pattern); }
  /// Every search of the directory \p Dir ("C:\Sys\") fails with EIO once it has listed
  /// \p Entries of its entries ("." and ".." among them), as a listing cut off on the way.
  void FailListingAfter(const std::string &Dir, std::size_t Entries) {
    cutListings_[Dir] = Entries;
  }
  /// GetFileVersionInfoA on \p Path returns 0.
  void FailVersionData(const std::string &Path) { failedVersionData_.insert(Path); }
  /// GetFileVersionInfoSizeA on \p Path fails as on a file in use without sharing.
  void FailOpen(const std::string &Path) { failedOpens_.insert(Path); }

  /// Every call made, one line each: the call's name and its text argument.
  const std::vector<std::string> &Calls() const { return calls_; }
  std::size_t OpenSearches() const { return searches_.size(); }
  std::size_t MostOpenSearches() const { return mostOpen_; }

  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    calls_.push_back("FindFirstFileA " + Pattern);
    const std::size_t slash = Pattern.rfind('\\');
    const auto dir = dirs_.find(Pattern.substr(0, slash + 1));
    // Injected failures are denied access; anything else found nothing there.
    lastError_ = failedSearches_.count(Pattern) ? EACCES : ENOENT;
    if (slash == std::string::npos || dir == dirs_.end() || failedSearches_.count(Pattern))
      return kInvalidFindHandle;
    Search search{{}, 0, false};
    const auto cut = cutListings_.find(dir->first);
    for (std::size_t i = 0; i < dir->second.size(); ++i) {
      search.cut = cut != cutListings_.end() && i >= cut->second;
      if (search.cut)
        break;
      if (WildcardMatch(Pattern.substr(slash + 1), dir->second[i]))
        search.names.push_back(dir->second[i]);
    }
    if (!Fill(search, Data))
      return kInvalidFindHandle;
    const FindHandle handle = nextHandle_++;
    searches_[handle] = std::move(search);
    mostOpen_ = std::max(mostOpen_, searches_.size());
    return handle;
  }
  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    calls_.push_back("FindNextFileA " + std::to_string(Handle));
    const auto it = searches_.find(Handle);
    return it != searches_.end() && Fill(it->second, Data) ? 1 : 0;
  }
  std::int32_t FindClose(FindHandle Handle) override {
    calls_.push_back("FindClose " + std::to_string(Handle));
    return searches_.erase(Handle) == 1 ? 1 : 0;
  }
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    calls_.push_back("GetFileAttributesA " + Path);
    const auto it = attributes_.find(Path);
    if (it == attributes_.end() || failedAttributes_.count(Path))
      return kInvalidFileAttributes;
    return it->second;
  }
  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    calls_.push_back("GetFileVersionInfoSizeA " + FileName);
    Handle = 0;
    const auto it = versions_.find(FileName);
    lastError_ = failedOpens_.count(FileName) ? EACCES : ENODATA;
    return it == versions_.end() || failedOpens_.count(FileName) ? 0 : it->second.reportedSize;
  }
  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t, std::uint32_t Size,
                                   void *Data) override {
    calls_.push_back("GetFileVersionInfoA " + FileName + " " + std::to_string(Size));
    const auto it = versions_.find(FileName);
    if (it == versions_.end() || failedVersionData_.count(FileName))
      return 0;
    const std::vector<std::byte> &block = it->second.block;
    std::memcpy(Data, block.data(), std::min<std::size_t>(block.size(), Size));
    return 1;
  }
  /// Files of memory cannot be held: what the scanner does with a found file is tested on
  /// real trees.
  std::error_code HoldFile(const std::string &FileName, std::unique_ptr<FoundFile> &) override {
    calls_.push_back("HoldFile " + FileName);
    return std::make_error_code(std::errc::operation_not_supported);
  }
  std::error_code LastError() override { return {lastError_, std::generic_category()}; }

private:
  static constexpr std::uint32_t kFileAttributeArchive = 0x20;

  struct Search {
    std::vector<std::string> names;
    std::size_t next;
    /// Whether the listing fails after its names instead of ending.
    bool cut;
  };
  struct Version {
    std::vector<std::byte> block;
    std::uint32_t reportedSize;
  };

  /// False at the end of \p Open, with the reason in lastError_: "no more files" (ENOENT, as
  /// the POSIX body gives it), or EIO where the listing is cut off.
  bool Fill(Search &Open, FindData &Data) {
    if (Open.next == Open.names.size()) {
      lastError_ = Open.cut ? EIO : ENOENT;
      return false;
    }
    // Like the real record, the name field keeps what a longer earlier name left behind the NUL.
    const std::string &name = Open.names[Open.next++];
    const std::size_t length = std::min(name.size(), sizeof Data.cFileName - 1);
    std::memcpy(Data.cFileName, name.data(), length);
    Data.cFileName[length] = '\0';
    return true;
  }

  void AddEntry(const std::string &Path, std::uint32_t Attributes) {
    if (attributes_.count(Path))
      return;
    attributes_[Path] = Attributes;
    if (Attributes == kFileAttributeDirectory)
      dirs_[Path + "\\"] = {".", ".."};
    const std::size_t slash = Path.rfind('\\');
    if (slash == std::string::npos)
      return;
    const std::string parent = Path.substr(0, slash);
    AddDir(parent);
    dirs_[parent + "\\"].push_back(Path.substr(slash + 1));
  }

  std::unordered_map<std::string, std::uint32_t> attributes_;
  std::map<std::string, std::vector<std::string>> dirs_;
  std::map<std::string, Version> versions_;
  std::set<std::string> failedAttributes_;
  std::set<std::string> failedSearches_;
  std::set<std::string> failedVersionData_;
  std::set<std::string> failedOpens_;
  std::map<std::string, std::size_t> cutListings_;
  int lastError_ = 0;
  std::map<FindHandle, Search> searches_;
  FindHandle nextHandle_ = 1;
  std::size_t mostOpen_ = 0;
  std::vector<std::string> calls_;
};

} // namespace vorse
