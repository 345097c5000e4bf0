// Where a path really leads: the directory it names, whatever links lie on the way, and the
// file that a 32-bit program on 64-bit Windows reaches through a redirected system directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vorse {

/// What makes a directory itself, whatever path leads to it: the device (or volume) and the
/// file index on it.
struct DirectoryId {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool operator==(const DirectoryId &) const = default;
  bool operator<(const DirectoryId &Other) const {
    return device != Other.device ? device < Other.device : index < Other.index;
  }
};

/// The identity of the directory that \p Path leads to, links followed; nothing when it cannot
/// be opened or is no directory. \p Path is in the search's form (on POSIX, ToPosixForm maps it).
std::optional<DirectoryId> IdentifyDirectory(const std::string &Path);

#ifdef _WIN32
/// The file that \p Path reaches from this process, named so that any process, and start-up,
/// reaches the same file: under WOW64 the system directory a 32-bit program sees is another
/// one than the path says. \p Path itself where it already names the file (case aside) or
/// where Windows cannot tell.
std::string RealLocation(const std::string &Path);
#endif

} // namespace vorse
