// GetFileVersionData: the version block read as one flat 16-bit text, keys found by search.
#include "version_data.h"

#include <algorithm>
#include <string_view>

namespace vorse {
namespace {

/// The keys to report, separated by ";".
constexpr std::u16string_view kKeyList = u"InternalName";

/// What the working text holds wherever the block does not reach, and that unit's two bytes as
/// they stand in the text's storage, little-endian.
constexpr char16_t kSpace = u' ';
constexpr std::byte kSpaceLow{kSpace & 0xFF};
constexpr std::byte kSpaceHigh{kSpace >> 8};

/// The working text: \p Size units, all spaces, whose storage then receives the first bytes of
/// \p Block, at most \p Size of them. Each pair of bytes is one little-endian unit, put
/// together here from its two bytes so that the host's own byte order plays no part.
std::u16string WorkingText(std::span<const std::byte> Block, std::uint32_t Size) {
  std::u16string text(Size, kSpace);
  const std::size_t bytes = std::min<std::size_t>(Block.size(), Size);
  for (std::size_t i = 0; i + 1 < bytes; i += 2)
    text[i / 2] = static_cast<char16_t>(std::to_integer<unsigned>(Block[i]) |
                                        (std::to_integer<unsigned>(Block[i + 1]) << 8));
  // An odd last byte is only the low half of its unit; the high half stays the space's.
  if (bytes % 2 != 0)
    text[bytes / 2] = static_cast<char16_t>((std::to_integer<unsigned>(kSpaceHigh) << 8) |
                                            std::to_integer<unsigned>(Block[bytes - 1]));
  return text;
}

/// Key & ": " & value for the first occurrence of \p Key in \p Text, or the bare key.
std::u16string Entry(std::u16string_view Text, std::u16string_view Key) {
  const std::size_t found = Text.find(Key);
  if (found == std::u16string_view::npos)
    return std::u16string(Key);
  // In a well-formed block the unit after the key is its NUL terminator; it is passed over
  // unread, whatever it holds. A key at the very end leaves nothing for the value.
  std::size_t start = std::min(found + Key.size() + 1, Text.size());
  // Values start on a 32-bit boundary, so one NUL of padding may stand before the value.
  if (start < Text.size() && Text[start] == u'\0')
    ++start;
  // A value with no NUL after it (a damaged block) runs to the end of the text.
  std::size_t end = Text.find(u'\0', start);
  if (end == std::u16string_view::npos)
    end = Text.size();
  const std::u16string_view value = Text.substr(start, end - start);
  constexpr std::u16string_view kSeparator = u": ";
  std::u16string entry;
  entry.reserve(Key.size() + kSeparator.size() + value.size());
  entry.append(Key).append(kSeparator).append(value);
  return entry;
}

} // namespace

VersionEntries ExtractVersionEntries(std::span<const std::byte> Block, std::uint32_t Size) {
  const std::u16string text = WorkingText(Block, Size);
  VersionEntries entries;
  std::size_t begin = 0;
  while (true) {
    const std::size_t separator = kKeyList.find(u';', begin);
    entries.push_back(Entry(text, kKeyList.substr(begin, separator - begin)));
    if (separator == std::u16string_view::npos)
      return entries;
    begin = separator + 1;
  }
}

std::optional<VersionEntries> GetFileVersionData(ScanOs &Os, const std::string &FileName) {
  std::uint32_t handle = 0;
  const std::uint32_t size = Os.GetFileVersionInfoSizeA(FileName, handle);
  if (size == 0)
    return std::nullopt;
  // The storage of the working text is what the data query writes into: spaces first, so the
  // bytes it leaves untouched read as spaces, exactly as in the text itself.
  std::vector<std::byte> storage(size);
  // Unit by unit through a plain pointer, which the compiler turns into wide stores.
  std::byte *const units = storage.data();
  for (std::size_t unit = 0; unit < size / 2; ++unit) {
    units[2 * unit] = kSpaceLow;
    units[2 * unit + 1] = kSpaceHigh;
  }
  if (size % 2 != 0)
    storage.back() = kSpaceLow;
  if (Os.GetFileVersionInfoA(FileName, handle, size, storage.data()) == 0)
    return std::nullopt;
  return ExtractVersionEntries(storage, size);
}

} // namespace vorse
