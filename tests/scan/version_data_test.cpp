// ExtractVersionEntries on hand-built blocks, and GetFileVersionData's two queries on the fake.
#include "fakes/fake_scan_os.h"
#include "fakes/pe_image.h"
#include "scan/version_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorse {
namespace {

/// \p Text as UTF-16LE bytes, NUL units included, with no terminator added.
std::vector<std::byte> Le(std::u16string_view Text) {
  std::vector<std::byte> bytes;
  for (const char16_t unit : Text) {
    bytes.push_back(static_cast<std::byte>(unit & 0xFF));
    bytes.push_back(static_cast<std::byte>(unit >> 8));
  }
  return bytes;
}

std::string Narrow(const std::u16string &Text) {
  return std::string(Text.begin(), Text.end());
}

/// The one entry of a block whose reported size is its own length in bytes.
std::u16string EntryOf(const std::vector<std::byte> &Block) {
  const VersionEntries entries =
      ExtractVersionEntries(Block, static_cast<std::uint32_t>(Block.size()));
  EXPECT_EQ(entries.size(), 1u);
  return entries.empty() ? u"" : entries.front();
}

TEST(ExtractVersionEntriesTest, ValueAfterTheKeyItsUnexaminedUnitAndOnePaddingNul) {
  using namespace std::string_literals;
  struct Case {
    const char *Name;
    std::u16string Text;
    std::u16string Entry;
  };
  const Case cases[] = {
      {"value right after the key's NUL", u"xxInternalName\0Kern32\0\0next"s,
       u"InternalName: Kern32"},
      {"one padding NUL", u"InternalName\0\0wowex32\0"s, u"InternalName: wowex32"},
      {"case of the value kept", u"InternalName\0KERN32\0"s, u"InternalName: KERN32"},
      {"a second NUL ends an empty value", u"InternalName\0\0\0Kern32\0"s, u"InternalName: "},
      {"the unit after the key is passed over unread", u"InternalNames\0Kern32\0"s,
       u"InternalName: Kern32"},
      {"passed-over letter, then the value", u"InternalNameXKern32\0"s, u"InternalName: Kern32"},
      {"the key's case matters", u"internalname\0Kern32\0"s, u"InternalName"},
      {"no key at all", u"OriginalFilename\0Kern32.exe\0"s, u"InternalName"},
      {"first occurrence wins", u"InternalName\0First\0InternalName\0Second\0"s,
       u"InternalName: First"},
      {"the key inside a longer value counts",
       u"Comments\0SeeInternalName\0Other\0InternalName\0Kern32\0"s, u"InternalName: Other"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(EntryOf(Le(c.Text)), c.Entry) << Narrow(EntryOf(Le(c.Text)));
  }
}

TEST(ExtractVersionEntriesTest, TheTextIsSizeUnitsOfWhichTheBlockCoversAtMostSizeBytes) {
  using namespace std::string_literals;
  const std::vector<std::byte> block = Le(u"InternalName\0Kern32"s);
  const auto blockUnits = static_cast<std::uint32_t>(block.size() / 2);

  // No NUL after the value: it runs to the end of the text, through the spaces that follow
  // the block (the text has Size units, the block covers only Size bytes of them).
  EXPECT_EQ(EntryOf(block),
            u"InternalName: Kern32" + std::u16string(block.size() - blockUnits, u' '));

  // A block shorter than the size: the rest stays spaces.
  const std::uint32_t size = 200;
  EXPECT_EQ(ExtractVersionEntries(block, size).front(),
            u"InternalName: Kern32" + std::u16string(size - blockUnits, u' '));

  // Bytes beyond Size are not part of the text, whatever the block holds there.
  const std::vector<std::byte> longer = Le(u"InternalName\0Kern32\0\0\0\0\0\0\0\0"s);
  EXPECT_EQ(ExtractVersionEntries(longer, 34).front(),
            u"InternalName: Kern" + std::u16string(17, u' '));

  // A size too small to hold the key leaves it unfound.
  EXPECT_EQ(ExtractVersionEntries(block, 20).front(), u"InternalName");
  EXPECT_EQ(ExtractVersionEntries({}, 0).front(), u"InternalName");
}

TEST(ExtractVersionEntriesTest, UnitsAreLittleEndianAndAnOddByteKeepsTheSpacesHighByte) {
  using namespace std::string_literals;
  std::vector<std::byte> block = Le(u"InternalName\0\u20ACK"s);
  // An odd length: the last unit gets its low byte from the block, its high byte from the
  // space that stood there, which is 0.
  block.push_back(std::byte{'e'});
  const std::u16string entry = ExtractVersionEntries(block, 31).front();
  EXPECT_EQ(entry.substr(0, 17), u"InternalName: \u20ACKe");
  EXPECT_EQ(entry.size(), 17u + 31 - 16);
}

TEST(ExtractVersionEntriesTest, RealVersionBlockGivesTheStringTablesValue) {
  const std::vector<std::byte> block = pe_image::VersionBlock(
      {{u"CompanyName", u"Example"}, {u"InternalName", u"wowex32"}, {u"ProductName", u"P"}});
  EXPECT_EQ(EntryOf(block), u"InternalName: wowex32");
  const std::vector<std::byte> empty = pe_image::VersionBlock({{u"InternalName", u""}});
  EXPECT_EQ(EntryOf(empty), u"InternalName: ");
}

TEST(GetFileVersionDataTest, NoSizeOrAFailedDataQueryGivesNothing) {
  FakeScanOs os;
  os.SetVersionBlock("C:\\bad.exe", pe_image::VersionBlock({{u"InternalName", u"Kern32"}}), 400);
  os.FailVersionData("C:\\bad.exe");
  EXPECT_FALSE(GetFileVersionData(os, "C:\\none.exe"));
  EXPECT_FALSE(GetFileVersionData(os, "C:\\bad.exe"));
  EXPECT_EQ(os.Calls(), (std::vector<std::string>{"GetFileVersionInfoSizeA C:\\none.exe",
                                                  "GetFileVersionInfoSizeA C:\\bad.exe",
                                                  "GetFileVersionInfoA C:\\bad.exe 400"}));
}

TEST(GetFileVersionDataTest, BytesTheQueryDoesNotWriteReadAsSpaces) {
  using namespace std::string_literals;
  FakeScanOs os;
  // The platform reports more room than it fills, and the value has no NUL of its own.
  os.SetVersionBlock("C:\\a.exe", Le(u"InternalName\0Kern32"s), 40);
  const std::optional<VersionEntries> entries = GetFileVersionData(os, "C:\\a.exe");
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ(entries->front(), u"InternalName: Kern32" + std::u16string(40 - 19, u' '));
}

} // namespace
} // namespace vorse
