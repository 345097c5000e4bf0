// QuarantineTarget: the first name in the quarantine folder that keeps every earlier copy.
#include "app/quarantine_name.h"

#include <cstdint>

namespace vorse {

std::string QuarantineTarget(const std::string &Folder, const std::string &FileName,
                             const std::function<QuarantineSlot(const std::string &)> &Probe) {
  const std::string first = Folder + "\\" + FileName;
  if (Probe(first) != QuarantineSlot::OtherContents)
    return first;
  // The number goes before the extension, so the copy keeps its type. A dot that opens the
  // name (".profile") starts no extension: the number then goes at the end.
  const std::size_t dot = FileName.rfind('.');
  const std::size_t split = dot == std::string::npos || dot == 0 ? FileName.size() : dot;
  const std::string stem = FileName.substr(0, split);
  const std::string extension = FileName.substr(split);
  // Ends: a folder holds finitely many entries, so some number is free.
  for (std::uint64_t number = 2;; ++number) {
    const std::string candidate =
        Folder + "\\" + stem + " (" + std::to_string(number) + ")" + extension;
    if (Probe(candidate) != QuarantineSlot::OtherContents)
      return candidate;
  }
}

} // namespace vorse
