// Fuzz target: ExtractVersionEntries on a raw block, the first 4 bytes choosing the buffer size.
#include "scan/byte_reader.h"
#include "scan/version_data.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  const std::span<const std::byte> input = std::as_bytes(std::span(Data, Size));
  const std::optional<std::uint32_t> chosen = vorse::ReadU32(input, 0);
  if (!chosen)
    return 0;
  const std::span<const std::byte> block = input.subspan(4);
  // Sizes below and above the block's own both occur on real systems; bounded so that the
  // working text stays small.
  const auto size = static_cast<std::uint32_t>(*chosen % (2 * block.size() + 16));
  const vorse::VersionEntries entries = vorse::ExtractVersionEntries(block, size);
  // One entry per key, and no entry longer than the working text it was cut from.
  if (entries.size() != 1 || entries.front().size() > size + 32)
    std::abort();
  return 0;
}
