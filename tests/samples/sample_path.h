// SamplePath: where a test finds the built sample executables, beside the test binary.
#pragma once

#include <string>

#ifdef _WIN32
#include "sysutil/win32_support.h"
#else
#include <unistd.h>
#endif

namespace vorse::test {

/// The path of the sample \p Name ("kern32.exe") built into the samples folder beside the
/// running test binary. Found from the binary's own path, so it holds natively and under Wine,
/// whatever the working directory.
inline std::string SamplePath(const std::string &Name) {
  std::string self(4096, '\0');
#ifdef _WIN32
  const DWORD length = ::GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size()));
  const char separator = '\\';
#else
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  const char separator = '/';
#endif
  self.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  const std::size_t slash = self.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? std::string(".") : self.substr(0, slash);
  return dir + separator + "samples" + separator + Name;
}

} // namespace vorse::test
