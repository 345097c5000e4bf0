// UTF-8 and UTF-16, and the extended-length form of a Windows path.
#include "sysutil/unicode.h"

namespace vorse {
namespace {

constexpr char32_t kHighSurrogate = 0xD800;
constexpr char32_t kLowSurrogate = 0xDC00;
constexpr char32_t kSurrogateEnd = 0xE000;

bool IsSeparator(char16_t Unit) {
  return Unit == u'\\' || Unit == u'/';
}

/// True when \p Path holds a part that only the system's rewriting gives a meaning to: "/",
/// or a "." or ".." part.
bool HasRelativeParts(std::u16string_view Path) {
  for (std::size_t start = 0; start <= Path.size();) {
    std::size_t end = start;
    while (end < Path.size() && !IsSeparator(Path[end]))
      ++end;
    const std::u16string_view part = Path.substr(start, end - start);
    if (part == u"." || part == u"..")
      return true;
    if (end < Path.size() && Path[end] == u'/')
      return true;
    start = end + 1;
  }
  return false;
}

/// "C:\..." or "\\server\share\...": a full path in the system's own form.
bool IsFull(std::u16string_view Path) {
  const bool drive = Path.size() >= 3 && Path[1] == u':' && Path[2] == u'\\';
  const bool share = Path.size() >= 2 && Path[0] == u'\\' && Path[1] == u'\\';
  return drive || share;
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view Bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(Bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80)
    return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
    high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (Bytes.size() < length || byte(1) < low || byte(1) > high)
    return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF)
      return 0;
  return length;
}

void AppendUtf8(std::string &Out, char32_t Code) {
  if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | (Code >> 6));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | (Code >> 12));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Code >> 18));
    Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
  }
  Out += static_cast<char>(0x80 | (Code & 0x3F));
}

namespace {

/// \p Utf8 in UTF-16, each byte outside a well-formed sequence as \p Replacement; nothing at
/// the first such byte without one.
std::optional<std::u16string> ToUtf16(std::string_view Utf8, std::optional<char16_t> Replacement) {
  std::u16string units;
  units.reserve(Utf8.size());
  while (!Utf8.empty()) {
    const std::size_t length = Utf8SequenceLength(Utf8);
    if (length == 0 && !Replacement)
      return std::nullopt;
    if (length == 0) {
      units += *Replacement;
      Utf8.remove_prefix(1);
      continue;
    }
    // The lead byte's own bits, then six from each byte that follows.
    constexpr unsigned char kLeadBits[] = {0x7F, 0x1F, 0x0F, 0x07};
    char32_t code = static_cast<unsigned char>(Utf8[0]) & kLeadBits[length - 1];
    for (std::size_t i = 1; i < length; ++i)
      code = (code << 6) | (static_cast<unsigned char>(Utf8[i]) & 0x3F);
    if (code >= 0x10000) {
      code -= 0x10000;
      units += static_cast<char16_t>(kHighSurrogate + (code >> 10));
      units += static_cast<char16_t>(kLowSurrogate + (code & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
    Utf8.remove_prefix(length);
  }
  return units;
}

} // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view Utf8) {
  return ToUtf16(Utf8, std::nullopt);
}

std::u16string Utf8ToUtf16Replacing(std::string_view Utf8) {
  return *ToUtf16(Utf8, u'\xFFFD');
}

std::string Utf16ToUtf8(std::u16string_view Units) {
  std::string text;
  text.reserve(Units.size());
  for (std::size_t i = 0; i < Units.size(); ++i) {
    const char32_t unit = Units[i];
    if (unit < 0x80) {
      text += static_cast<char>(unit);
    } else if (unit < kHighSurrogate || unit >= kSurrogateEnd) {
      AppendUtf8(text, unit);
    } else if (unit < kLowSurrogate && i + 1 < Units.size() && Units[i + 1] >= kLowSurrogate &&
               Units[i + 1] < kSurrogateEnd) {
      AppendUtf8(text, 0x10000 + ((unit - kHighSurrogate) << 10) + (Units[i + 1] - kLowSurrogate));
      ++i;
    } else {
      text += '?';
    }
  }
  return text;
}

std::u16string ExtendedLengthPath(std::u16string_view Path, const FullPathResolver &Resolve) {
  if (Path.starts_with(u"\\\\?\\") || Path.starts_with(u"\\\\.\\") || Path.starts_with(u"\\??\\"))
    return std::u16string(Path);
  std::u16string full;
  if (IsFull(Path) && !HasRelativeParts(Path)) {
    full = Path;
  } else {
    std::size_t nameStart = Path.size();
    while (nameStart > 0 && !IsSeparator(Path[nameStart - 1]) && Path[nameStart - 1] != u':')
      --nameStart;
    const std::u16string_view name = Path.substr(nameStart);
    if (name.empty() || name == u"." || name == u"..") {
      full = Resolve(std::u16string(Path));
    } else {
      // The folder is resolved alone, and the name put behind it as it is.
      const std::u16string_view folder = Path.substr(0, nameStart);
      full = Resolve(folder.empty() ? u"." : std::u16string(folder));
      if (!full.empty() && !IsSeparator(full.back()))
        full += u'\\';
      if (!full.empty())
        full += name;
    }
    if (full.empty())
      return full;
  }
  if (full.starts_with(u"\\\\?\\"))
    return full;
  if (full.starts_with(u"\\\\"))
    return u"\\\\?\\UNC\\" + full.substr(2);
  return u"\\\\?\\" + full;
}

} // namespace vorse
