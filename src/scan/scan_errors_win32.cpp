// The reasons of failed searches and version queries, as Windows gives them.
#include "scan/scan_errors.h"
#include "sysutil/win32_support.h"

namespace vorse {

bool MeansNothingThere(std::error_code Error) {
  switch (Error.value()) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_NO_MORE_FILES:
  case ERROR_DIRECTORY:
    return true;
  default:
    return false;
  }
}

bool MeansNoMoreFiles(std::error_code Error) {
  return Error.value() == ERROR_NO_MORE_FILES;
}

bool MeansNoVersionResource(std::error_code Error) {
  switch (Error.value()) {
  case ERROR_SUCCESS:
  case ERROR_RESOURCE_DATA_NOT_FOUND:
  case ERROR_RESOURCE_TYPE_NOT_FOUND:
  case ERROR_RESOURCE_NAME_NOT_FOUND:
  case ERROR_RESOURCE_LANG_NOT_FOUND:
  case ERROR_BAD_FORMAT:
  case ERROR_BAD_EXE_FORMAT:
  case ERROR_INVALID_DATA:
    return true;
  default:
    return false;
  }
}

} // namespace vorse
