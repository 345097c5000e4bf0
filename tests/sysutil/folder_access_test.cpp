// Who may change a folder: the owner and the entries that let others redirect what lies below.
#include "sysutil/folder_access.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorse {
namespace {

const std::string kUsers = "S-1-5-32-545";
const std::string kAdmins(kSidAdministrators);
const std::string kSystem(kSidSystem);

TEST(FolderAccessTest, OnlyTheTrustedMayChangeWhatLiesBelow) {
  struct Case {
    const char *Name;
    FolderSecurity Folder;
    bool Expected;
  };
  const AccessEntry admins{0, 0, 0x1F01FF, kAdmins};
  const auto folder = [&](std::vector<AccessEntry> More, std::string Owner = kAdmins) {
    More.insert(More.begin(), admins);
    return FolderSecurity{0x10, std::move(Owner), true, std::move(More)};
  };
  FolderSecurity junction = folder({});
  junction.Attributes |= 0x400;
  const Case cases[] = {
      {"administrators and SYSTEM alone", folder({{0, 0, 0x1F01FF, kSystem}}), true},
      {"users read and list", folder({{0, 0, 0x1200A9, kUsers}}), true},
      {"a denial", folder({{1, 0, 0x1F01FF, kUsers}}), true},
      {"handed on only (CREATOR OWNER)", folder({{0, 0x0B, 0x10000000, "S-1-3-0"}}), true},
      {"users add files", folder({{0, 0, 0x2, kUsers}}), false},
      {"users add folders", folder({{0, 0, 0x4, kUsers}}), false},
      {"users delete entries", folder({{0, 0, 0x40, kUsers}}), false},
      {"users rename the folder", folder({{0, 0, 0x10000, kUsers}}), false},
      {"users write the access list", folder({{0, 0, 0x40000, kUsers}}), false},
      {"users take ownership", folder({{0, 0, 0x80000, kUsers}}), false},
      {"users make it a junction", folder({{0, 0, 0x100, kUsers}}), false},
      {"users write, generically", folder({{0, 0x03, 0x40000000, kUsers}}), false},
      {"an entry of an unknown kind", folder({{5, 0, 0x1200A9, kUsers}}), false},
      {"owned by a user", folder({}, kUsers), false},
      {"no access list at all", {0x10, kAdmins, false, {}}, false},
      {"a junction", junction, false},
  };
  const std::vector<std::string> trusted = {kAdmins, kSystem};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(OnlyTrustedMayChange(c.Folder, trusted), c.Expected);
  }
  // Whom the caller trusts is theirs to say.
  EXPECT_TRUE(OnlyTrustedMayChange(folder({{0, 0, 0x2, kUsers}}, kUsers),
                                   std::vector<std::string>{kAdmins, kUsers}));
}

} // namespace
} // namespace vorse
