// check_imports --system NAME --newest MAJOR.MINOR --machine i386|x86_64 LIST_DIR PROGRAM...:
// fails when a program of that machine could not load on the system NAME: its PE header asks
// for a version newer than MAJOR.MINOR, or it imports a function by name that the export lists
// in LIST_DIR (one <dll>.txt each) do not show for its architecture; each is named. Programs
// of the other machine are passed over; one of neither machine fails. Prints how many
// functions each program takes from each DLL.
#include "pe_imports.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string_view>

using namespace vorse::imports;

namespace {

std::optional<std::string> ReadWhole(const std::string &Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::optional<Version> ParseVersion(const std::string &Text) {
  unsigned major = 0;
  unsigned minor = 0;
  char end = 0;
  if (std::sscanf(Text.c_str(), "%u.%u%c", &major, &minor, &end) != 2 || major > 0xFFFF ||
      minor > 0xFFFF)
    return std::nullopt;
  return Version{static_cast<std::uint16_t>(major), static_cast<std::uint16_t>(minor)};
}

int Usage() {
  std::cerr << "usage: check_imports --system NAME --newest MAJOR.MINOR --machine i386|x86_64 "
               "LIST_DIR PROGRAM...\n";
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  TargetSystem system;
  std::optional<Version> newest;
  std::uint16_t machine = 0;
  int next = 1;
  for (; next + 1 < argc && std::string_view(argv[next]).starts_with("--"); next += 2) {
    const std::string_view option = argv[next];
    const std::string value = argv[next + 1];
    if (option == "--system")
      system.Name = value;
    else if (option == "--newest")
      newest = ParseVersion(value);
    else if (option == "--machine" && (value == "i386" || value == "x86_64"))
      machine = value == "i386" ? kMachineI386 : kMachineAmd64;
    else
      return Usage();
  }
  if (system.Name.empty() || !newest || machine == 0 || argc - next < 2)
    return Usage();
  system.Newest = *newest;
  std::string why;
  const std::optional<ExportLists> lists = LoadExportLists(argv[next], why);
  if (!lists) {
    std::cerr << "check_imports: " << why << "\n";
    return 2;
  }
  system.Lists = *lists;
  int status = 0;
  for (int i = next + 1; i < argc; ++i) {
    const auto bytes = ReadWhole(argv[i]);
    std::optional<ImportTable> table;
    if (bytes)
      table = ReadImports(std::as_bytes(std::span(bytes->data(), bytes->size())), why);
    if (!table) {
      std::cerr << "check_imports: " << argv[i] << ": " << (bytes ? why : "cannot read") << "\n";
      status = 1;
      continue;
    }
    if (table->Machine != machine &&
        (table->Machine == kMachineI386 || table->Machine == kMachineAmd64))
      continue;
    std::map<std::string, int> counts;
    for (const Import &import : table->Imports)
      ++counts[import.Dll];
    std::cout << argv[i] << " on " << system.Name << ":";
    for (const auto &[dll, count] : counts)
      std::cout << " " << dll << " " << count;
    std::cout << "\n";
    for (const std::string &line : LoadProblems(*table, system)) {
      std::cout << argv[i] << ": " << line << "\n";
      status = 1;
    }
  }
  return status;
}
