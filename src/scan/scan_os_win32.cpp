// ScanOs for Windows: generic Win32 code only, each method one call of the same name, narrow or
// (after win32::UseWidePaths) wide. The wide calls take the version resource from our own
// reader: the system's version calls load the file as a library, which no path past 260
// characters reaches.
#include "found_file.h"
#include "scan_os.h"
#include "sysutil/win32_support.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace vorse {
namespace {

static_assert(kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);

HANDLE ToHandle(FindHandle Handle) {
  return reinterpret_cast<HANDLE>(Handle);
}

void CopyRecord(DWORD Attributes, const std::string &Name, FindData &Data) {
  Data.dwFileAttributes = Attributes;
  const std::size_t length = std::min(Name.size(), sizeof Data.cFileName - 1);
  std::memcpy(Data.cFileName, Name.data(), length);
  Data.cFileName[length] = '\0';
}

class Win32ScanOs final : public ScanOs {
public:
  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    DWORD attributes = 0;
    std::string name;
    const HANDLE handle = win32::FindFirstFileAt(Pattern, attributes, name);
    if (handle != INVALID_HANDLE_VALUE)
      CopyRecord(attributes, name, Data);
    return reinterpret_cast<FindHandle>(handle);
  }
  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    DWORD attributes = 0;
    std::string name;
    const BOOL found = win32::FindNextFileAt(ToHandle(Handle), attributes, name);
    if (found)
      CopyRecord(attributes, name, Data);
    return found;
  }
  std::int32_t FindClose(FindHandle Handle) override { return ::FindClose(ToHandle(Handle)); }
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    return win32::GetFileAttributesAt(Path);
  }
  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    DWORD handle = 0;
    DWORD size = 0;
    if (win32::WidePaths()) {
      // Kept for the data query that follows on the same file, so it is not read twice.
      lastBlock_ = ReadVersionBlock(FileName);
      lastFile_ = FileName;
      size = lastBlock_ ? static_cast<DWORD>(lastBlock_->size()) : 0;
    } else {
      size = ::GetFileVersionInfoSizeA(FileName.c_str(), &handle);
    }
    Handle = handle;
    return size;
  }
  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t Handle,
                                   std::uint32_t Size, void *Data) override {
    if (!win32::WidePaths())
      return ::GetFileVersionInfoA(FileName.c_str(), Handle, Size, Data);
    std::optional<std::vector<std::byte>> block;
    block.swap(lastBlock_);
    if (!block || lastFile_ != FileName)
      block = ReadVersionBlock(FileName);
    if (!block)
      return 0;
    std::memcpy(Data, block->data(), std::min<std::size_t>(block->size(), Size));
    return 1;
  }
  std::error_code HoldFile(const std::string &FileName,
                           std::unique_ptr<FoundFile> &Found) override {
    return vorse::HoldFile(FileName, Found);
  }
  std::error_code LastError() override { return win32::LastError(); }

private:
  std::optional<std::vector<std::byte>> lastBlock_;
  std::string lastFile_;
};

} // namespace

ScanOs &PlatformScanOs() {
  static Win32ScanOs os;
  return os;
}

} // namespace vorse
