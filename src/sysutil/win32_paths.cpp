// The calls that take a path, narrow or (for vorsescan.exe on the NT family) wide on paths in
// their extended-length form.
#include "sysutil/unicode.h"
#include "sysutil/win32_support.h"

namespace vorse::win32 {
namespace {

bool wide = false;

std::u16string AsUtf16(std::wstring_view Units) {
  return {Units.begin(), Units.end()};
}

std::wstring AsWide(std::u16string_view Units) {
  return {Units.begin(), Units.end()};
}

/// A query of the GetFullPathName kind that writes up to Size units of its answer into Buffer
/// and returns its length, or the room it needs: its whole answer, empty when it fails.
template <typename Char, typename Query> std::basic_string<Char> AskWhole(Query Ask) {
  std::basic_string<Char> buffer(MAX_PATH, Char{});
  DWORD length = Ask(buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(length, Char{});
    length = Ask(buffer.data(), length);
  }
  buffer.resize(length < buffer.size() ? length : 0);
  return buffer;
}

std::wstring FullPathOf(const std::wstring &Path) {
  return AskWhole<wchar_t>([&](wchar_t *Buffer, DWORD Size) {
    return ::GetFullPathNameW(Path.c_str(), Size, Buffer, nullptr);
  });
}

/// Hands the record of a search to the caller's attributes and name.
template <typename Record>
void TakeEntry(const Record &Entry, DWORD &Attributes, std::string &Name) {
  Attributes = Entry.dwFileAttributes;
  if constexpr (sizeof Entry.cFileName[0] == 1)
    Name.assign(Entry.cFileName, ::strnlen(Entry.cFileName, MAX_PATH));
  else
    Name = Narrow(std::wstring_view(Entry.cFileName, ::wcsnlen(Entry.cFileName, MAX_PATH)));
}

} // namespace

void UseWidePaths(bool On) {
  wide = On;
}

bool WidePaths() {
  return wide;
}

std::wstring Widen(std::string_view Text) {
  // Text that is no UTF-8 was written in the code page: a manifest line of the window's.
  if (const std::optional<std::u16string> units = wide ? Utf8ToUtf16(Text) : std::nullopt)
    return AsWide(*units);
  const int length = static_cast<int>(Text.size());
  const int units = ::MultiByteToWideChar(CP_ACP, 0, Text.data(), length, nullptr, 0);
  if (units <= 0)
    return {};
  std::wstring converted(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, Text.data(), length, converted.data(), units);
  return converted;
}

std::string Narrow(std::wstring_view Units) {
  if (wide)
    return Utf16ToUtf8(AsUtf16(Units));
  const int length = static_cast<int>(Units.size());
  const int bytes =
      ::WideCharToMultiByte(CP_ACP, 0, Units.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0)
    return {};
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, Units.data(), length, converted.data(), bytes, nullptr, nullptr);
  return converted;
}

std::wstring WidePath(const std::string &Path) {
  const std::wstring units = Widen(Path);
  if (units.empty())
    return units;
  return AsWide(ExtendedLengthPath(AsUtf16(units), [](const std::u16string &Relative) {
    return AsUtf16(FullPathOf(AsWide(Relative)));
  }));
}

std::string WithoutExtendedPrefix(const std::string &Path) {
  // "\\?\C:\dir" and "\\?\UNC\server\share" are the forms the wide calls give back.
  if (Path.starts_with("\\\\?\\UNC\\"))
    return "\\\\" + Path.substr(8);
  if (Path.starts_with("\\\\?\\"))
    return Path.substr(4);
  return Path;
}

HANDLE CreateFileAt(const std::string &Path, DWORD Access, DWORD Share,
                    SECURITY_ATTRIBUTES *Security, DWORD Disposition, DWORD Flags) {
  if (wide)
    return ::CreateFileW(WidePath(Path).c_str(), Access, Share, Security, Disposition, Flags,
                         nullptr);
  return ::CreateFileA(Path.c_str(), Access, Share, Security, Disposition, Flags, nullptr);
}

DWORD GetFileAttributesAt(const std::string &Path) {
  return wide ? ::GetFileAttributesW(WidePath(Path).c_str()) : ::GetFileAttributesA(Path.c_str());
}

BOOL DeleteFileAt(const std::string &Path) {
  return wide ? ::DeleteFileW(WidePath(Path).c_str()) : ::DeleteFileA(Path.c_str());
}

BOOL CreateDirectoryAt(const std::string &Path, SECURITY_ATTRIBUTES *Security) {
  return wide ? ::CreateDirectoryW(WidePath(Path).c_str(), Security)
              : ::CreateDirectoryA(Path.c_str(), Security);
}

BOOL DeleteFileLater(const std::string &Path, DWORD Flags) {
  return wide ? ::MoveFileExW(WidePath(Path).c_str(), nullptr, Flags)
              : ::MoveFileExA(Path.c_str(), nullptr, Flags);
}

HANDLE FindFirstFileAt(const std::string &Pattern, DWORD &Attributes, std::string &Name) {
  if (wide) {
    WIN32_FIND_DATAW record{};
    const HANDLE search = ::FindFirstFileW(WidePath(Pattern).c_str(), &record);
    if (search != INVALID_HANDLE_VALUE)
      TakeEntry(record, Attributes, Name);
    return search;
  }
  WIN32_FIND_DATAA record{};
  const HANDLE search = ::FindFirstFileA(Pattern.c_str(), &record);
  if (search != INVALID_HANDLE_VALUE)
    TakeEntry(record, Attributes, Name);
  return search;
}

BOOL FindNextFileAt(HANDLE Search, DWORD &Attributes, std::string &Name) {
  if (wide) {
    WIN32_FIND_DATAW record{};
    const BOOL found = ::FindNextFileW(Search, &record);
    if (found)
      TakeEntry(record, Attributes, Name);
    return found;
  }
  WIN32_FIND_DATAA record{};
  const BOOL found = ::FindNextFileA(Search, &record);
  if (found)
    TakeEntry(record, Attributes, Name);
  return found;
}

std::string FullPathName(const std::string &Path) {
  if (wide)
    return Narrow(FullPathOf(Widen(Path)));
  return AskWhole<char>([&](char *Buffer, DWORD Size) {
    return ::GetFullPathNameA(Path.c_str(), Size, Buffer, nullptr);
  });
}

std::string ShortPathName(const std::string &Path) {
  if (wide) {
    const std::wstring path = WidePath(Path);
    return WithoutExtendedPrefix(Narrow(AskWhole<wchar_t>([&](wchar_t *Buffer, DWORD Size) {
      return ::GetShortPathNameW(path.c_str(), Buffer, Size);
    })));
  }
  return AskWhole<char>(
      [&](char *Buffer, DWORD Size) { return ::GetShortPathNameA(Path.c_str(), Buffer, Size); });
}

bool SameName(const std::string &A, const std::string &B) {
  if (wide)
    return ::lstrcmpiW(Widen(A).c_str(), Widen(B).c_str()) == 0;
  return ::lstrcmpiA(A.c_str(), B.c_str()) == 0;
}

} // namespace vorse::win32
