// WithdrawDeleteAtRestart: the registry list on the NT family, wininit.ini on the 9x family.
#include "app/wininit.h"
#include "cli/pending_deletes.h"
#include "sysutil/os_detect.h"
#include "sysutil/win32_support.h"

#include <algorithm>
#include <vector>

namespace vorse {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
/// wininit.ini is a few lines; anything far larger is not one we should rewrite.
constexpr DWORD kLargestWininit = 1 << 20;

std::error_code Win32Error(LONG Code) {
  return {static_cast<int>(Code), std::system_category()};
}

struct KeyCloser {
  HKEY key = nullptr;
  ~KeyCloser() {
    if (key != nullptr)
      ::RegCloseKey(key);
  }
};

std::u16string Widen(const std::string &Text) {
  const int length = static_cast<int>(Text.size());
  const int units = ::MultiByteToWideChar(CP_ACP, 0, Text.data(), length, nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0)
    ::MultiByteToWideChar(CP_ACP, 0, Text.data(), length, reinterpret_cast<wchar_t *>(wide.data()),
                          units);
  return wide;
}

/// The short (8.3) form of \p Path; empty when the system has none to give.
std::string ShortForm(const std::string &Path) {
  std::string buffer(MAX_PATH + 1, '\0');
  DWORD length = ::GetShortPathNameA(Path.c_str(), buffer.data(), MAX_PATH + 1);
  if (length > MAX_PATH) {
    buffer.assign(length, '\0');
    length = ::GetShortPathNameA(Path.c_str(), buffer.data(), length);
  }
  buffer.resize(length < buffer.size() ? length : 0);
  return buffer;
}

std::error_code WithdrawFromRegistry(const std::string &Path, bool &Withdrawn) {
  KeyCloser key;
  // Reading the list needs no more than a user has; changing it needs an administrator, and
  // only when there is something to change.
  LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, &key.key);
  const bool writable = status == ERROR_SUCCESS;
  if (status == ERROR_ACCESS_DENIED)
    status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key.key);
  if (status != ERROR_SUCCESS)
    return Win32Error(status);
  DWORD type = 0;
  DWORD bytes = 0;
  std::vector<BYTE> data;
  do {
    data.resize(bytes);
    status = ::RegQueryValueExW(key.key, kPendingValue, nullptr, &type,
                                data.empty() ? nullptr : data.data(), &bytes);
  } while (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && bytes > data.size()));
  if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && type != REG_MULTI_SZ))
    return {};
  if (status != ERROR_SUCCESS)
    return Win32Error(status);
  std::u16string value(bytes / sizeof(char16_t), u'\0');
  std::copy_n(data.data(), value.size() * sizeof(char16_t), reinterpret_cast<BYTE *>(value.data()));

  std::vector<std::u16string> sources{u"\\??\\" + Widen(Path)};
  if (const std::string shortForm = ShortForm(Path); !shortForm.empty() && shortForm != Path)
    sources.push_back(u"\\??\\" + Widen(shortForm));
  if (RemovePendingDeletes(value, sources) == 0)
    return {};
  if (!writable)
    return Win32Error(ERROR_ACCESS_DENIED);
  status = HoldsNoPendingOperation(value)
               ? ::RegDeleteValueW(key.key, kPendingValue)
               : ::RegSetValueExW(key.key, kPendingValue, 0, REG_MULTI_SZ,
                                  reinterpret_cast<const BYTE *>(value.data()),
                                  static_cast<DWORD>(value.size() * sizeof(char16_t)));
  if (status != ERROR_SUCCESS)
    return Win32Error(status);
  Withdrawn = true;
  return {};
}

/// The whole of \p Path in \p Text; \p Missing when there is no such file.
std::error_code ReadSmallFile(const std::string &Path, std::string &Text, bool &Missing) {
  const win32::ScopedFileHandle file(::CreateFileA(Path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                   nullptr));
  if (!file) {
    const std::error_code error = win32::LastError();
    Missing = error.value() == ERROR_FILE_NOT_FOUND;
    return Missing ? std::error_code() : error;
  }
  const DWORD size = ::GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE || size > kLargestWininit)
    return Win32Error(size == INVALID_FILE_SIZE ? ::GetLastError() : ERROR_FILE_TOO_LARGE);
  Text.assign(size, '\0');
  DWORD read = 0;
  if (size > 0 && (!::ReadFile(file.get(), Text.data(), size, &read, nullptr) || read != size))
    return read != size ? Win32Error(ERROR_READ_FAULT) : win32::LastError();
  return {};
}

std::error_code WriteNewFile(const std::string &Path, const std::string &Text) {
  win32::ScopedFileHandle file(::CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return win32::LastError();
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(Text.size());
  if (!::WriteFile(file.get(), Text.data(), size, &written, nullptr) || written != size ||
      !::FlushFileBuffers(file.get()))
    return written != size ? Win32Error(ERROR_WRITE_FAULT) : win32::LastError();
  return {};
}

/// The 9x family carries out the first [rename] section of wininit.ini at start-up. The new
/// text is written beside the file and put in its place only once complete; when that last
/// step fails, the old file goes back.
std::error_code WithdrawFromWininit(const std::string &Path, bool &Withdrawn) {
  std::string windows(MAX_PATH + 1, '\0');
  const UINT length = ::GetWindowsDirectoryA(windows.data(), MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH)
    return win32::LastError();
  windows.resize(length);
  const std::string ini = windows + (windows.ends_with('\\') ? "" : "\\") + "wininit.ini";
  std::string text;
  bool missing = false;
  if (const std::error_code error = ReadSmallFile(ini, text, missing); error || missing)
    return error;
  const std::vector<std::string> paths{ShortForm(Path), Path};
  const std::optional<std::string> kept = WithoutWininitDeletes(text, paths);
  if (!kept)
    return {};
  const std::string fresh = ini + ".new";
  const std::string old = ini + ".old";
  if (const std::error_code error = WriteNewFile(fresh, *kept)) {
    ::DeleteFileA(fresh.c_str());
    return error;
  }
  // MoveFileEx is not carried out on this family: the file is moved aside, then replaced.
  ::DeleteFileA(old.c_str());
  if (!::MoveFileA(ini.c_str(), old.c_str())) {
    const std::error_code error = win32::LastError();
    ::DeleteFileA(fresh.c_str());
    return error;
  }
  if (!::MoveFileA(fresh.c_str(), ini.c_str())) {
    const std::error_code error = win32::LastError();
    ::MoveFileA(old.c_str(), ini.c_str());
    return error;
  }
  ::DeleteFileA(old.c_str());
  Withdrawn = true;
  return {};
}

} // namespace

std::error_code WithdrawDeleteAtRestart(const std::string &Path, bool &Withdrawn) {
  Withdrawn = false;
  switch (OS_Detect(PlatformSysutilOs())) {
  case kPlatformNT:
    return WithdrawFromRegistry(Path, Withdrawn);
  case kPlatform9x:
    return WithdrawFromWininit(Path, Withdrawn);
  default:
    return {};
  }
}

} // namespace vorse
