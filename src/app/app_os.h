// The platform operations of the window's start-up, the run, the quarantine and the restart.
#pragma once

#include "sysutil/append_file.h"
#include "sysutil/file_location.h"
#include "sysutil/folder_access.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace vorse {

/// The read-only bit of the file attributes (FILE_ATTRIBUTE_READONLY).
inline constexpr std::uint32_t kFileAttributeReadOnly = 0x1;
/// The bit of a link or junction (FILE_ATTRIBUTE_REPARSE_POINT).
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;

/// What HoldFolder returns when it holds nothing (INVALID_HANDLE_VALUE).
inline constexpr std::intptr_t kNoFolderHold = -1;

/// MoveFileExA flag: delay the move (here, the deletion) until the next start of Windows.
inline constexpr std::uint32_t kMoveFileDelayUntilReboot = 4;

/// The seam of the app subsystem. Each method forwards to the Win32 call of the same name with
/// the same arguments and returns its raw result; it holds no logic of the program.
class AppOs {
public:
  virtual ~AppOs() = default;
  /// Writes the directory into \p Buffer (of \p Size characters) and returns its length, or the
  /// size it would need when it does not fit, or 0 on failure.
  virtual std::uint32_t GetSystemDirectoryA(char *Buffer, std::uint32_t Size) = 0;
  virtual std::uint32_t GetWindowsDirectoryA(char *Buffer, std::uint32_t Size) = 0;
  /// 0 where the platform has no 32-bit system directory (32-bit Windows, the 9x family).
  virtual std::uint32_t GetSystemWow64DirectoryA(char *Buffer, std::uint32_t Size) = 0;
  virtual std::int32_t CreateDirectoryExA(const std::string &Template,
                                          const std::string &NewDir) = 0;
  virtual std::int32_t CopyFileA(const std::string &Source, const std::string &Target,
                                 std::int32_t FailIfExists) = 0;
  /// \p NewName null: delete (with kMoveFileDelayUntilReboot, at the next start).
  virtual std::int32_t MoveFileExA(const std::string &Existing, const char *NewName,
                                   std::uint32_t Flags) = 0;
  virtual std::uint32_t GetShortPathNameA(const std::string &LongPath, char *Buffer,
                                          std::uint32_t Size) = 0;
  virtual std::int32_t PathFileExistsA(const std::string &Path) = 0;
  /// Reads up to Out.size() bytes of the file at \p Path from \p Offset, opening and closing it
  /// within the call. Returns the count read (0 at the end), or -1 when it cannot be read.
  virtual std::int64_t ReadFileChunk(const std::string &Path, std::uint64_t Offset,
                                     std::span<std::byte> Out) = 0;
  virtual std::intptr_t ShellExecuteA(std::uintptr_t Window, const std::string &Operation,
                                      const std::string &File, const std::string &Parameters,
                                      const std::string &Directory, std::int32_t ShowCommand) = 0;
  /// Text-file output, each call one whole step: the file is opened, written and closed.
  /// Throws RuntimeError naming the file and the reason when it cannot be written.
  virtual void AppendLines(const std::string &Path, const std::string &Lines) = 0;
  virtual void WriteNewFile(const std::string &Path, const std::string &Lines) = 0;
  /// Writes \p Lines to a new file beside \p Path, under a name nothing stood at (a link
  /// included), and returns that name once the file is whole on disk. Throws RuntimeError
  /// naming Path and the reason when it cannot; nothing is then left beside it.
  virtual std::string WriteBeside(const std::string &Path, const std::string &Lines) = 0;
  /// Renames \p Existing to \p NewName, which must not exist: the rename the 9x family has
  /// (it has no MoveFileExA).
  virtual std::int32_t MoveFileA(const std::string &Existing, const std::string &NewName) = 0;
  virtual std::int32_t DeleteFileA(const std::string &Path) = 0;
  /// Opens \p Path to append records to (sysutil's OpenAppendFile): created when missing, but
  /// only a regular file, and never through a link or reparse point standing at its name.
  virtual std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                         std::uint64_t &Length, bool &Created) = 0;
  /// Why the last failed call of this thread failed, for reports that name the reason.
  virtual std::error_code LastError() = 0;

  /// Opens the folder \p Path, or the link or junction standing at its name, without following
  /// it, and shares everything but deletion (CreateFileA with FILE_FLAG_BACKUP_SEMANTICS and
  /// FILE_FLAG_OPEN_REPARSE_POINT): until ReleaseFolder, nothing can delete or rename what the
  /// name stands for, so nothing else can take the name. kNoFolderHold where it cannot be
  /// opened; the 9x family opens no folders.
  virtual std::intptr_t HoldFolder(const std::string &Path) = 0;
  virtual void ReleaseFolder(std::intptr_t Hold) = 0;
  /// kInvalidFileAttributes when the entry cannot be examined.
  virtual std::uint32_t GetFileAttributesA(const std::string &Path) = 0;
  virtual std::int32_t SetFileAttributesA(const std::string &Path, std::uint32_t Attributes) = 0;
  /// The file \p Path reaches from this program, named the way start-up reaches it (see the
  /// sysutil function of that name); \p Path itself where nothing differs.
  virtual std::string RealLocation(const std::string &Path) = 0;
  /// The identity of the directory \p Path leads to, links followed.
  virtual std::optional<DirectoryId> IdentifyDirectory(const std::string &Path) = 0;
  /// The folders only administrators may change (sysutil/folder_access.h): made, and read. The
  /// 9x family has no access control: there the calls fail.
  virtual std::int32_t CreatePrivateDirectory(const std::string &Path) = 0;
  virtual std::optional<FolderSecurity> ReadFolderSecurity(const std::string &Path) = 0;
  /// The account the program runs as, in string form ("S-1-5-..."); empty when unknown.
  virtual std::string CurrentUserSid() = 0;
  /// Opens the file \p Path itself, a link standing at its name included, to read it and move
  /// it, sharing only reading: until CloseFile, nothing else can write, rename or delete it.
  /// kNoFolderHold where it cannot be opened.
  virtual std::intptr_t OpenFileToMove(const std::string &Path) = 0;
  /// Reads up to Out.size() bytes of the open \p File from \p Offset: the count read (0 at the
  /// end), or -1.
  virtual std::int64_t ReadOpenFile(std::intptr_t File, std::uint64_t Offset,
                                    std::span<std::byte> Out) = 0;
  /// Moves the open \p File into the held \p Folder under \p Name (no path resolved on the way:
  /// NtSetInformationFile's rename relative to the folder's handle), never over a file already
  /// there. Nonzero on success.
  virtual std::int32_t MoveIntoFolder(std::intptr_t File, std::intptr_t Folder,
                                      const std::string &Name) = 0;
  virtual void CloseFile(std::intptr_t File) = 0;
  /// True when \p Error, why a copy that may not overwrite failed, means the name is taken.
  virtual bool MeansNameTaken(std::error_code Error) = 0;
  /// What a failed directory search or version query means (see scan/scan_errors.h).
  virtual bool MeansNothingThere(std::error_code Error) = 0;
  virtual bool MeansNoMoreFiles(std::error_code Error) = 0;
  /// True when the narrow calls cannot open \p Name, a listed name, as itself (see
  /// scan/narrow_names.h); never on POSIX systems.
  virtual bool NarrowCallsRewrite(std::string_view Name) = 0;
  virtual bool MeansNoVersionResource(std::error_code Error) = 0;
};

/// The body for the build's target OS: Win32 on Windows, ours on POSIX.
AppOs &PlatformAppOs();

} // namespace vorse
