// The rule of who may change a folder, on any platform.
#include "sysutil/folder_access.h"

#include <algorithm>

namespace vorse {
namespace {

/// FILE_ATTRIBUTE_REPARSE_POINT.
constexpr std::uint32_t kReparsePoint = 0x400;

/// ACE types and flags (winnt.h).
constexpr std::uint8_t kAccessAllowed = 0;
constexpr std::uint8_t kAccessDenied = 1;
constexpr std::uint8_t kAccessAllowedCallback = 9;
constexpr std::uint8_t kAccessDeniedCallback = 10;
constexpr std::uint8_t kInheritOnly = 0x08;

/// The rights that let their holder change what a path through the folder leads to: add a file
/// or a folder (FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY), delete or rename entries
/// (FILE_DELETE_CHILD) or the folder itself (DELETE), make it a junction
/// (FILE_WRITE_ATTRIBUTES, FILE_WRITE_EA along with it), or give themselves any of these
/// (WRITE_DAC, WRITE_OWNER); and the generic rights that include them.
constexpr std::uint32_t kChangeRights = 0x0002 | 0x0004 | 0x0040 | 0x0010 | 0x0100 | 0x00010000 |
                                        0x00040000 | 0x00080000 | 0x10000000 | 0x40000000;

} // namespace

std::vector<std::string> Administration(const std::string &RunningUser) {
  std::vector<std::string> accounts = {std::string(kSidAdministrators), std::string(kSidSystem)};
  if (!RunningUser.empty())
    accounts.push_back(RunningUser);
  return accounts;
}

bool OnlyTrustedMayChange(const FolderSecurity &Folder, std::span<const std::string> Trusted) {
  const auto trusted = [&](const std::string &Sid) {
    return std::find(Trusted.begin(), Trusted.end(), Sid) != Trusted.end();
  };
  if ((Folder.Attributes & kReparsePoint) != 0 || !trusted(Folder.Owner) || !Folder.HasDacl)
    return false;
  return std::all_of(Folder.Entries.begin(), Folder.Entries.end(), [&](const AccessEntry &Entry) {
    // A denial takes nothing away from the trusted; an entry only handed on to what is made
    // inside grants nothing on the folder itself.
    if (Entry.Type == kAccessDenied || Entry.Type == kAccessDeniedCallback ||
        (Entry.Flags & kInheritOnly) != 0)
      return true;
    if (Entry.Type != kAccessAllowed && Entry.Type != kAccessAllowedCallback)
      return false;
    return (Entry.Mask & kChangeRights) == 0 || trusted(Entry.Sid);
  });
}

bool NobodyElseCanRedirect(const std::string &Path, const std::string &RunningUser,
                           const FolderSecurityReader &Read) {
  if (Path.size() < 3 || Path[1] != ':' || Path[2] != '\\')
    return false;
  std::vector<std::string> trusted = Administration(RunningUser);
  trusted.emplace_back(kSidTrustedInstaller);
  for (std::size_t end = Path.find('\\', 3); end != std::string::npos;
       end = Path.find('\\', end + 1)) {
    const std::optional<FolderSecurity> security = Read(Path.substr(0, end));
    if (!security || !OnlyTrustedMayChange(*security, trusted))
      return false;
  }
  return true;
}

} // namespace vorse
