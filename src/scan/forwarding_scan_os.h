// ForwardingScanOs: a ScanOs that hands every call on to another one.
#pragma once

#include "scan/scan_os.h"

namespace vorse {

/// Forwards every call to the ScanOs it wraps. A layer that watches or changes some calls
/// derives from it and overrides those alone.
class ForwardingScanOs : public ScanOs {
public:
  explicit ForwardingScanOs(ScanOs &Inner) : inner_(Inner) {}

  FindHandle FindFirstFileA(const std::string &Pattern, FindData &Data) override {
    return inner_.FindFirstFileA(Pattern, Data);
  }
  std::int32_t FindNextFileA(FindHandle Handle, FindData &Data) override {
    return inner_.FindNextFileA(Handle, Data);
  }
  std::int32_t FindClose(FindHandle Handle) override { return inner_.FindClose(Handle); }
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    return inner_.GetFileAttributesA(Path);
  }
  std::uint32_t GetFileVersionInfoSizeA(const std::string &FileName,
                                        std::uint32_t &Handle) override {
    return inner_.GetFileVersionInfoSizeA(FileName, Handle);
  }
  std::int32_t GetFileVersionInfoA(const std::string &FileName, std::uint32_t Handle,
                                   std::uint32_t Size, void *Data) override {
    return inner_.GetFileVersionInfoA(FileName, Handle, Size, Data);
  }
  std::error_code HoldFile(const std::string &FileName,
                           std::unique_ptr<FoundFile> &Found) override {
    return inner_.HoldFile(FileName, Found);
  }
  std::error_code LastError() override { return inner_.LastError(); }

protected:
  ScanOs &inner_;
};

} // namespace vorse
