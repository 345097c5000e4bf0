// Sets and shows who may change a folder, for the repair tests under Wine, which keeps the
// access lists that programs set.
// Usage: vorse_folder_acl open-to-users PATH   Users get full control (handed on inside)
//        vorse_folder_acl show PATH            prints "owner SID", then "TYPE FLAGS MASK SID"
//                                              a line, the flags and the mask in hex
#include "sysutil/folder_access.h"
#include "sysutil/win32_support.h"

#include <sddl.h>

#include <cstdio>
#include <string>

namespace {

int OpenToUsers(const std::string &Path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;BU)", SDDL_REVISION_1, &descriptor,
          nullptr))
    return 1;
  const BOOL set = ::SetFileSecurityA(Path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
  ::LocalFree(descriptor);
  return set ? 0 : 1;
}

int Show(const std::string &Path) {
  const std::optional<vorse::FolderSecurity> security = vorse::ReadFolderSecurity(Path);
  if (!security)
    return 1;
  std::printf("owner %s\n", security->Owner.c_str());
  for (const vorse::AccessEntry &entry : security->Entries)
    std::printf("%u %x %lx %s\n", entry.Type, entry.Flags, static_cast<unsigned long>(entry.Mask),
                entry.Sid.c_str());
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  const int result = command == "open-to-users" ? OpenToUsers(argv[2])
                     : command == "show"        ? Show(argv[2])
                                                : 2;
  if (result != 0)
    std::fprintf(stderr, "vorse_folder_acl %s: failed (%lu)\n", command.c_str(),
                 static_cast<unsigned long>(::GetLastError()));
  return result;
}
