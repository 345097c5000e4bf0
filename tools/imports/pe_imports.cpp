// Reads a PE file's import directory with checked reads only: every offset comes from the file.
#include "pe_imports.h"

#include "scan/byte_reader.h"
#include "scan/pe_format.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vorse::imports {
namespace {

using namespace pe;

constexpr std::uint32_t kImportDirectory = 1;
constexpr std::uint32_t kDelayImportDirectory = 13;
constexpr std::uint64_t kDescriptorSize = 20;
// Bounds against a hostile or broken file whose tables never end.
constexpr std::size_t kMaxDescriptors = 4096;
constexpr std::size_t kMaxThunks = 65536;
constexpr std::size_t kMaxNameLength = 4096;

class Reader {
public:
  Reader(std::span<const std::byte> File, std::string &Error) : file_(File), error_(Error) {}

  std::optional<ImportTable> Read() {
    const auto peOffset = U32(kDosNewHeaderField, "DOS header");
    if (!peOffset || U32(*peOffset, "PE signature") != kPeSignature)
      return Fail("not a PE file");
    ImportTable table;
    const auto machine = U16(*peOffset + kFileHeaderMachine, "file header");
    const auto sectionCount = U16(*peOffset + kFileHeaderSectionCount, "file header");
    const auto optionalSize = U16(*peOffset + kFileHeaderOptionalSize, "file header");
    const std::uint64_t optional = *peOffset + kOptionalHeaderStart;
    const auto magic = U16(optional, "optional header");
    if (!machine || !sectionCount || !optionalSize || !magic)
      return std::nullopt;
    table.Machine = *machine;
    const auto version = [&](std::uint64_t Field) -> std::optional<Version> {
      const auto major = U16(optional + Field, "optional header");
      const auto minor = U16(optional + Field + 2, "optional header");
      if (!major || !minor)
        return std::nullopt;
      return Version{*major, *minor};
    };
    const auto osVersion = version(kOptionalOsVersion);
    const auto subsystemVersion = version(kOptionalSubsystemVersion);
    if (!osVersion || !subsystemVersion)
      return std::nullopt;
    table.OsVersion = *osVersion;
    table.SubsystemVersion = *subsystemVersion;
    if (*magic != kPe32Magic && *magic != kPe32PlusMagic)
      return Fail("unknown optional header magic");
    wide_ = *magic == kPe32PlusMagic;
    const std::uint64_t countField =
        optional + (wide_ ? kPe32PlusDirectoryCount : kPe32DirectoryCount);
    const std::uint64_t directories = countField + 4;
    const auto directoryCount = U32(countField, "optional header");
    if (!directoryCount)
      return std::nullopt;
    const std::uint64_t sectionTable = optional + *optionalSize;
    for (std::uint32_t i = 0; i < *sectionCount; ++i) {
      const std::uint64_t at = sectionTable + kSectionHeaderSize * i;
      const auto va = U32(at + kSectionVirtualAddress, "section table");
      const auto rawSize = U32(at + kSectionRawSize, "section table");
      const auto rawOffset = U32(at + kSectionRawOffset, "section table");
      if (!va || !rawSize || !rawOffset)
        return std::nullopt;
      sections_.push_back({*va, *rawSize, *rawOffset});
    }
    const auto directory = [&](std::uint32_t Index) -> std::optional<std::uint32_t> {
      if (Index >= *directoryCount)
        return 0;
      return U32(directories + kDataDirectorySize * Index, "data directory");
    };
    const auto delay = directory(kDelayImportDirectory);
    const auto imports = directory(kImportDirectory);
    if (!delay || !imports)
      return std::nullopt;
    if (*delay != 0)
      return Fail("has delay-load imports, which are not read");
    if (*imports != 0 && !ReadDescriptors(*imports, table.Imports))
      return std::nullopt;
    return table;
  }

private:
  std::nullopt_t Fail(const std::string &Why) {
    error_ = Why;
    return std::nullopt;
  }
  std::optional<std::uint16_t> U16(std::uint64_t Offset, const char *What) {
    auto value = ReadU16(file_, Offset);
    if (!value)
      Fail(std::string(What) + " runs past the end of the file");
    return value;
  }
  std::optional<std::uint32_t> U32(std::uint64_t Offset, const char *What) {
    auto value = ReadU32(file_, Offset);
    if (!value)
      Fail(std::string(What) + " runs past the end of the file");
    return value;
  }
  /// The file offset of \p Rva, when it lies in a section's bytes on disk.
  std::optional<std::uint64_t> OffsetOf(std::uint32_t Rva, const char *What) {
    const std::optional<std::uint64_t> offset = RvaToOffset(sections_, Rva);
    if (!offset)
      Fail(std::string(What) + " lies outside every section");
    return offset;
  }
  std::optional<std::string> Text(std::uint32_t Rva, const char *What) {
    const auto at = OffsetOf(Rva, What);
    if (!at)
      return std::nullopt;
    std::string text;
    for (std::uint64_t i = *at; i < file_.size() && text.size() < kMaxNameLength; ++i) {
      const char c = static_cast<char>(file_[i]);
      if (c == '\0')
        return text;
      text += c;
    }
    Fail(std::string(What) + " has no end");
    return std::nullopt;
  }

  bool ReadDescriptors(std::uint32_t Rva, std::vector<Import> &Out) {
    const auto start = OffsetOf(Rva, "import directory");
    if (!start)
      return false;
    for (std::size_t i = 0; i < kMaxDescriptors; ++i) {
      const std::uint64_t at = *start + kDescriptorSize * i;
      const auto lookup = U32(at, "import descriptor");
      const auto nameRva = U32(at + 12, "import descriptor");
      const auto firstThunk = U32(at + 16, "import descriptor");
      if (!lookup || !nameRva || !firstThunk)
        return false;
      if (*nameRva == 0 && *firstThunk == 0)
        return true;
      const auto dll = Text(*nameRva, "DLL name");
      if (!dll || !ReadThunks(*dll, *lookup != 0 ? *lookup : *firstThunk, Out))
        return false;
    }
    Fail("import directory has no end");
    return false;
  }

  bool ReadThunks(const std::string &Dll, std::uint32_t Rva, std::vector<Import> &Out) {
    const auto start = OffsetOf(Rva, "import lookup table");
    if (!start)
      return false;
    const std::uint64_t width = wide_ ? 8 : 4;
    for (std::size_t i = 0; i < kMaxThunks; ++i) {
      std::optional<std::uint64_t> entry;
      if (wide_)
        entry = ReadLe<std::uint64_t>(file_, *start + width * i);
      else if (const auto narrow = ReadU32(file_, *start + width * i))
        entry = *narrow;
      if (!entry) {
        Fail("import lookup table runs past the end of the file");
        return false;
      }
      if (*entry == 0)
        return true;
      const std::uint64_t byOrdinal = wide_ ? 1ull << 63 : 1ull << 31;
      if (*entry & byOrdinal) {
        Out.push_back({Dll, "", static_cast<std::uint16_t>(*entry & 0xFFFF)});
        continue;
      }
      // A hint of two bytes, then the name.
      const auto name = Text(static_cast<std::uint32_t>(*entry) + 2, "import name");
      if (!name)
        return false;
      Out.push_back({Dll, *name, 0});
    }
    Fail("import lookup table has no end");
    return false;
  }

  std::span<const std::byte> file_;
  std::string &error_;
  bool wide_ = false;
  std::vector<Section> sections_;
};

std::string Lower(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return Text;
}

} // namespace

std::optional<ImportTable> ReadImports(std::span<const std::byte> File, std::string &Error) {
  return Reader(File, Error).Read();
}

void AddExportList(ExportLists &Lists, const std::string &Dll, const std::string &Text) {
  auto &names = Lists[Lower(Dll)];
  std::size_t start = 0;
  while (start < Text.size()) {
    std::size_t end = Text.find('\n', start);
    if (end == std::string::npos)
      end = Text.size();
    const std::string line = Text.substr(start, end - start);
    start = end + 1;
    if (line.empty())
      continue;
    const std::size_t tab = line.find('\t');
    names[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
  }
}

std::optional<ExportLists> LoadExportLists(const std::string &Dir, std::string &Error) {
  ExportLists lists;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(Dir, error)) {
    const std::string file = entry.path().filename().string();
    if (file.size() <= 4 || !file.ends_with(".txt"))
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
      Error = "cannot read " + entry.path().string();
      return std::nullopt;
    }
    AddExportList(lists, file.substr(0, file.size() - 4), text.str());
  }
  if (lists.empty()) {
    Error = "no export lists in " + Dir + (error ? ": " + error.message() : "");
    return std::nullopt;
  }
  return lists;
}

std::vector<std::string> LoadProblems(const ImportTable &Table, const TargetSystem &System) {
  const std::string arch = Table.Machine == kMachineAmd64  ? "x86_64"
                           : Table.Machine == kMachineI386 ? "i386"
                                                           : "";
  const auto text = [](Version V) {
    return std::to_string(V.Major) + "." + std::to_string(V.Minor);
  };
  std::vector<std::string> problems;
  if (arch.empty())
    problems.push_back("machine " + std::to_string(Table.Machine) + " has no export lists");
  const std::pair<const char *, Version> versions[] = {{"operating-system", Table.OsVersion},
                                                       {"subsystem", Table.SubsystemVersion}};
  for (const auto &[what, version] : versions)
    if (version > System.Newest)
      problems.push_back("the header's " + std::string(what) + " version " + text(version) +
                         " is newer than " + System.Name + " (" + text(System.Newest) + ")");
  for (const Import &import : Table.Imports) {
    const auto list = System.Lists.find(Lower(import.Dll));
    if (list == System.Lists.end()) {
      const std::string line = import.Dll + " has no export list for " + System.Name;
      if (std::find(problems.begin(), problems.end(), line) == problems.end())
        problems.push_back(line);
      continue;
    }
    if (import.Name.empty())
      continue;
    const auto entry = list->second.find(import.Name);
    if (entry == list->second.end() || (!entry->second.empty() && entry->second != arch))
      problems.push_back(import.Name + " from " + import.Dll + " is not exported by name on " +
                         System.Name + " (" + arch + ")");
  }
  return problems;
}

} // namespace vorse::imports
