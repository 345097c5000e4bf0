// Who may change a folder: its owner and the entries of its access list, read as they stand,
// and the rule that tells whether anyone but a few trusted accounts could change the folder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vorse {

/// Well-known accounts, in string form.
inline constexpr std::string_view kSidSystem = "S-1-5-18";
inline constexpr std::string_view kSidAdministrators = "S-1-5-32-544";
inline constexpr std::string_view kSidTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

/// One entry of an access list as it stands (ACE_HEADER's type and flags, the mask, the SID).
struct AccessEntry {
  std::uint8_t Type = 0;
  std::uint8_t Flags = 0;
  std::uint32_t Mask = 0;
  std::string Sid;
};

/// What decides who may change a folder.
struct FolderSecurity {
  /// The folder's own attributes (a link or junction is one: kFileAttributeReparsePoint).
  std::uint32_t Attributes = 0;
  std::string Owner;
  /// No access list at all lets everyone do everything.
  bool HasDacl = false;
  std::vector<AccessEntry> Entries;
};

/// Administrators, SYSTEM and \p RunningUser, the account the program runs as (an
/// administrator; none when empty): whom a folder of the program's own may belong to. Wine gives
/// what a program makes the Unix user's account as owner, whatever owner the program asks for.
std::vector<std::string> Administration(const std::string &RunningUser);

/// True when only the accounts \p Trusted could redirect what lies below the folder: it is no
/// link or junction, one of them owns it, and no entry grants anyone else the right to add,
/// delete or rename entries, to delete or rename the folder itself, or to write its access
/// list, owner or attributes. Entries of a kind not known here count against the folder.
bool OnlyTrustedMayChange(const FolderSecurity &Folder, std::span<const std::string> Trusted);

/// Gives the security of a folder by its path; nothing when it cannot be read.
using FolderSecurityReader = std::function<std::optional<FolderSecurity>(const std::string &)>;

/// True when nobody but Administrators, SYSTEM, TrustedInstaller and \p RunningUser could make
/// \p Path lead to another file before start-up deletes it: every folder on it below the drive
/// root, as \p Read gives it, is theirs alone (OnlyTrustedMayChange) and no link or junction. A
/// path without a drive root ("\\server\share") is not vouched for.
bool NobodyElseCanRedirect(const std::string &Path, const std::string &RunningUser,
                           const FolderSecurityReader &Read);

#ifdef _WIN32
/// The owner and access list of the open file or folder \p Object into \p Security, whose
/// Attributes it leaves as they are; the system's reason when they cannot be read.
std::error_code ReadSecurity(void *Object, FolderSecurity &Security);
/// The security of the folder \p Path, read with the file-system redirection of WOW64 turned
/// off, so a path below the system directory names the folder start-up reaches; nothing when it
/// cannot be read.
std::optional<FolderSecurity> ReadFolderSecurity(const std::string &Path);
/// Creates the folder \p Path owned by Administrators, with a protected access list that gives
/// Administrators and SYSTEM full control (inherited by what is made inside) and no one else
/// anything. Nonzero on success; on failure GetLastError tells why (ERROR_ALREADY_EXISTS when
/// something stands at the name).
int CreatePrivateDirectory(const std::string &Path);
/// Renames the open \p File (opened with DELETE access) into the open folder \p Folder as
/// \p Name, which holds no separator: the rename names its target relative to the folder's
/// handle, so no path is resolved on the way. Never replaces a file already there. Nonzero on
/// success; on failure GetLastError tells why.
int MoveIntoFolder(void *File, void *Folder, const std::string &Name);
/// The account this process runs as, in string form; empty when it cannot be told.
std::string CurrentUserSid();
#endif

} // namespace vorse
