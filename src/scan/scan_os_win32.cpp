// ScanOs for Windows: generic Win32 code only, each method one call of the same name.
#include "found_file.h"
#include "scan_os.h"
#include "sysutil/win32_support.h"

#include <cstring>

namespace vorse {
namespace {

static_assert(sizeof(FindData::cFileName) == sizeof(WIN32_FIND_DATAA::cFileName));
static_assert(kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);

HANDLE ToHandle(FindHandle Handle) {
  return reinterpret_cast<HANDLE>(Handle);
}

void CopyRecord(const WIN32_FIND_DATAA &Record, FindData &Data) {
  Data.dwFileAttributes = Record.dwFileAttributes;
  std::memcpy(Data.cFileName, Record.cFileName, sizeof Data.cFileName);
}

class Win32ScanOs final : public ScanOs {
public:
  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    WIN32_FIND_DATAA record{};
    const HANDLE handle = ::FindFirstFileA(Pattern.c_str(), &record);
    if (handle != INVALID_HANDLE_VALUE)
      CopyRecord(record, Data);
    return reinterpret_cast<FindHandle>(handle);
  }
  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    WIN32_FIND_DATAA record{};
    const BOOL found = ::FindNextFileA(ToHandle(Handle), &record);
    if (found)
      CopyRecord(record, Data);
    return found;
  }
  std::int32_t FindClose(FindHandle Handle) override { return ::FindClose(ToHandle(Handle)); }
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    return ::GetFileAttributesA(Path.c_str());
  }
  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(FileName.c_str(), &handle);
    Handle = handle;
    return size;
  }
  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t Handle,
                                   std::uint32_t Size, void *Data) override {
    return ::GetFileVersionInfoA(FileName.c_str(), Handle, Size, Data);
  }
  std::error_code HoldFile(const std::string &FileName,
                           std::unique_ptr<FoundFile> &Found) override {
    return vorse::HoldFile(FileName, Found);
  }
  std::error_code LastError() override { return win32::LastError(); }
};

} // namespace

ScanOs &PlatformScanOs() {
  static Win32ScanOs os;
  return os;
}

} // namespace vorse
