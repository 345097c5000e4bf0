// Shows who may change a folder, for the repair tests under Wine.
// Usage: vorse_folder_acl PATH   prints "owner SID", then "TYPE FLAGS MASK SID" an entry a line,
//                                the flags and the mask in hex
#include "sysutil/folder_access.h"

#include <cstdio>
#include <optional>

int main(int argc, char **argv) {
  const std::optional<vorse::FolderSecurity> security =
      argc == 2 ? vorse::ReadFolderSecurity(argv[1]) : std::nullopt;
  if (!security) {
    std::fprintf(stderr, "vorse_folder_acl: cannot read who may change %s\n",
                 argc == 2 ? argv[1] : "(no folder given)");
    return 1;
  }
  std::printf("owner %s\n", security->Owner.c_str());
  for (const vorse::AccessEntry &entry : security->Entries)
    std::printf("%u %x %lx %s\n", entry.Type, entry.Flags, static_cast<unsigned long>(entry.Mask),
                entry.Sid.c_str());
  return 0;
}
