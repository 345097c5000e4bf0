// vorse_seed_block: writes a file's version block as a seed for the key-search fuzz target.
#include "scan/pe_locate.h"

#include <cstdint>
#include <cstdio>
#include <fstream>

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vorse_seed_block FILE.exe OUTPUT\n");
    return 2;
  }
  const auto block = vorse::ReadVersionBlock(argv[1]);
  if (!block) {
    std::fprintf(stderr, "vorse_seed_block: %s has no version block\n", argv[1]);
    return 1;
  }
  // The target's input: the buffer size as 4 little-endian bytes, then the block.
  const auto size = static_cast<std::uint32_t>(block->size());
  const char prefix[4] = {static_cast<char>(size & 0xFF), static_cast<char>((size >> 8) & 0xFF),
                          static_cast<char>((size >> 16) & 0xFF),
                          static_cast<char>((size >> 24) & 0xFF)};
  std::ofstream out(argv[2], std::ios::binary);
  out.write(prefix, sizeof prefix);
  out.write(reinterpret_cast<const char *>(block->data()),
            static_cast<std::streamsize>(block->size()));
  if (!out) {
    std::fprintf(stderr, "vorse_seed_block: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
