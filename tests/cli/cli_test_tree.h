// Scratch trees for the scanner's tests: a temporary directory with programs planted in it.
#pragma once

#include "fakes/pe_image.h"
#include "fakes/scoped_temp_dir.h"

#include <string>

namespace vorse::test {

/// A scratch directory that can also hold programs.
class TestTree : public ScopedTempDir {
public:
  TestTree() : ScopedTempDir("vorse-cli-") {}

  /// Plants a program whose InternalName is \p InternalName.
  void Program(const std::string &Relative, std::u16string_view InternalName) const {
    const std::vector<std::byte> image = pe_image::PeImage(
        pe_image::VersionBlock({{u"InternalName", std::u16string(InternalName)}}));
    Write(Relative, std::string(reinterpret_cast<const char *>(image.data()), image.size()));
  }
};

} // namespace vorse::test
