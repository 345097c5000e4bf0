// ScanRoot: the window's search and detection over one root, reporting each event as it comes.
#include "cli/scan_session.h"

#include "scan/file_search.h"
#include "scan/forwarding_scan_os.h"
#include "scan/found_file.h"
#include "scan/signatures.h"
#include "scan/version_data.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

namespace vorse {
namespace {

/// The length of the prefix "InternalName: " that every found entry carries.
constexpr std::size_t kEntryPrefix = 14;
/// What the scan searches for, as the window does.
constexpr std::string_view kSearchPattern = "*.exe";

/// The scan seam as the window's search sees it, with additions of the scanner's own:
/// - The directory test answers from the type the enumeration itself reported for the entry
///   just returned, where it reported one; only other entries are examined by their path.
///   The outcome is the same, without a query per entry.
/// - A directory search that fails for another reason than "nothing there", one whose listing
///   stops for another reason than its end, and a file whose version resource cannot be read,
///   are reported instead of passing in silence.
/// - An entry whose path would pass the system's path limit, or whose name the system's calls
///   would read as another entry's or none (a trailing dot, a device name), is reported as not
///   examined and not handed on: the system's calls could not reach it, or would reach another
///   entry.
/// - A directory that is one of its own ancestors (through a link or a junction) is not
///   searched again, so no loop of links can trap the scan.
class WatchingScanOs final : public ForwardingScanOs {
public:
  WatchingScanOs(ScanOs &Inner, CliOs &Cli, ScanListener &Listener)
      : ForwardingScanOs(Inner), cli_(Cli), listener_(Listener), pathLimit_(Cli.PathLimit()) {}

  bool RootFailed() const { return rootFailed_; }

  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    const std::size_t nameStart = Pattern.rfind('\\') + 1;
    const std::string dir = Pattern.substr(0, nameStart);
    if (dir != dir_)
      EnterDirectory(dir);
    entryName_.clear();
    if (refused_)
      return kInvalidFindHandle;
    listingAll_ = Pattern.compare(nameStart, std::string::npos, "*") == 0;
    const FindHandle handle = inner_.FindFirstFileA(Pattern, Data);
    if (handle == kInvalidFindHandle) {
      ReportSearchFailure(inner_.LastError());
      return handle;
    }
    if (Admit(Data) || Advance(handle, Data))
      return handle;
    inner_.FindClose(handle);
    return kInvalidFindHandle;
  }
  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    entryName_.clear();
    return Advance(Handle, Data) ? 1 : 0;
  }
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    if (IsLastEntry(Path) && entryAttributes_ != kInvalidFileAttributes)
      return entryAttributes_;
    return inner_.GetFileAttributesA(Path);
  }
  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    const std::uint32_t size = inner_.GetFileVersionInfoSizeA(FileName, Handle);
    if (size == 0)
      ReportUnreadableFile(FileName, inner_.LastError());
    return size;
  }
  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t Handle,
                                   std::uint32_t Size, void *Data) override {
    const std::int32_t read = inner_.GetFileVersionInfoA(FileName, Handle, Size, Data);
    if (read == 0)
      listener_.OnProblem(cli_.NativePath(FileName),
                          "cannot read file: " + ErrorText(inner_.LastError()));
    return read;
  }

private:
  struct Ancestor {
    std::string dir;
    std::optional<DirectoryId> id;
  };

  void EnterDirectory(const std::string &Dir) {
    const bool isRoot = dir_.empty();
    dir_ = Dir;
    reported_ = false;
    refused_ = false;
    // The search is depth first: the directories still above this one are exactly those
    // whose path starts this one's.
    while (!ancestors_.empty() && !Dir.starts_with(ancestors_.back().dir))
      ancestors_.pop_back();
    const std::optional<DirectoryId> id = cli_.IdentifyDirectory(Dir);
    const auto loop = std::find_if(ancestors_.begin(), ancestors_.end(),
                                   [&](const Ancestor &a) { return id && a.id == id; });
    if (loop != ancestors_.end()) {
      refused_ = true;
      listener_.OnLoop(cli_.NativePath(Dir), cli_.NativePath(loop->dir));
      return;
    }
    ancestors_.push_back({Dir, id});
    rootDir_ = isRoot ? Dir : rootDir_;
    listener_.OnDirectory(cli_.NativePath(Dir));
  }

  void ReportSearchFailure(std::error_code Error) {
    if (cli_.MeansNothingThere(Error))
      return;
    rootFailed_ = rootFailed_ || (!reported_ && dir_ == rootDir_);
    ReportUnsearched(Error);
  }

  /// The directory's listing failed: at its start, or on the way, which leaves the entries
  /// after the failure unseen.
  void ReportUnsearched(std::error_code Error) {
    // Both searches of a directory fail alike; one report is enough.
    if (reported_)
      return;
    reported_ = true;
    listener_.OnProblem(cli_.NativePath(dir_), "cannot read directory: " + ErrorText(Error));
  }

  void ReportUnreadableFile(const std::string &FileName, std::error_code Error) {
    // A directory named like a match is a row too; it has no version resource to read.
    const bool isDirectory = IsLastEntry(FileName) && entryAttributes_ != kInvalidFileAttributes &&
                             (entryAttributes_ & kFileAttributeDirectory) != 0;
    if (isDirectory || cli_.MeansNoVersionResource(Error))
      return;
    listener_.OnProblem(cli_.NativePath(FileName), "cannot read file: " + ErrorText(Error));
  }

  /// Moves \p Handle on to its next entry within the system's path limit.
  bool Advance(FindHandle Handle, FindData &Data) {
    while (inner_.FindNextFileA(Handle, Data) != 0) {
      if (Admit(Data))
        return true;
    }
    if (const std::error_code error = inner_.LastError(); !cli_.MeansNoMoreFiles(error))
      ReportUnsearched(error);
    return false;
  }

  /// Takes the entry in \p Data as the last one found, unless its path (and for a directory,
  /// the search of it) would pass the system's path limit: such an entry cannot be examined,
  /// and the listing of every entry says so.
  bool Admit(const FindData &Data) {
    entryName_ = RecordName(Data);
    entryAttributes_ = Data.dwFileAttributes;
    if (entryName_ == "." || entryName_ == "..")
      return true;
    const bool directory = (entryAttributes_ & kFileAttributeDirectory) != 0;
    // Reported where the file search would take it up: a directory from the listing of every
    // entry, a file from that of the matches.
    if (cli_.NarrowCallsRewrite(entryName_)) {
      if (directory == listingAll_)
        listener_.OnProblem(cli_.NativePath(dir_ + entryName_),
                            "not examined: the system's calls would open another entry under its "
                            "name, or none");
      entryName_.clear();
      return false;
    }
    if (pathLimit_ == 0)
      return true;
    const std::size_t longest =
        dir_.size() + entryName_.size() + (directory ? 1 + kSearchPattern.size() : 0);
    if (longest <= pathLimit_)
      return true;
    if (listingAll_)
      listener_.OnProblem(cli_.NativePath(dir_ + entryName_),
                          "not examined: its path is longer than the system allows");
    entryName_.clear();
    return false;
  }

  bool IsLastEntry(const std::string &Path) const {
    return !entryName_.empty() && Path.size() == dir_.size() + entryName_.size() &&
           Path.starts_with(dir_) && Path.ends_with(entryName_);
  }

  CliOs &cli_;
  ScanListener &listener_;
  const std::size_t pathLimit_;
  std::string dir_;
  std::string rootDir_;
  std::vector<Ancestor> ancestors_;
  bool reported_ = false;
  bool refused_ = false;
  bool rootFailed_ = false;
  /// Whether the current search lists every entry ("*") rather than the matches.
  bool listingAll_ = false;
  std::string entryName_;
  std::uint32_t entryAttributes_ = kInvalidFileAttributes;
};

/// Examines each row as the search appends it, as the window's run does with its list, but
/// without keeping the rows.
class ExaminingSink final : public RowSink {
public:
  ExaminingSink(ScanOs &Scan, CliOs &Cli, ScanListener &Listener)
      : scan_(Scan), cli_(Cli), listener_(Listener) {}
  void AddItem(const std::string &Text) override {
    listener_.OnFileExamined(Text);
    // The row as the search wrote it: trimming blanks, as the window does, could name
    // another file than the one found.
    const std::optional<VersionEntries> entries = GetFileVersionData(scan_, Text);
    if (!entries)
      return;
    const auto signature = std::find_if(entries->begin(), entries->end(), IsVorseSignature);
    if (signature == entries->end())
      return;
    std::unique_ptr<FoundFile> found;
    std::error_code notHeld = scan_.HoldFile(Text, found);
    // The entry may have been given to another file since the read: what is held must be a
    // file that the read would have found infected too.
    if (!notHeld && !StillInfected(*found)) {
      found.reset();
      notHeld = FoundFileReplaced();
    }
    listener_.OnInfected(cli_.NativePath(Text), signature->substr(kEntryPrefix), found.get(),
                         notHeld);
  }

private:
  static bool StillInfected(FoundFile &Found) {
    const std::optional<std::vector<std::byte>> block = LocateVersionBlock(Found);
    if (!block)
      return false;
    const VersionEntries entries =
        ExtractVersionEntries(*block, static_cast<std::uint32_t>(block->size()));
    return std::any_of(entries.begin(), entries.end(), IsVorseSignature);
  }

  ScanOs &scan_;
  CliOs &cli_;
  ScanListener &listener_;
};

/// \p Root without the separators that end it; FindFilesAPI appends its own "\". A root made
/// only of separators (the root directory) becomes empty, which the search reads as "\".
std::string SearchRoot(const std::string &Root) {
  const std::size_t last = Root.find_last_not_of("\\/");
  if (last == std::string::npos)
    return {};
  // "C:\" keeps its separator: "C:" alone means the drive's current directory.
  const bool driveRoot = Root[last] == ':' && last + 1 < Root.size();
  return Root.substr(0, driveRoot ? last + 2 : last + 1);
}

} // namespace

std::string ErrorText(std::error_code Error) {
  std::string text = Error.message();
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

bool ScanRoot(ScanOs &Scan, CliOs &Cli, const std::string &Root, ScanListener &Listener) {
  std::string path = SearchRoot(Cli.SearchForm(Root));
  const std::uint32_t attributes = Scan.GetFileAttributesA(path.empty() ? "\\" : path);
  if (attributes == kInvalidFileAttributes) {
    Listener.OnProblem(Root, "cannot read: " + ErrorText(Scan.LastError()));
    return false;
  }
  WatchingScanOs watching(Scan, Cli, Listener);
  ExaminingSink sink(watching, Cli, Listener);
  if ((attributes & kFileAttributeDirectory) == 0) {
    // A file named on the command line is examined whatever its name: the "*.exe" pattern
    // only chooses among the entries of a directory.
    sink.AddItem(path);
    return true;
  }
  std::int64_t fileCount = 0;
  std::int64_t dirCount = 0;
  FindFilesAPI(watching, path, std::string(kSearchPattern), fileCount, dirCount, sink);
  return !watching.RootFailed();
}

} // namespace vorse
