// FoundFile: the parts common to every system.
#include "scan/found_file.h"

namespace vorse {
namespace {

class FoundFileCategory final : public std::error_category {
public:
  const char *name() const noexcept override { return "found file"; }
  std::string message(int) const override {
    return "it is no longer the file that was examined: left as it is";
  }
};

} // namespace

bool FoundFile::Read(std::uint64_t Offset, std::span<std::byte> Out) {
  while (!Out.empty()) {
    std::size_t got = 0;
    if (ReadAt(Offset, Out, got) || got == 0)
      return false;
    Offset += got;
    Out = Out.subspan(got);
  }
  return true;
}

std::error_code FoundFileReplaced() {
  static const FoundFileCategory category;
  return {1, category};
}

} // namespace vorse
