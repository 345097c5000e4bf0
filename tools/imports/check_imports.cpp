// check_imports LISTS PROGRAM...: fails when a program imports a function by name that the
// export lists in the directory LISTS (one <dll>.txt each) do not show for its architecture,
// naming each one; prints how many functions each program takes from each DLL.
#include "pe_imports.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;
using namespace vorse::imports;

namespace {

std::optional<std::string> ReadWhole(const fs::path &Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::cerr << "usage: check_imports LIST_DIR PROGRAM...\n";
    return 2;
  }
  ExportLists lists;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(argv[1], error)) {
    const std::string file = entry.path().filename().string();
    if (file.size() <= 4 || file.substr(file.size() - 4) != ".txt")
      continue;
    const auto text = ReadWhole(entry.path());
    if (!text) {
      std::cerr << "check_imports: cannot read " << entry.path().string() << "\n";
      return 2;
    }
    AddExportList(lists, file.substr(0, file.size() - 4), *text);
  }
  if (lists.empty()) {
    std::cerr << "check_imports: no export lists in " << argv[1] << "\n";
    return 2;
  }
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    const auto bytes = ReadWhole(argv[i]);
    std::string why;
    std::optional<ImportTable> table;
    if (bytes)
      table = ReadImports(std::as_bytes(std::span(bytes->data(), bytes->size())), why);
    if (!table) {
      std::cerr << "check_imports: " << argv[i] << ": " << (bytes ? why : "cannot read") << "\n";
      status = 1;
      continue;
    }
    std::map<std::string, int> counts;
    for (const Import &import : table->Imports)
      ++counts[import.Dll];
    std::cout << argv[i] << ":";
    for (const auto &[dll, count] : counts)
      std::cout << " " << dll << " " << count;
    std::cout << "\n";
    for (const std::string &line : MissingImports(*table, lists)) {
      std::cout << argv[i] << ": " << line << "\n";
      status = 1;
    }
  }
  return status;
}
