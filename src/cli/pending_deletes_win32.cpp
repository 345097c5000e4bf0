// RestartRegistrations: the registry list on the NT family, wininit.ini on the 9x family.
#include "cli/pending_deletes.h"
#include "sysutil/os_detect.h"
#include "sysutil/win32_support.h"

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

/// Opens the Session Manager key with \p Access.
std::error_code OpenSessionManager(REGSAM Access, KeyCloser &Key) {
  const LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, Access, &Key.key);
  return status == ERROR_SUCCESS ? std::error_code() : Win32Error(status);
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

/// The path of wininit.ini in the Windows folder; empty when the system does not say.
std::string WininitPath() {
  std::string windows(MAX_PATH + 1, '\0');
  const UINT length = ::GetWindowsDirectoryA(windows.data(), MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH)
    return {};
  windows.resize(length);
  return windows + (windows.ends_with('\\') ? "" : "\\") + "wininit.ini";
}

class Win32RestartRegistrations final : public RestartRegistrations {
public:
  std::int32_t Family() override { return OS_Detect(PlatformSysutilOs()); }
  std::u16string Widen(const std::string &Path) override {
    const std::wstring wide = win32::Widen(Path);
    return {wide.begin(), wide.end()};
  }
  std::error_code ReadPendingOperations(std::string &Bytes, bool &Present) override {
    // Reading the list needs no more than a user has.
    KeyCloser key;
    if (const std::error_code error = OpenSessionManager(KEY_QUERY_VALUE, key))
      return error;
    DWORD type = 0;
    DWORD bytes = 0;
    LONG status = ERROR_SUCCESS;
    do {
      Bytes.resize(bytes);
      status = ::RegQueryValueExW(key.key, kPendingValue, nullptr, &type,
                                  Bytes.empty() ? nullptr : reinterpret_cast<BYTE *>(Bytes.data()),
                                  &bytes);
    } while (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && bytes > Bytes.size()));
    Present = status == ERROR_SUCCESS && type == REG_MULTI_SZ;
    if (status == ERROR_FILE_NOT_FOUND || (status == ERROR_SUCCESS && !Present))
      return {};
    if (status != ERROR_SUCCESS)
      return Win32Error(status);
    Bytes.resize(bytes);
    return {};
  }
  std::error_code WritePendingOperations(std::string_view Bytes) override {
    KeyCloser key;
    if (const std::error_code error = OpenSessionManager(KEY_SET_VALUE, key))
      return error;
    const LONG status = Bytes.empty()
                            ? ::RegDeleteValueW(key.key, kPendingValue)
                            : ::RegSetValueExW(key.key, kPendingValue, 0, REG_MULTI_SZ,
                                               reinterpret_cast<const BYTE *>(Bytes.data()),
                                               static_cast<DWORD>(Bytes.size()));
    return status == ERROR_SUCCESS ? std::error_code() : Win32Error(status);
  }
  std::error_code ReadWininit(std::string &Text, bool &Present) override {
    const std::string ini = WininitPath();
    if (ini.empty())
      return win32::LastError();
    bool missing = false;
    const std::error_code error = ReadSmallFile(ini, Text, missing);
    Present = !missing;
    return error;
  }
  /// The new text is written beside the file and put in its place only once complete; when
  /// that last step fails, the old file goes back.
  std::error_code ReplaceWininit(const std::string &Text) override {
    const std::string ini = WininitPath();
    if (ini.empty())
      return win32::LastError();
    const std::string fresh = ini + ".new";
    const std::string old = ini + ".old";
    if (const std::error_code error = WriteNewFile(fresh, Text)) {
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
    return {};
  }
};

} // namespace

RestartRegistrations &PlatformRestartRegistrations() {
  static Win32RestartRegistrations registrations;
  return registrations;
}

} // namespace vorse
