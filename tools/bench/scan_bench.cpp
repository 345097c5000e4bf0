// scan_bench: the whole search-and-read over a tree shaped like a system directory, against
// the floor of merely opening each *.exe and reading its first 4 KiB.
#include "fakes/pe_image.h"
#include "scan/file_search.h"
#include "scan/scan_os.h"
#include "scan/version_data.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRootFiles = 2600;     // the flat top level, mostly libraries and data
constexpr int kSubdirectories = 240; // each with a few files and, for some, a chain below
constexpr int kFilesPerSubdir = 8;
constexpr int kChainDepth = 3; // every tenth subdirectory has directories nested below
constexpr int kRepetitions = 7;

struct Tree {
  fs::path root;
  std::vector<std::string> exes; // every *.exe, as POSIX paths, for the floor
  int files = 0;
  int directories = 0;
  int programs = 0;
};

void WriteFile(const fs::path &Path, const std::vector<std::byte> &Bytes) {
  std::ofstream(Path, std::ios::binary)
      .write(reinterpret_cast<const char *>(Bytes.data()),
             static_cast<std::streamsize>(Bytes.size()));
}

/// Adds one file: every twelfth a program with a version resource, named *.exe; every fortieth
/// an *.exe that is no program; the rest libraries and data that the search skips.
void AddFile(Tree &T, const fs::path &Dir, int Index, const std::vector<std::byte> &Program,
             const std::vector<std::byte> &Data) {
  std::string stem = "f";
  stem += std::to_string(Index);
  ++T.files;
  const bool program = Index % 12 == 0;
  if (program || Index % 40 == 7) {
    const fs::path path = Dir / (stem + (Index % 2 == 0 ? ".exe" : ".EXE"));
    WriteFile(path, program ? Program : Data);
    T.exes.push_back(path.string());
    T.programs += program ? 1 : 0;
    return;
  }
  WriteFile(Dir / (stem + (Index % 2 == 0 ? ".dll" : ".nls")), Data);
}

Tree MakeTree() {
  Tree t;
  std::random_device random;
  t.root = fs::temp_directory_path() / ("vorse-scan-bench-" + std::to_string(random()));
  fs::create_directory(t.root);
  // Programs about the size of small system programs: the block sits behind 20 KiB of code.
  std::vector<std::byte> program = vorse::pe_image::PeImage(
      vorse::pe_image::VersionBlock({{u"CompanyName", u"Example"},
                                     {u"FileDescription", u"A program of the system"},
                                     {u"InternalName", u"program"},
                                     {u"OriginalFilename", u"program.exe"}}));
  program.resize(program.size() + 20 * 1024);
  const std::vector<std::byte> data(6 * 1024, std::byte{0x5A});

  int index = 0;
  for (int i = 0; i < kRootFiles; ++i)
    AddFile(t, t.root, index++, program, data);
  for (int d = 0; d < kSubdirectories; ++d) {
    fs::path dir = t.root / ("Dir" + std::to_string(d));
    const int depth = d % 10 == 0 ? kChainDepth : 0;
    for (int level = 0; level <= depth; ++level) {
      fs::create_directory(dir);
      ++t.directories;
      for (int i = 0; i < kFilesPerSubdir; ++i)
        AddFile(t, dir, index++, program, data);
      dir /= "Nested";
    }
  }
  return t;
}

class CountingRows final : public vorse::RowSink {
public:
  void AddItem(const std::string &Text) override { rows_.push_back(Text); }
  std::vector<std::string> rows_;
};

/// FindFilesAPI over the tree, as the run starts.
std::vector<std::string> Search(const Tree &T) {
  CountingRows list;
  std::string path = T.root.string();
  std::int64_t files = 0;
  std::int64_t dirs = 0;
  vorse::FindFilesAPI(vorse::PlatformScanOs(), path, "*.exe", files, dirs, list);
  return std::move(list.rows_);
}

/// GetFileVersionData on every row, as the run goes on. Returns how many rows had a version
/// resource, so the work cannot be optimised away.
int Read(const std::vector<std::string> &Rows) {
  int withVersion = 0;
  for (const std::string &row : Rows)
    withVersion += vorse::GetFileVersionData(vorse::PlatformScanOs(), row) ? 1 : 0;
  return withVersion;
}

using Buffer = std::array<char, 4096>;

/// Opens \p Path and reads its first 4 KiB; 1 when that read anything.
int OpenAndRead(const std::string &Path, Buffer &Into) {
  const int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return 0;
  const int read = ::read(fd, Into.data(), Into.size()) > 0 ? 1 : 0;
  close(fd);
  return read;
}

bool IsExe(std::string_view Name) {
  return Name.size() >= 4 && strncasecmp(Name.data() + Name.size() - 4, ".exe", 4) == 0;
}

/// The floor: the least any scanner of the tree pays. One pass over each directory, the
/// entry's type taken from the enumeration, each *.exe opened and its first 4 KiB read.
int WalkFloor(const std::string &Dir, Buffer &Into) {
  DIR *dir = opendir(Dir.c_str());
  if (dir == nullptr)
    return 0;
  std::vector<std::string> subdirs;
  int read = 0;
  while (const dirent *entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (entry->d_type == DT_DIR && name != "." && name != "..")
      subdirs.push_back(Dir + "/" + entry->d_name);
    else if (entry->d_type != DT_DIR && IsExe(name))
      read += OpenAndRead(Dir + "/" + entry->d_name, Into);
  }
  closedir(dir);
  for (const std::string &subdir : subdirs)
    read += WalkFloor(subdir, Into);
  return read;
}

/// Only the opening and reading of each *.exe, with no walk at all to find them.
int OpenOnly(const Tree &T) {
  Buffer buffer{};
  int read = 0;
  for (const std::string &exe : T.exes)
    read += OpenAndRead(exe, buffer);
  return read;
}

/// The best of several timed runs, in seconds, after one untimed run that warms the caches.
template <typename Work> double BestSeconds(Work &&Run, int &Result) {
  Result = Run();
  double best = 1e9;
  for (int i = 0; i < kRepetitions; ++i) {
    const Clock::time_point start = Clock::now();
    Result = Run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

} // namespace

int main() {
  const Tree tree = MakeTree();
  std::printf("tree: %d files in %d directories; %zu *.exe, %d of them programs with a version "
              "resource\n",
              tree.files, tree.directories + 1, tree.exes.size(), tree.programs);

  std::vector<std::string> rows;
  int withVersion = 0;
  int opened = 0;
  const double search = BestSeconds(
      [&] {
        rows = Search(tree);
        return static_cast<int>(rows.size());
      },
      opened);
  const double read = BestSeconds([&] { return Read(rows); }, withVersion);
  int walked = 0;
  const double floor = BestSeconds(
      [&] {
        Buffer buffer{};
        return WalkFloor(tree.root.string(), buffer);
      },
      walked);
  const double openOnly = BestSeconds([&] { return OpenOnly(tree); }, opened);
  const double scan = search + read;
  const double exes = static_cast<double>(tree.exes.size());
  std::printf("search and read:   %8.0f *.exe/s  (%.2f ms: search %.2f ms, %.0f files/s walked; "
              "read %.2f ms, %d version blocks)\n",
              exes / scan, scan * 1e3, search * 1e3, tree.files / search, read * 1e3, withVersion);
  std::printf("floor:             %8.0f *.exe/s  (%.2f ms: one readdir pass per directory, "
              "each *.exe opened and 4 KiB read)\n",
              exes / floor, floor * 1e3);
  std::printf("open only:         %8.0f *.exe/s  (%.2f ms: the *.exe files opened and read "
              "from a list, no walk)\n",
              exes / openOnly, openOnly * 1e3);
  std::printf("result: scan_bench ratio %.2f to the floor (%.2f to open only; read alone %.2f)\n",
              scan / floor, scan / openOnly, read / openOnly);

  std::error_code ignored;
  fs::remove_all(tree.root, ignored);
  const bool complete = withVersion == tree.programs && opened == static_cast<int>(exes) &&
                        walked == opened && rows.size() == tree.exes.size();
  if (!complete)
    std::fprintf(stderr, "scan_bench: expected %zu rows, %d version blocks, %zu files read\n",
                 tree.exes.size(), tree.programs, tree.exes.size());
  return complete ? 0 : 1;
}
