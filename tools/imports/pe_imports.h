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

/// A version as the PE header states one.
struct Version {
  std::uint16_t Major = 0;
  std::uint16_t Minor = 0;
  auto operator<=>(const Version &) const = default;
};

struct ImportTable {
  std::uint16_t Machine = 0;
  /// The header's operating-system and subsystem versions: the loader of an older Windows
  /// refuses the program.
  Version OsVersion;
  Version SubsystemVersion;
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

/// The lists of the directory \p Dir, one file <dll>.txt for each DLL. Nothing, with the
/// reason in \p Error, when a file cannot be read or there is no list at all.
std::optional<ExportLists> LoadExportLists(const std::string &Dir, std::string &Error);

/// One Windows release that programs are checked against.
struct TargetSystem {
  /// The name the findings give, "Windows 2000 SP4".
  std::string Name;
  /// The newest operating-system and subsystem version its loader accepts in a PE header.
  Version Newest;
  ExportLists Lists;
};

/// Why \p System would not load the program of \p Table, one line each, naming the function
/// and the system: a header version newer than the system's, an import that the lists do not
/// show exported by name for the table's machine, a DLL without a list. Imports by ordinal are
/// not judged. Empty when nothing is in the way.
std::vector<std::string> LoadProblems(const ImportTable &Table, const TargetSystem &System);

} // namespace vorse::imports
