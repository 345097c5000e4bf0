// ScopedTempDir: a scratch directory of a test's own on the real disk.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace vorse::test {

/// A directory of its own under the system's temporary directory, removed with its contents.
class ScopedTempDir {
public:
  /// \p Prefix starts the directory's name, telling whose scratch it was if one is left over.
  explicit ScopedTempDir(const std::string &Prefix) {
    root_ =
        std::filesystem::temp_directory_path() / (Prefix + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(root_);
  }
  ScopedTempDir(const ScopedTempDir &) = delete;
  ScopedTempDir &operator=(const ScopedTempDir &) = delete;
  ~ScopedTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  const std::filesystem::path &Root() const { return root_; }

  /// The full path of \p Relative ("sub/a.exe") in the system's own form.
  std::string Path(const std::string &Relative = "") const {
    return Relative.empty() ? root_.string() : (root_ / Relative).make_preferred().string();
  }

  /// Writes \p Bytes to \p Relative, creating its directories.
  void Write(const std::string &Relative, const std::string &Bytes) const {
    const std::filesystem::path path = root_ / Relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << Bytes;
  }

  /// The whole of \p Relative; empty when it cannot be read.
  std::string Read(const std::string &Relative) const {
    std::ifstream file(root_ / Relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }

  bool Exists(const std::string &Relative) const {
    return std::filesystem::exists(root_ / Relative);
  }

private:
  std::filesystem::path root_;
};

} // namespace vorse::test
