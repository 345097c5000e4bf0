// Who may change a folder, on Windows: its security read by handle, and folders made private.
// Every call here is in advapi32 and kernel32 of Windows 2000. Those that the 9x family's
// advapi32 lacks (a program importing them would not start there), and the WOW64 ones, are
// looked up at run time.
#include "sysutil/folder_access.h"
#include "sysutil/win32_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstddef>
#include <cstring>
#include <memory>

namespace vorse {
namespace {

struct LocalFreer {
  void operator()(void *Memory) const { ::LocalFree(Memory); }
};
struct SidFreer {
  void operator()(void *Sid) const { ::FreeSid(Sid); }
};
using SidPointer = std::unique_ptr<void, SidFreer>;

/// The function \p Name of advapi32, which the program imports and so has loaded.
template <typename Fn> Fn Advapi32Function(const char *Name) {
  return win32::SystemFunction<Fn>("advapi32.dll", Name);
}

std::string SidText(PSID Sid) {
  using ToText = BOOL(WINAPI *)(PSID, LPSTR *);
  static const auto toText = Advapi32Function<ToText>("ConvertSidToStringSidA");
  char *text = nullptr;
  if (Sid == nullptr || toText == nullptr || !toText(Sid, &text))
    return {};
  const std::unique_ptr<char, LocalFreer> owned(text);
  return text;
}

SidPointer NtAuthoritySid(BYTE Count, DWORD First, DWORD Second) {
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID sid = nullptr;
  if (!::AllocateAndInitializeSid(&authority, Count, First, Second, 0, 0, 0, 0, 0, 0, &sid))
    return nullptr;
  return SidPointer(sid);
}

/// Turns WOW64's file-system redirection off for as long as it lives, where there is any.
class NoRedirection {
public:
  NoRedirection() {
    using Disable = BOOL(WINAPI *)(PVOID *);
    static const auto disable = win32::Kernel32Function<Disable>("Wow64DisableWow64FsRedirection");
    disabled_ = disable != nullptr && disable(&old_);
  }
  NoRedirection(const NoRedirection &) = delete;
  NoRedirection &operator=(const NoRedirection &) = delete;
  ~NoRedirection() {
    using Revert = BOOL(WINAPI *)(PVOID);
    static const auto revert = win32::Kernel32Function<Revert>("Wow64RevertWow64FsRedirection");
    if (disabled_ && revert != nullptr)
      revert(old_);
  }

private:
  PVOID old_ = nullptr;
  bool disabled_ = false;
};

} // namespace

std::error_code ReadSecurity(void *Object, FolderSecurity &Security) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (const DWORD status = ::GetSecurityInfo(Object, SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                             &owner, nullptr, &dacl, nullptr, &descriptor);
      status != ERROR_SUCCESS)
    return {static_cast<int>(status), std::system_category()};
  const std::unique_ptr<void, LocalFreer> owned(descriptor);
  Security.Owner = SidText(owner);
  Security.HasDacl = dacl != nullptr;
  Security.Entries.clear();
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void *ace = nullptr;
    if (!::GetAce(dacl, i, &ace))
      return win32::LastError();
    const auto *header = static_cast<const ACE_HEADER *>(ace);
    AccessEntry entry{header->AceType, header->AceFlags, 0, {}};
    // Allowed and denied entries, plain or with a callback, share one layout; of the others
    // only the type is kept, which the rule counts against the folder.
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE ||
        header->AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
        header->AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE) {
      const auto *allowed = static_cast<const ACCESS_ALLOWED_ACE *>(ace);
      entry.Mask = allowed->Mask;
      entry.Sid = SidText(const_cast<DWORD *>(&allowed->SidStart));
    }
    Security.Entries.push_back(std::move(entry));
  }
  return {};
}

std::optional<FolderSecurity> ReadFolderSecurity(const std::string &Path) {
  win32::ScopedFileHandle folder;
  {
    const NoRedirection noRedirection;
    // The entry itself, a link or junction included, so that its attributes and its security
    // are those of the one object.
    folder.reset(win32::CreateFileAt(
        Path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!folder || !::GetFileInformationByHandle(folder.get(), &info))
    return std::nullopt;
  FolderSecurity security;
  security.Attributes = info.dwFileAttributes;
  if (ReadSecurity(folder.get(), security))
    return std::nullopt;
  return security;
}

int CreatePrivateDirectory(const std::string &Path) {
  using AddAce = BOOL(WINAPI *)(PACL, DWORD, DWORD, DWORD, PSID);
  using SetControl = BOOL(WINAPI *)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                    SECURITY_DESCRIPTOR_CONTROL);
  static const auto addAce = Advapi32Function<AddAce>("AddAccessAllowedAceEx");
  static const auto setControl = Advapi32Function<SetControl>("SetSecurityDescriptorControl");
  if (addAce == nullptr || setControl == nullptr) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
  }
  const SidPointer administrators =
      NtAuthoritySid(2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  const SidPointer system = NtAuthoritySid(1, SECURITY_LOCAL_SYSTEM_RID, 0);
  if (!administrators || !system)
    return 0;
  const auto size =
      static_cast<DWORD>(sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                         ::GetLengthSid(administrators.get()) + ::GetLengthSid(system.get()));
  const auto acl = std::make_unique<DWORD[]>(size / sizeof(DWORD) + 1);
  const auto list = reinterpret_cast<PACL>(acl.get());
  constexpr DWORD kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  SECURITY_DESCRIPTOR descriptor;
  if (!::InitializeAcl(list, size, ACL_REVISION) ||
      !addAce(list, ACL_REVISION, kInherited, FILE_ALL_ACCESS, administrators.get()) ||
      !addAce(list, ACL_REVISION, kInherited, FILE_ALL_ACCESS, system.get()) ||
      !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorOwner(&descriptor, administrators.get(), FALSE) ||
      !::SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE) ||
      !setControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return 0;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
  return win32::CreateDirectoryAt(Path, &attributes);
}

int MoveIntoFolder(void *File, void *Folder, const std::string &Name) {
  // FILE_RENAME_INFORMATION, and NtSetInformationFile's class for it (FileRenameInformation).
  struct RenameInformation {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[1];
  };
  constexpr int kFileRenameInformation = 10;
  const std::wstring name = win32::Widen(Name);
  const auto length = static_cast<ULONG>(name.size());
  if (length == 0) {
    ::SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  const std::size_t size =
      offsetof(RenameInformation, FileName) + std::size_t{length} * sizeof(WCHAR);
  const auto buffer = std::make_unique<ULONG_PTR[]>(size / sizeof(ULONG_PTR) + 1);
  auto *info = reinterpret_cast<RenameInformation *>(buffer.get());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = Folder;
  info->FileNameLength = length * sizeof(WCHAR);
  std::memcpy(reinterpret_cast<char *>(buffer.get()) + offsetof(RenameInformation, FileName),
              name.data(), name.size() * sizeof(WCHAR));
  if (const std::error_code error =
          win32::SetInformation(File, info, static_cast<ULONG>(size), kFileRenameInformation)) {
    ::SetLastError(static_cast<DWORD>(error.value()));
    return 0;
  }
  return 1;
}

std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
    return {};
  const win32::ScopedFileHandle owned(token);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size == 0)
    return {};
  const auto buffer = std::make_unique<DWORD[]>(size / sizeof(DWORD) + 1);
  if (!::GetTokenInformation(token, TokenUser, buffer.get(), size, &size))
    return {};
  return SidText(reinterpret_cast<const TOKEN_USER *>(buffer.get())->User.Sid);
}

} // namespace vorse
