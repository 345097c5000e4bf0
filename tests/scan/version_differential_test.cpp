// Our version reader against the platform's version query, on real Windows files and the samples.
#include "samples/sample_path.h"
#include "scan/byte_reader.h"
#include "scan/pe_locate.h"
#include "sysutil/win32_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vorse {
namespace {

using Bytes = std::vector<std::byte>;

/// The names in \p Dir matching \p Pattern, directories or files as \p Directories says.
std::vector<std::string> List(const std::string &Dir, const std::string &Pattern,
                              bool Directories) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  const win32::ScopedFindHandle find(::FindFirstFileA((Dir + Pattern).c_str(), &data));
  if (!find)
    return names;
  do {
    const std::string name = data.cFileName;
    const bool isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (name != "." && name != ".." && isDirectory == Directories)
      names.push_back(Dir + name);
  } while (::FindNextFileA(find.get(), &data));
  return names;
}

/// Every file of the Windows libraries that Debian's wine packages install, under
/// /usr/lib/<triplet>/wine/<arch>-windows, reached through the drive Wine maps to the Unix root.
std::vector<std::string> WineLibraryFiles() {
  std::vector<std::string> files;
  for (const std::string &triplet : List("Z:\\usr\\lib\\", "*", true)) {
    for (const std::string &dir : List(triplet + "\\wine\\", "*-windows", true)) {
      const std::vector<std::string> found = List(dir + "\\", "*", false);
      files.insert(files.end(), found.begin(), found.end());
    }
  }
  return files;
}

/// The platform's version block of \p Path: what the version query writes, as long as the
/// size query says.
std::optional<Bytes> PlatformBlock(const std::string &Path) {
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(Path.c_str(), &handle);
  if (size == 0)
    return std::nullopt;
  Bytes block(size);
  if (!::GetFileVersionInfoA(Path.c_str(), handle, size, block.data()))
    return std::nullopt;
  return block;
}

/// Why our block and the platform's differ, or the empty text when they agree. The platform
/// may add bytes of its own after the block, so the two are compared up to the block's own
/// length (its first field), as far as our copy reaches.
std::string Difference(const std::optional<Bytes> &Ours, const std::optional<Bytes> &Theirs) {
  if (!Ours && !Theirs)
    return "";
  if (!Ours)
    return "the platform finds a version block, we find none";
  if (!Theirs)
    return "we find a version block, the platform finds none";
  const std::size_t length = std::min<std::size_t>(ReadU16(*Ours, 0).value_or(0), Ours->size());
  if (Theirs->size() < length)
    return "the platform's block is shorter";
  if (!std::equal(Ours->begin(), Ours->begin() + static_cast<std::ptrdiff_t>(length),
                  Theirs->begin()))
    return "the blocks' bytes differ";
  return "";
}

TEST(VersionDifferentialTest, OurReaderAgreesWithThePlatform) {
  std::vector<std::string> files = WineLibraryFiles();
  ASSERT_FALSE(files.empty()) << "no Windows libraries found under Z:\\usr\\lib\\*\\wine\\";
  const std::string samplesDir = test::SamplePath("");
  const std::vector<std::string> samples = List(samplesDir, "*.exe", false);
  EXPECT_FALSE(samples.empty()) << "no samples in " << samplesDir;
  files.insert(files.end(), samples.begin(), samples.end());

  std::size_t withBlock = 0;
  std::size_t differences = 0;
  for (const std::string &file : files) {
    const std::optional<Bytes> ours = ReadVersionBlock(file);
    const std::string difference = Difference(ours, PlatformBlock(file));
    if (!difference.empty()) {
      ++differences;
      ADD_FAILURE() << file << ": " << difference;
    }
    withBlock += ours ? 1 : 0;
  }
  // On a line of its own, for the test run's summary.
  std::fflush(stdout);
  std::printf("\nresult: version differential: %zu files compared (%zu with a version block), "
              "%zu differences\n",
              files.size(), withBlock, differences);
  std::fflush(stdout);
}

} // namespace
} // namespace vorse
