// GetFileVersionData: the version block read as one flat 16-bit text, keys found by search.
#include "version_data.h"

#include <algorithm>
#include <string_view>

namespace vorse {
namespace {

/// The keys to report, separated by ";".
constexpr std::u16string_view kKeyList = u"InternalName";

/// A space as it stands in the working text's storage: one little-endian unit.
constexpr std::byte kSpaceLow{0x20};
constexpr std::byte kSpaceHigh{0x00};

/// The working text: \p Size units, all spaces, whose storage then receives the first bytes of
/// \p Block, at most \p Size of them. Each pair of bytes is one little-endian unit, put
/// together here byte by byte so that the host's own byte order plays no part.
std::u16string WorkingText(std::span<const std::byte> Block, std::uint32_t Size) {
  std::u16string text(Size, u' ');
  const std::size_t bytes = std::min<std::size_t>(Block.size(), Size);
  for (std::size_t i = 0; i < bytes; ++i) {
    const auto value = std::to_integer<unsigned>(Block[i]);
    char16_t &unit = text[i / 2];
    unit = (i % 2 == 0) ? static_cast<char16_t>((unit & 0xFF00u) | value)
                        : static_cast<char16_t>((unit & 0x00FFu) | (value << 8));
  }
  return text;
}

/// Key & ": " & value for the first occurrence of \p Key in \p Text, or the bare key.
std::u16string Entry(std::u16string_view Text, std::u16string_view Key) {
  const std::size_t found = Text.find(Key);
  std::u16string entry(Key);
  if (found == std::u16string_view::npos)
    return entry;
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
  entry += u": ";
  entry += Text.substr(start, end - start);
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
  for (std::size_t i = 0; i < storage.size(); ++i)
    storage[i] = (i % 2 == 0) ? kSpaceLow : kSpaceHigh;
  if (Os.GetFileVersionInfoA(FileName, handle, size, storage.data()) == 0)
    return std::nullopt;
  return ExtractVersionEntries(storage, size);
}

} // namespace vorse
