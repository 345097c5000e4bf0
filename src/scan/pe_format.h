// The published layout of a PE file's headers, as offsets from each structure's start, and the
// mapping of an address in the loaded image to the file's bytes. Shared by every reader of PE
// headers: the version-resource locator and the build's import check.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vorse::pe {

inline constexpr std::uint16_t kDosMagic = 0x5A4D; // "MZ"
inline constexpr std::uint64_t kDosNewHeaderField = 0x3C;
inline constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
// The file header follows the 4-byte signature.
inline constexpr std::uint64_t kFileHeaderMachine = 4 + 0;
inline constexpr std::uint64_t kFileHeaderSectionCount = 4 + 2;
inline constexpr std::uint64_t kFileHeaderOptionalSize = 4 + 16;
inline constexpr std::uint64_t kOptionalHeaderStart = 4 + 20;
inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
/// MajorOperatingSystemVersion and MajorSubsystemVersion within the optional header (of either
/// width), each followed by its minor version: the oldest Windows the loader is asked to run on.
inline constexpr std::uint64_t kOptionalOsVersion = 40;
inline constexpr std::uint64_t kOptionalSubsystemVersion = 48;
/// NumberOfRvaAndSizes within the optional header; the data directories follow it.
inline constexpr std::uint64_t kPe32DirectoryCount = 92;
inline constexpr std::uint64_t kPe32PlusDirectoryCount = 108;
inline constexpr std::uint64_t kDataDirectorySize = 8;
inline constexpr std::uint64_t kSectionHeaderSize = 40;
inline constexpr std::uint64_t kSectionVirtualAddress = 12;
inline constexpr std::uint64_t kSectionRawSize = 16;
inline constexpr std::uint64_t kSectionRawOffset = 20;

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
};

/// Where the byte at \p Rva is stored in the file: in the first section whose raw data covers
/// it, as the platform maps a file it reads as data. Nothing when no section covers it.
inline std::optional<std::uint64_t> RvaToOffset(std::span<const Section> Sections,
                                                std::uint32_t Rva) {
  for (const Section &section : Sections) {
    if (Rva >= section.virtualAddress && Rva - section.virtualAddress < section.rawSize)
      return std::uint64_t{section.rawOffset} + (Rva - section.virtualAddress);
  }
  return std::nullopt;
}

} // namespace vorse::pe
