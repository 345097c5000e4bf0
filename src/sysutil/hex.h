// Bytes as hex digits, the form of digests and of names that are not valid text.
#pragma once

#include <string>
#include <string_view>

namespace vorse {

/// Every byte of \p Bytes as two lower-case hex digits.
inline std::string ToHex(std::string_view Bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(Bytes.size() * 2);
  for (const char c : Bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

} // namespace vorse
