// Fuzz target: LocateVersionBlock on any bytes, then the key search on whatever block it finds.
#include "scan/pe_locate.h"
#include "scan/version_data.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *Data, std::size_t Size) {
  vorse::MemoryByteSource source(std::as_bytes(std::span(Data, Size)));
  const auto block = vorse::LocateVersionBlock(source);
  if (!block)
    return 0;
  // A block is never empty, never larger than the file and never past the cap.
  if (block->empty() || block->size() > Size || block->size() > vorse::kMaxVersionBlockSize)
    std::abort();
  vorse::ExtractVersionEntries(*block, static_cast<std::uint32_t>(block->size()));
  return 0;
}
