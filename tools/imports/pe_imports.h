// The functions a PE file imports, and their check against lists of what older Windows exports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vorse::imports {

inline constexpr std::uint16_t kMachineI386 = 0x14C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;

/// One imported function: by name, or (Name empty) by ordinal.
struct Import {
  std::string Dll;
  std::string Name;
  std::uint16_t Ordinal = 0;
};

struct ImportTable {
  std::uint16_t Machine = 0;
  std::vector<Import> Imports;
};

/// The import table of the PE32 or PE32+ file \p File. Nothing, with the reason in \p Error,
/// when a structure on the way does not lie inside the file, or the file has delay-load
/// imports, which this reader does not follow.
std::optional<ImportTable> ReadImports(std::span<const std::byte> File, std::string &Error);

/// The export lists of one Windows release: DLL name in lower case -> export name -> the one
/// architecture it exists on ("i386", "x86_64"), or empty for both.
using ExportLists = std::map<std::string, std::map<std::string, std::string>>;

/// Adds one list in its file format (one name a line, optionally a tab and an architecture)
/// under \p Dll.
void AddExportList(ExportLists &Lists, const std::string &Dll, const std::string &Text);

/// One line for each import that \p Lists do not show exported by name for the table's
/// machine, naming the function and the DLL; every DLL without a list is one line too.
/// Imports by ordinal are not judged.
std::vector<std::string> MissingImports(const ImportTable &Table, const ExportLists &Lists);

} // namespace vorse::imports
