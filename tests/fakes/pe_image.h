// Version blocks and minimal PE32 files made in code, for tests and the scan benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vorse::pe_image {

/// Bytes under construction, little-endian, growing as fields are put.
class Bytes {
public:
  void Put16(std::size_t Offset, std::uint16_t Value) { PutLe(Offset, Value, 2); }
  void Put32(std::size_t Offset, std::uint32_t Value) { PutLe(Offset, Value, 4); }
  /// Appends \p Text as UTF-16LE with its NUL unit.
  void AppendText(std::u16string_view Text) {
    for (const char16_t unit : Text)
      Put16(data_.size(), unit);
    Put16(data_.size(), 0);
  }
  void Append(std::span<const std::byte> More) {
    data_.insert(data_.end(), More.begin(), More.end());
  }
  void AlignTo(std::size_t Alignment) {
    data_.resize((data_.size() + Alignment - 1) / Alignment * Alignment);
  }
  /// Pads with zero bytes up to \p Offset.
  void PadTo(std::size_t Offset) {
    if (data_.size() < Offset)
      data_.resize(Offset);
  }
  std::size_t Size() const { return data_.size(); }
  std::vector<std::byte> Take() { return std::move(data_); }

private:
  void PutLe(std::size_t Offset, std::uint32_t Value, std::size_t Width) {
    if (data_.size() < Offset + Width)
      data_.resize(Offset + Width);
    for (std::size_t i = 0; i < Width; ++i)
      data_[Offset + i] = static_cast<std::byte>((Value >> (8 * i)) & 0xFF);
  }
  std::vector<std::byte> data_;
};

/// One node of a version resource: length, value length, type, key, padding, value, padding,
/// children. Each node is padded to a 32-bit boundary behind it.
inline std::vector<std::byte> Node(std::u16string_view Key, std::span<const std::byte> Value,
                                   std::uint16_t ValueLength, std::uint16_t Type,
                                   std::span<const std::byte> Children) {
  Bytes node;
  node.Put16(2, ValueLength);
  node.Put16(4, Type);
  node.AppendText(Key);
  node.AlignTo(4);
  node.Append(Value);
  node.AlignTo(4);
  node.Append(Children);
  node.Put16(0, static_cast<std::uint16_t>(node.Size()));
  node.AlignTo(4);
  return node.Take();
}

/// A VS_VERSIONINFO block with the fixed file information and one string table, "040904b0",
/// holding \p Strings as key and value pairs, in order.
inline std::vector<std::byte>
VersionBlock(const std::vector<std::pair<std::u16string, std::u16string>> &Strings) {
  Bytes strings;
  for (const auto &[key, value] : Strings) {
    Bytes text;
    text.AppendText(value);
    const std::vector<std::byte> textBytes = text.Take();
    strings.Append(Node(key, textBytes, static_cast<std::uint16_t>(value.size() + 1), 1, {}));
  }
  const std::vector<std::byte> table = Node(u"040904b0", {}, 0, 1, strings.Take());
  const std::vector<std::byte> stringInfo = Node(u"StringFileInfo", {}, 0, 1, table);
  Bytes fixed;
  fixed.Put32(0, 0xFEEF04BDu); // the fixed information's signature
  fixed.Put32(4, 0x00010000u); // its structure version
  fixed.Put32(48, 0);          // 52 bytes in all
  const std::vector<std::byte> fixedBytes = fixed.Take();
  return Node(u"VS_VERSION_INFO", fixedBytes, static_cast<std::uint16_t>(fixedBytes.size()), 0,
              stringInfo);
}

/// A PE32 file of one section, ".rsrc", whose resource tree holds \p Block as the version
/// resource: type 16, name 1, language 0x409.
inline std::vector<std::byte> PeImage(std::span<const std::byte> Block) {
  constexpr std::uint32_t kPeOffset = 0x40;
  constexpr std::uint32_t kOptional = kPeOffset + 4 + 20;
  constexpr std::uint32_t kSection = kOptional + 0xE0;
  constexpr std::uint32_t kFileAlignment = 0x200;
  constexpr std::uint32_t kSectionRva = 0x1000;
  constexpr std::uint32_t kBlockOffset = 0x58; // behind three directories and the data entry
  const auto rawSize = static_cast<std::uint32_t>(kBlockOffset + Block.size());
  const std::uint32_t alignedRaw = (rawSize + kFileAlignment - 1) / kFileAlignment * kFileAlignment;

  Bytes file;
  file.Put16(0, 0x5A4D); // "MZ"
  file.Put32(0x3C, kPeOffset);
  file.Put32(kPeOffset, 0x00004550);          // "PE\0\0"
  file.Put16(kPeOffset + 4, 0x014C);          // i386
  file.Put16(kPeOffset + 6, 1);               // one section
  file.Put16(kPeOffset + 20, 0xE0);           // size of the optional header
  file.Put16(kPeOffset + 22, 0x0102);         // executable, 32-bit
  file.Put16(kOptional, 0x010B);              // PE32
  file.Put32(kOptional + 28, 0x00400000);     // image base
  file.Put32(kOptional + 32, kSectionRva);    // section alignment
  file.Put32(kOptional + 36, kFileAlignment); // file alignment
  file.Put16(kOptional + 40, 4);              // operating system version
  file.Put16(kOptional + 48, 4);              // subsystem version
  file.Put32(kOptional + 56, kSectionRva + (rawSize + 0xFFF) / 0x1000 * 0x1000); // image size
  file.Put32(kOptional + 60, kFileAlignment);      // size of the headers
  file.Put16(kOptional + 68, 2);                   // GUI subsystem
  file.Put32(kOptional + 72, 0x100000);            // stack reserve
  file.Put32(kOptional + 76, 0x1000);              // stack commit
  file.Put32(kOptional + 80, 0x100000);            // heap reserve
  file.Put32(kOptional + 84, 0x1000);              // heap commit
  file.Put32(kOptional + 92, 16);                  // data directories
  file.Put32(kOptional + 96 + 2 * 8, kSectionRva); // the resource directory
  file.Put32(kOptional + 96 + 2 * 8 + 4, rawSize);
  file.Put32(kSection, 0x7273722E); // ".rsr"
  file.Put16(kSection + 4, 0x0063); // "c"
  file.Put32(kSection + 8, rawSize);
  file.Put32(kSection + 12, kSectionRva);
  file.Put32(kSection + 16, alignedRaw);
  file.Put32(kSection + 20, kFileAlignment);
  file.Put32(kSection + 36, 0x40000040); // initialised data, readable

  // Three levels of one entry each (type, name, language), then the data entry.
  const std::uint32_t section = kFileAlignment;
  const std::uint32_t ids[3] = {16, 1, 0x409};
  for (std::uint32_t level = 0; level < 3; ++level) {
    const std::uint32_t dir = section + level * 0x18;
    file.Put16(dir + 14, 1); // one entry by id
    file.Put32(dir + 16, ids[level]);
    const std::uint32_t next = (level + 1) * 0x18;
    file.Put32(dir + 20, level < 2 ? (0x80000000u | next) : next);
  }
  file.Put32(section + 0x48, kSectionRva + kBlockOffset);
  file.Put32(section + 0x4C, static_cast<std::uint32_t>(Block.size()));
  file.PadTo(section + kBlockOffset);
  file.Append(Block);
  file.AlignTo(kFileAlignment);
  return file.Take();
}

} // namespace vorse::pe_image
