// Scratch trees for the scanner's tests: a temporary directory with programs planted in it.
#pragma once

#include "fakes/pe_image.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace vorse::test {

/// A directory of its own under the system's temporary directory, removed with its contents.
class TestTree {
public:
  TestTree() {
    std::random_device random;
    root_ = std::filesystem::temp_directory_path() / ("vorse-cli-" + std::to_string(random()));
    std::filesystem::create_directories(root_);
  }
  TestTree(const TestTree &) = delete;
  TestTree &operator=(const TestTree &) = delete;
  ~TestTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

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

  /// Plants a program whose InternalName is \p InternalName.
  void Program(const std::string &Relative, std::u16string_view InternalName) const {
    const std::vector<std::byte> image = pe_image::PeImage(
        pe_image::VersionBlock({{u"InternalName", std::u16string(InternalName)}}));
    Write(Relative, std::string(reinterpret_cast<const char *>(image.data()), image.size()));
  }

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
