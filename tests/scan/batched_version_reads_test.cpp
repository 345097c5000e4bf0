// Reading files in batches against reading each alone: the same outcome for every file, whatever
// its bytes, its length or its kind, and no wait on a named pipe.
#include "fakes/pe_image.h"
#include "fakes/scoped_temp_dir.h"
#include "samples/sample_path.h"
#include "scan/batched_version_reads.h"
#include "scan/pe_locate.h"
#include "sysutil/posix_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vorse {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;

class BatchedVersionReadsTest : public ::testing::Test {
protected:
  void SetUp() override {
    batches_ = BatchedVersionReads::Create();
    if (!batches_)
      GTEST_SKIP() << "this system gives the process no io_uring";
    dir_ = ScopedFd(open(tree_.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(dir_);
  }

  void Write(const std::string &Name, const Bytes &Content) {
    std::ofstream(tree_.Root() / Name, std::ios::binary)
        .write(reinterpret_cast<const char *>(Content.data()),
               static_cast<std::streamsize>(Content.size()));
    names_.push_back(Name);
  }

  /// Reads every file written, in batches, and checks each outcome against the file read alone.
  void ExpectSameAsAlone() { ExpectSameAsAlone(dir_.get(), names_); }

  /// The descriptors this process holds.
  static std::size_t OpenDescriptors() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
  }

  /// Reads \p Names of the directory open as \p Dir likewise.
  void ExpectSameAsAlone(int Dir, const std::vector<std::string> &Names) {
    for (std::size_t first = 0; first < Names.size(); first += BatchedVersionReads::kMaxFiles) {
      const std::span<const std::string> batch = std::span(Names).subspan(
          first, std::min(BatchedVersionReads::kMaxFiles, Names.size() - first));
      const std::vector<std::optional<BatchedVersionReads::Outcome>> outcomes =
          batches_->Read(Dir, batch);
      ASSERT_EQ(outcomes.size(), batch.size());
      for (std::size_t i = 0; i < batch.size(); ++i) {
        SCOPED_TRACE(batch[i]);
        errno = 0;
        const std::optional<Bytes> alone = ReadVersionBlockAt(Dir, batch[i].c_str(), true);
        const int aloneError = alone ? 0 : errno;
        // A file the batch could not open is read alone by its caller.
        if (!outcomes[i]) {
          EXPECT_FALSE(alone);
          EXPECT_NE(aloneError, 0);
          continue;
        }
        EXPECT_EQ(outcomes[i]->block, alone);
        EXPECT_EQ(outcomes[i]->error, aloneError);
      }
    }
  }

  test::ScopedTempDir tree_{"vorse-batch-"};
  ScopedFd dir_;
  std::unique_ptr<BatchedVersionReads> batches_;
  std::vector<std::string> names_;
};

Bytes FileBytes(const std::string &Path) {
  std::ifstream file(Path, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const auto *data = reinterpret_cast<const std::byte *>(text.data());
  return Bytes(data, data + text.size());
}

TEST_F(BatchedVersionReadsTest, EverySampleAndEveryCutOfItReadsAsAlone) {
  std::vector<Bytes> programs;
  for (const auto &entry : fs::directory_iterator(fs::path(test::SamplePath("")))) {
    if (entry.path().extension() == ".exe")
      programs.push_back(FileBytes(entry.path().string()));
  }
  ASSERT_FALSE(programs.empty());
  // A block far past the headers, as long as a block can be: read in a round of its own.
  const Bytes far = pe_image::PeImage(pe_image::VersionBlock(
      {{u"InternalName", u"Kern32"}, {u"Comments", std::u16string(30000, u'c')}}));
  programs.push_back(far);
  int n = 0;
  for (const Bytes &program : programs) {
    for (const std::size_t cut :
         {program.size(), program.size() - 1, program.size() / 2, std::size_t{4097},
          std::size_t{4096}, std::size_t{4095}, std::size_t{64}, std::size_t{0}}) {
      if (cut <= program.size())
        Write("p" + std::to_string(n++) + ".exe", Bytes(program.begin(), program.begin() + cut));
    }
  }
  // More sections than the batch reads ahead: that table is read alone.
  Bytes sections = programs.front();
  sections.resize(3 << 20);
  const std::uint32_t pe = std::to_integer<std::uint32_t>(sections[0x3C]) |
                           std::to_integer<std::uint32_t>(sections[0x3D]) << 8;
  sections[pe + 6] = sections[pe + 7] = std::byte{0xFF};
  Write("sections.exe", sections);
  ExpectSameAsAlone();
}

TEST_F(BatchedVersionReadsTest, PipesLinksAndMissingFilesReadAsAloneWithoutWaiting) {
  ASSERT_EQ(mkfifo((tree_.Root() / "no-writer.exe").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((tree_.Root() / "idle-writer.exe").c_str(), 0600), 0);
  // A writer that holds the pipe open and never writes: a read that waited would never end.
  const ScopedFd reader(open((tree_.Root() / "idle-writer.exe").c_str(), O_RDONLY | O_NONBLOCK));
  const ScopedFd writer(open((tree_.Root() / "idle-writer.exe").c_str(), O_WRONLY | O_NONBLOCK));
  ASSERT_TRUE(writer);
  fs::create_symlink(test::SamplePath("kern32.exe"), tree_.Root() / "link.exe");
  Write("empty.exe", {});
  names_.insert(names_.end(), {"no-writer.exe", "idle-writer.exe", "link.exe", "missing.exe"});
  ExpectSameAsAlone();
}

TEST_F(BatchedVersionReadsTest, AFailedWaitLetsNothingGoThatTheRingMayStillUse) {
  Write("kern32.exe", FileBytes(test::SamplePath("kern32.exe")));
  // Every wait of one batch of one file: its open, its reads, its close.
  int waits = 0;
  BatchedVersionReads::Create([&](io_uring *Ring, io_uring_cqe **Cqe) {
    ++waits;
    return io_uring_wait_cqe(Ring, Cqe);
  })->Read(dir_.get(), names_);
  ASSERT_GE(waits, 3);
  for (const int failing : {1, 2, waits}) {
    SCOPED_TRACE(failing);
    // The failing wait fills the lowest free descriptors first, so that one the ring has just
    // closed is taken again: a close made again would close it.
    std::vector<ScopedFd> taken;
    int wait = 0;
    batches_ = BatchedVersionReads::Create([&](io_uring *Ring, io_uring_cqe **Cqe) {
      if (++wait != failing)
        return io_uring_wait_cqe(Ring, Cqe);
      for (int i = 0; i < 8; ++i)
        taken.emplace_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
      return -EIO;
    });
    const std::size_t before = OpenDescriptors();
    ExpectSameAsAlone();
    // No descriptor is left open by the batch, nor closed twice.
    EXPECT_EQ(OpenDescriptors(), before + taken.size());
    for (const ScopedFd &fd : taken)
      EXPECT_NE(fcntl(fd.get(), F_GETFD), -1) << fd.get();
  }
}

TEST_F(BatchedVersionReadsTest, EveryWindowsLibraryOfWineReadsAsAlone) {
  // Real programs of every shape, where Debian's wine packages put them.
  std::size_t files = 0;
  for (const char *dir : {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                          "/usr/lib/i386-linux-gnu/wine/i386-windows"}) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(dir, error)) {
      if (entry.is_regular_file() && !entry.is_symlink())
        names.push_back(entry.path().filename().string());
    }
    const ScopedFd fd(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
      ExpectSameAsAlone(fd.get(), names);
    files += names.size();
  }
  if (files == 0)
    GTEST_SKIP() << "Wine's Windows libraries are not installed";
}

} // namespace
} // namespace vorse
