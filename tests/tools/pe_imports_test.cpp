#include "pe_imports.h"

#include "fakes/pe_image.h"

#include <gtest/gtest.h>

#include <functional>

namespace vorse::imports {
namespace {

// A PE file of one section at RVA 0x1000 (file offset 0x200) that imports CloseHandle,
// ordinal 7 and GetTickCount64 (or \p Name) from KERNEL32.dll (or \p Dll), and whose header
// asks for Windows \p Needs.
std::vector<std::byte> ImportingImage(bool Wide, std::uint16_t Machine,
                                      const std::string &Dll = "KERNEL32.dll",
                                      const std::string &Name = "GetTickCount64",
                                      Version Needs = {4, 0}) {
  pe_image::Bytes pe;
  pe.Put16(0, 0x5A4D);
  pe.Put32(0x3C, 0x40);
  pe.Put32(0x40, 0x00004550);
  pe.Put16(0x44, Machine);
  pe.Put16(0x46, 1);
  pe.Put16(0x54, Wide ? 240 : 224);
  const std::size_t optional = 0x58;
  pe.Put16(optional, Wide ? 0x20B : 0x10B);
  for (const std::size_t field : {40, 48}) {
    pe.Put16(optional + field, Needs.Major);
    pe.Put16(optional + field + 2, Needs.Minor);
  }
  const std::size_t directories = optional + (Wide ? 112 : 96);
  pe.Put32(directories - 4, 16);
  pe.Put32(directories + 8, 0x1000); // import directory
  const std::size_t section = optional + (Wide ? 240 : 224);
  pe.Put32(section + 12, 0x1000);
  pe.Put32(section + 16, 0x200);
  pe.Put32(section + 20, 0x200);
  const auto at = [](std::uint32_t Rva) { return Rva - 0x1000 + 0x200; };
  pe.Put32(at(0x1000), 0x1040);      // lookup table
  pe.Put32(at(0x1000) + 12, 0x1080); // DLL name
  pe.Put32(at(0x1000) + 16, 0x1040); // address table
  const std::size_t width = Wide ? 8 : 4;
  // By name, by ordinal 7 (the entry's top bit), by name.
  pe.Put32(at(0x1040), 0x10A0);
  pe.Put32(at(0x1040) + width, Wide ? 7 : 0x80000007u);
  if (Wide)
    pe.Put32(at(0x1040) + width + 4, 0x80000000u);
  pe.Put32(at(0x1040) + 2 * width, 0x10C0);
  const auto text = [&](std::uint32_t Rva, const std::string &Text) {
    for (std::size_t i = 0; i < Text.size(); ++i)
      pe.Put16(at(Rva) + i, static_cast<std::uint8_t>(Text[i]));
  };
  text(0x1080, Dll);
  text(0x10A2, "CloseHandle");
  text(0x10C2, Name);
  pe.PadTo(0x400);
  return pe.Take();
}

TEST(PeImports, ReadsNamesAndOrdinalsOfBothWidths) {
  for (const bool wide : {false, true}) {
    std::string error;
    const auto table = ReadImports(ImportingImage(wide, kMachineI386), error);
    ASSERT_TRUE(table) << error;
    ASSERT_EQ(table->Imports.size(), 3u);
    EXPECT_EQ(table->Imports[0].Name, "CloseHandle");
    EXPECT_EQ(table->Imports[1].Name, "");
    EXPECT_EQ(table->Imports[1].Ordinal, 7);
    EXPECT_EQ(table->Imports[2].Name, "GetTickCount64");
    EXPECT_EQ(table->Imports[2].Dll, "KERNEL32.dll");
  }
}

TEST(PeImports, NamesWhatTheListsLack) {
  TargetSystem system{"Windows XP", {5, 1}, {}};
  AddExportList(system.Lists, "kernel32.dll", "CloseHandle\nGetTickCount64\tx86_64\n");
  const struct {
    std::uint16_t Machine;
    std::string Dll;
    std::vector<std::string> Missing;
  } cases[] = {
      {kMachineAmd64, "KERNEL32.dll", {}},
      {kMachineI386,
       "KERNEL32.dll",
       {"GetTickCount64 from KERNEL32.dll is not exported by name on Windows XP (i386)"}},
      {kMachineI386, "bcrypt.dll", {"bcrypt.dll has no export list for Windows XP"}},
  };
  for (const auto &c : cases) {
    std::string error;
    const auto table = ReadImports(ImportingImage(true, c.Machine, c.Dll), error);
    ASSERT_TRUE(table) << error;
    EXPECT_EQ(LoadProblems(*table, system), c.Missing) << c.Dll << " " << c.Machine;
  }
}

// Against the project's own lists: what Windows 2000 and 98 SE lack, and a header that asks for
// XP, stop a 32-bit program there.
TEST(PeImports, OlderWindowsRefuseWhatTheyLack) {
  const auto system = [](const char *Name, Version Newest, const char *Dir) {
    std::string error;
    const auto lists = LoadExportLists(std::string(VORSE_WINAPI_LISTS) + "/" + Dir, error);
    EXPECT_TRUE(lists) << error;
    return TargetSystem{Name, Newest, lists.value_or(ExportLists{})};
  };
  const TargetSystem win2000 = system("Windows 2000 SP4", {5, 0}, "winapi-nt50");
  const TargetSystem win98 = system("Windows 98 SE", {4, 0}, "winapi-win98se");
  const struct {
    const TargetSystem &System;
    std::string Name;
    Version Needs;
    std::vector<std::string> Problems;
  } cases[] = {
      {win2000, "SetFilePointerEx", {4, 0}, {}},
      {win98, "SetFilePointer", {4, 0}, {}},
      {win2000,
       "GetSystemWow64DirectoryA",
       {4, 0},
       {"GetSystemWow64DirectoryA from KERNEL32.dll is not exported by name on Windows 2000 SP4 "
        "(i386)"}},
      {win98,
       "SetFilePointerEx",
       {4, 0},
       {"SetFilePointerEx from KERNEL32.dll is not exported by name on Windows 98 SE (i386)"}},
      {win2000,
       "SetFilePointer",
       {5, 1},
       {"the header's operating-system version 5.1 is newer than Windows 2000 SP4 (5.0)",
        "the header's subsystem version 5.1 is newer than Windows 2000 SP4 (5.0)"}},
  };
  for (const auto &c : cases) {
    std::string error;
    const auto table =
        ReadImports(ImportingImage(false, kMachineI386, "KERNEL32.dll", c.Name, c.Needs), error);
    ASSERT_TRUE(table) << error;
    EXPECT_EQ(LoadProblems(*table, c.System), c.Problems) << c.System.Name << " " << c.Name;
  }
}

TEST(PeImports, RefusesStructuresOutsideTheFile) {
  const auto at = [](std::uint32_t Rva) { return Rva - 0x1000 + 0x200; };
  const struct {
    const char *What;
    std::function<void(std::vector<std::byte> &)> Break;
  } cases[] = {
      {"cut in the headers", [](auto &f) { f.resize(0x60); }},
      {"cut in the lookup table", [&](auto &f) { f.resize(at(0x1044)); }},
      {"import directory outside every section",
       [](auto &f) { f[0x58 + 96 + 8 + 2] = std::byte{0x7F}; }},
      {"name without an end",
       [&](auto &f) {
         f.resize(at(0x10CF));
         std::fill(f.begin() + at(0x10C2), f.end(), std::byte{'A'});
       }},
      {"delay-load imports", [](auto &f) { f[0x58 + 96 + 8 * 13] = std::byte{1}; }},
  };
  for (const auto &c : cases) {
    auto file = ImportingImage(false, kMachineI386);
    c.Break(file);
    std::string error;
    EXPECT_FALSE(ReadImports(file, error)) << c.What;
    EXPECT_FALSE(error.empty()) << c.What;
  }
}

} // namespace
} // namespace vorse::imports
