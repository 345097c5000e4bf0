// FakeAppOs: in-memory files behind the app seam, recording copies, schedules and restarts.
#pragma once

#include "app/app_os.h"
#include "app/runtime_error.h"
#include "scan/narrow_names.h"
#include "scan/scan_os.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vorse {

/// An append to one of FakeAppOs's files; \p Full: half of each append gets there, as on a
/// full disk.
class FakeAppendFile final : public AppendFile {
public:
  FakeAppendFile(std::string &Bytes, bool Full) : bytes_(Bytes), full_(Full) {}
  std::error_code Append(std::string_view Data, std::size_t &Written) override {
    Written = full_ ? Data.size() / 2 : Data.size();
    bytes_.append(Data.substr(0, Written));
    return {};
  }
  std::error_code Truncate(std::uint64_t Length) override {
    bytes_.resize(static_cast<std::size_t>(Length));
    return {};
  }

private:
  std::string &bytes_;
  bool full_;
};

/// Paths are compared exactly. Files hold their bytes as text.
class FakeAppOs final : public AppOs {
public:
  std::string SysDir = "C:\\WINDOWS\\SYSTEM32";
  std::string WinDir = "C:\\WINDOWS";
  /// Empty: the platform has no 32-bit system directory.
  std::string Wow64Dir;
  std::map<std::string, std::string> Files;
  std::set<std::string> Dirs;
  /// The short form GetShortPathNameA gives for a path; paths not here have none.
  std::map<std::string, std::string> ShortNames;
  /// Injected failures: copies from these sources fail, writes to these files throw, renames
  /// of these files fail, and every MoveFileExA fails when MoveFails is set (as on the 9x
  /// family, which has none).
  std::set<std::string> UnreadableSources;
  std::set<std::string> ReadOnlyFiles;
  std::set<std::string> FailedRenames;
  /// Writes to these files fail part-way, as on a full disk: a file opened for writing from
  /// empty is left empty, a replacement never takes the file's place, an append gets half of
  /// its bytes there.
  std::set<std::string> FailedWrites;
  bool MoveFails = false;

  /// One line per call that changes something or is asked with arguments that matter.
  std::vector<std::string> Calls;
  /// The paths registered for deletion at restart, in order.
  std::vector<std::string> Scheduled;
  /// The sizes GetShortPathNameA was given, in order.
  std::vector<std::uint32_t> ShortPathSizes;

  std::uint32_t GetSystemDirectoryA(char *Buffer, std::uint32_t Size) override {
    return Fill(SysDir, Buffer, Size);
  }
  std::uint32_t GetWindowsDirectoryA(char *Buffer, std::uint32_t Size) override {
    return Fill(WinDir, Buffer, Size);
  }
  std::uint32_t GetSystemWow64DirectoryA(char *Buffer, std::uint32_t Size) override {
    return Fill(Wow64Dir, Buffer, Size);
  }
  std::int32_t CreateDirectoryExA(const std::string &Template, const std::string &NewDir) override {
    Calls.push_back("CreateDirectoryExA " + Template + " " + NewDir);
    return Dirs.insert(NewDir).second ? 1 : Fail(EEXIST);
  }
  std::int32_t CopyFileA(const std::string &Source, const std::string &Target,
                         std::int32_t FailIfExists) override {
    Calls.push_back("CopyFileA " + Source + " " + Target + " " + std::to_string(FailIfExists));
    const auto source = Files.find(Source);
    if (source == Files.end() || UnreadableSources.count(Source))
      return Fail(EACCES);
    if (FailIfExists != 0 && (Files.count(Target) || HiddenTaken.count(Target)))
      return Fail(EEXIST);
    Files[Target] = source->second;
    return 1;
  }
  std::int32_t MoveFileExA(const std::string &Existing, const char *NewName,
                           std::uint32_t Flags) override {
    Calls.push_back("MoveFileExA " + Existing + " " + (NewName ? NewName : "null") + " " +
                    std::to_string(Flags));
    if (MoveFails)
      return Fail(EACCES);
    Scheduled.push_back(Existing);
    return 1;
  }
  std::uint32_t GetShortPathNameA(const std::string &LongPath, char *Buffer,
                                  std::uint32_t Size) override {
    ShortPathSizes.push_back(Size);
    const auto it = ShortNames.find(LongPath);
    if (it == ShortNames.end())
      return static_cast<std::uint32_t>(Fail(ENOENT));
    return Fill(it->second, Buffer, Size);
  }
  std::int32_t PathFileExistsA(const std::string &Path) override {
    return Files.count(Path) || Dirs.count(Path) ? 1 : 0;
  }
  std::int64_t ReadFileChunk(const std::string &Path, std::uint64_t Offset,
                             std::span<std::byte> Out) override {
    ++ChunkReads;
    const auto it = Files.find(Path);
    if (it == Files.end() || UnreadableSources.count(Path)) {
      Fail(EACCES);
      return -1;
    }
    const std::string &bytes = it->second;
    if (Offset >= bytes.size())
      return 0;
    const auto start = static_cast<std::size_t>(Offset);
    const std::size_t count = std::min(Out.size(), bytes.size() - start);
    std::memcpy(Out.data(), bytes.data() + start, count);
    return static_cast<std::int64_t>(count);
  }
  std::intptr_t ShellExecuteA(std::uintptr_t Window, const std::string &Operation,
                              const std::string &File, const std::string &Parameters,
                              const std::string &Directory, std::int32_t ShowCommand) override {
    Calls.push_back("ShellExecuteA " + std::to_string(Window) + " " + Operation + " " + File +
                    " | " + Parameters + " | " + Directory + " " + std::to_string(ShowCommand));
    return 42;
  }
  void AppendLines(const std::string &Path, const std::string &Lines) override {
    Write(Path, Lines, true);
  }
  void WriteNewFile(const std::string &Path, const std::string &Lines) override {
    Write(Path, Lines, false);
  }
  /// The name is Path + ".new".
  std::string WriteBeside(const std::string &Path, const std::string &Lines) override {
    Calls.push_back("WriteBeside " + Path);
    if (ReadOnlyFiles.count(Path) || FailedWrites.count(Path))
      throw RuntimeError("Cannot write " + Path + ": No space left on device");
    Files[Path + ".new"] = Lines;
    return Path + ".new";
  }
  std::int32_t MoveFileA(const std::string &Existing, const std::string &NewName) override {
    Calls.push_back("MoveFileA " + Existing + " " + NewName);
    const auto it = Files.find(Existing);
    if (it == Files.end() || FailedRenames.count(Existing))
      return Fail(EACCES);
    if (Files.count(NewName) || Dirs.count(NewName))
      return Fail(EEXIST);
    Files[NewName] = it->second;
    Files.erase(Existing);
    return 1;
  }
  std::int32_t DeleteFileA(const std::string &Path) override {
    Calls.push_back("DeleteFileA " + Path);
    return Files.erase(Path) != 0 ? 1 : Fail(ENOENT);
  }
  std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                 std::uint64_t &Length, bool &Created) override {
    Calls.push_back("OpenAppendFile " + Path);
    if (Dirs.count(Path) || ReadOnlyFiles.count(Path))
      return {Dirs.count(Path) ? EISDIR : EACCES, std::generic_category()};
    Created = Files.count(Path) == 0;
    Length = Files[Path].size();
    File = std::make_unique<FakeAppendFile>(Files[Path], FailedWrites.count(Path) != 0);
    return {};
  }
  std::error_code LastError() override { return {lastError_, std::generic_category()}; }

  /// Attributes of the files; a file not here reports a plain file's.
  std::map<std::string, std::uint32_t> Attributes;
  /// Where RealLocation says a path leads; paths not here lead to themselves.
  std::map<std::string, std::string> RealLocations;
  /// Names that PathFileExistsA does not see but that a copy cannot take (a dangling link).
  std::set<std::string> HiddenTaken;
  std::map<std::string, DirectoryId> DirectoryIds;

  std::intptr_t HoldFolder(const std::string &Path) override {
    Calls.push_back("HoldFolder " + Path);
    if (!Dirs.count(Path))
      return kNoFolderHold;
    held_.push_back(Path);
    return static_cast<std::intptr_t>(held_.size() - 1);
  }
  void ReleaseFolder(std::intptr_t Hold) override {
    Calls.push_back("ReleaseFolder " + held_.at(static_cast<std::size_t>(Hold)));
  }
  std::uint32_t GetFileAttributesA(const std::string &Path) override {
    if (!Files.count(Path) && !Dirs.count(Path))
      return static_cast<std::uint32_t>(-1);
    const auto it = Attributes.find(Path);
    return it != Attributes.end() ? it->second : Dirs.count(Path) ? 0x10 : 0x20;
  }
  std::int32_t SetFileAttributesA(const std::string &Path, std::uint32_t Value) override {
    Calls.push_back("SetFileAttributesA " + Path + " " + std::to_string(Value));
    if (!Files.count(Path))
      return Fail(ENOENT);
    Attributes[Path] = Value;
    return 1;
  }
  std::string RealLocation(const std::string &Path) override {
    const auto it = RealLocations.find(Path);
    return it == RealLocations.end() ? Path : it->second;
  }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &Path) override {
    const auto it = DirectoryIds.find(Path);
    return it == DirectoryIds.end() ? std::nullopt : std::optional(it->second);
  }
  /// The security ReadFolderSecurity reports; a folder not here is owned by Administrators and
  /// changeable by them and SYSTEM alone. Paths in Unreadable report none.
  std::map<std::string, FolderSecurity> Security;
  std::set<std::string> UnreadableSecurity;
  std::string UserSid = "S-1-5-21-1-2-3-500";
  /// What a file holds by the time it is opened to be moved (another file swapped in).
  std::map<std::string, std::string> SwappedBeforeMove;
  /// Every move into a folder fails as across volumes when set.
  bool MoveIntoFails = false;

  std::int32_t CreatePrivateDirectory(const std::string &Path) override {
    Calls.push_back("CreatePrivateDirectory " + Path);
    return Dirs.insert(Path).second ? 1 : Fail(EEXIST);
  }
  std::optional<FolderSecurity> ReadFolderSecurity(const std::string &Path) override {
    if (UnreadableSecurity.count(Path))
      return std::nullopt;
    const auto it = Security.find(Path);
    if (it != Security.end())
      return it->second;
    const std::uint32_t attributes = GetFileAttributesA(Path);
    FolderSecurity own{attributes == kInvalidFileAttributes ? 0x10 : attributes,
                       std::string(kSidAdministrators),
                       true,
                       {}};
    own.Entries.push_back({0, 0, 0x1F01FF, std::string(kSidAdministrators)});
    own.Entries.push_back({0, 0, 0x1F01FF, std::string(kSidSystem)});
    return own;
  }
  std::string CurrentUserSid() override { return UserSid; }
  std::intptr_t OpenFileToMove(const std::string &Path) override {
    Calls.push_back("OpenFileToMove " + Path);
    const auto swapped = SwappedBeforeMove.find(Path);
    if (swapped != SwappedBeforeMove.end())
      Files[Path] = swapped->second;
    if (!Files.count(Path))
      return Fail(ENOENT) - 1;
    open_.push_back(Path);
    return static_cast<std::intptr_t>(open_.size() - 1);
  }
  std::int64_t ReadOpenFile(std::intptr_t File, std::uint64_t Offset,
                            std::span<std::byte> Out) override {
    return ReadFileChunk(open_.at(static_cast<std::size_t>(File)), Offset, Out);
  }
  std::int32_t MoveIntoFolder(std::intptr_t File, std::intptr_t Folder,
                              const std::string &Name) override {
    std::string &from = open_.at(static_cast<std::size_t>(File));
    const std::string to = held_.at(static_cast<std::size_t>(Folder)) + "\\" + Name;
    Calls.push_back("MoveIntoFolder " + from + " " + to);
    if (MoveIntoFails)
      return Fail(EXDEV);
    if (Files.count(to) || HiddenTaken.count(to))
      return Fail(EEXIST);
    Files[to] = Files[from];
    Files.erase(from);
    if (const auto attributes = Attributes.find(from); attributes != Attributes.end()) {
      Attributes[to] = attributes->second;
      Attributes.erase(attributes);
    }
    from = to;
    return 1;
  }
  void CloseFile(std::intptr_t File) override {
    Calls.push_back("CloseFile " + open_.at(static_cast<std::size_t>(File)));
  }
  bool MeansNameTaken(std::error_code Error) override { return Error.value() == EEXIST; }
  bool MeansNothingThere(std::error_code Error) override { return Error.value() == ENOENT; }
  bool MeansNoMoreFiles(std::error_code Error) override { return Error.value() == ENOENT; }
  bool NarrowCallsRewrite(std::string_view Name) override {
    return vorse::NarrowCallsRewrite(Name);
  }
  bool MeansNoVersionResource(std::error_code Error) override {
    return !Error || Error.value() == ENODATA;
  }

  std::size_t ChunkReads = 0;

private:
  /// The folders held, by hold, and the files open to be moved, by handle.
  std::vector<std::string> held_;
  std::vector<std::string> open_;

  std::int32_t Fail(int Error) {
    lastError_ = Error;
    return 0;
  }
  /// Copies \p Text and its NUL when it fits \p Size, returning its length; else the size
  /// needed, NUL included; 0 for no text.
  std::uint32_t Fill(const std::string &Text, char *Buffer, std::uint32_t Size) {
    if (Text.empty())
      return static_cast<std::uint32_t>(Fail(ENOENT));
    const auto length = static_cast<std::uint32_t>(Text.size());
    if (length >= Size)
      return length + 1;
    std::memcpy(Buffer, Text.c_str(), length + 1);
    return length;
  }
  void Write(const std::string &Path, const std::string &Lines, bool Append) {
    Calls.push_back((Append ? "AppendLines " : "WriteNewFile ") + Path);
    if (ReadOnlyFiles.count(Path))
      throw RuntimeError("Cannot open " + Path + " for writing: Permission denied");
    if (FailedWrites.count(Path)) {
      if (!Append)
        Files[Path].clear();
      throw RuntimeError("Cannot write " + Path + ": No space left on device");
    }
    Files[Path] = (Append ? Files[Path] : std::string()) + Lines;
  }

  int lastError_ = 0;
};

} // namespace vorse
