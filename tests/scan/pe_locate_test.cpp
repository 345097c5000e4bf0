// LocateVersionBlock on hostile files built in code, and ReadVersionBlock on the built samples.
#include "samples/sample_path.h"
#include "scan/byte_reader.h"
#include "scan/pe_locate.h"
#include "scan/version_data.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vorse {
namespace {

constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();

using Bytes = std::vector<std::byte>;

void Put16(Bytes &B, std::size_t At, std::uint16_t V) {
  B.at(At) = std::byte(V & 0xFF);
  B.at(At + 1) = std::byte(V >> 8);
}

void Put32(Bytes &B, std::size_t At, std::uint32_t V) {
  Put16(B, At, static_cast<std::uint16_t>(V & 0xFFFF));
  Put16(B, At + 2, static_cast<std::uint16_t>(V >> 16));
}

std::uint32_t Get32(const Bytes &B, std::size_t At) {
  return ReadU32(B, At).value();
}

struct Language {
  std::uint16_t id;
  std::string payload;
  bool isDirectory = false;
};

/// A PE file as short as it gets: headers, one section holding the resource tree (type 16,
/// name 1, the given languages) and each language's payload, the last one ending the file.
/// The offsets tests patch are kept beside the bytes.
struct MinimalPe {
  static constexpr std::size_t kPe = 0x40;
  static constexpr std::size_t kFileHeader = kPe + 4;
  static constexpr std::size_t kOptional = kPe + 24;
  static constexpr std::size_t kRoot = 0x400; // file offset of the resource section
  static constexpr std::uint32_t kRootRva = 0x1000;
  static constexpr std::size_t kTypeDir = 0x18; // offsets from the root
  static constexpr std::size_t kNameDir = 0x30;

  Bytes bytes;
  std::size_t resourceField = 0; // the resource directory's RVA in the data directories
  std::size_t sectionTable = 0;
  std::vector<std::size_t> dataEntries; // offsets from the root

  explicit MinimalPe(const std::vector<Language> &Languages, bool Plus = false) {
    const std::size_t optionalSize = Plus ? 0xF0 : 0xE0;
    const std::size_t directories = kOptional + (Plus ? 112 : 96);
    sectionTable = kOptional + optionalSize;
    resourceField = directories + 2 * 8;
    const std::size_t firstData = kNameDir + 16 + 8 * Languages.size();
    std::size_t blockAt = firstData + 16 * Languages.size();
    bytes.resize(kRoot + blockAt);

    Put16(bytes, 0, 0x5A4D);
    Put32(bytes, 0x3C, kPe);
    Put32(bytes, kPe, 0x00004550);
    Put16(bytes, kFileHeader, Plus ? 0x8664 : 0x014C);
    Put16(bytes, kFileHeader + 2, 1);
    Put16(bytes, kFileHeader + 16, static_cast<std::uint16_t>(optionalSize));
    Put16(bytes, kOptional, Plus ? 0x20B : 0x10B);
    Put32(bytes, directories - 4, 16);
    Put32(bytes, resourceField, kRootRva);

    Directory(0, 16, 0x80000000u | kTypeDir);
    Directory(kTypeDir, 1, 0x80000000u | kNameDir);
    Header(kNameDir, 0, static_cast<std::uint16_t>(Languages.size()));
    for (std::size_t i = 0; i < Languages.size(); ++i) {
      const Language &language = Languages[i];
      const std::size_t entry = firstData + 16 * i;
      dataEntries.push_back(entry);
      Put32(bytes, kRoot + kNameDir + 16 + 8 * i, language.id);
      Put32(bytes, kRoot + kNameDir + 16 + 8 * i + 4,
            static_cast<std::uint32_t>(entry) | (language.isDirectory ? 0x80000000u : 0));
      blockAt = (blockAt + 3) & ~std::size_t{3};
      bytes.resize(kRoot + blockAt + language.payload.size());
      Put32(bytes, kRoot + entry, static_cast<std::uint32_t>(kRootRva + blockAt));
      Put32(bytes, kRoot + entry + 4, static_cast<std::uint32_t>(language.payload.size()));
      for (std::size_t k = 0; k < language.payload.size(); ++k)
        bytes[kRoot + blockAt + k] = std::byte(static_cast<unsigned char>(language.payload[k]));
      blockAt += language.payload.size();
    }

    Put32(bytes, sectionTable + 12, kRootRva);
    Put32(bytes, sectionTable + 16, static_cast<std::uint32_t>(bytes.size() - kRoot));
    Put32(bytes, sectionTable + 20, kRoot);
  }

  void Header(std::size_t Dir, std::uint16_t Named, std::uint16_t Ids) {
    Put16(bytes, kRoot + Dir + 12, Named);
    Put16(bytes, kRoot + Dir + 14, Ids);
  }

  /// A directory of one numbered entry.
  void Directory(std::size_t Dir, std::uint32_t Name, std::uint32_t Target) {
    Header(Dir, 0, 1);
    Put32(bytes, kRoot + Dir + 16, Name);
    Put32(bytes, kRoot + Dir + 20, Target);
  }

  /// The file offset of the first data entry's field at \p Field (0 data RVA, 4 size).
  std::size_t DataField(std::size_t Field) const { return kRoot + dataEntries.front() + Field; }
};

/// A ByteSource over memory that counts what is asked of it.
class CountingSource : public ByteSource {
public:
  explicit CountingSource(const Bytes &B) : inner_(B) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  bool Read(std::uint64_t Offset, std::span<std::byte> Out) override {
    ++reads;
    bytesRead += Out.size();
    return inner_.Read(Offset, Out);
  }
  int reads = 0;
  std::uint64_t bytesRead = 0;

private:
  MemoryByteSource inner_;
};

std::optional<std::string> Locate(const Bytes &B) {
  MemoryByteSource source(B);
  const std::optional<Bytes> block = LocateVersionBlock(source);
  if (!block)
    return std::nullopt;
  std::string text;
  for (const std::byte b : *block)
    text += static_cast<char>(b);
  return text;
}

const std::vector<Language> kOne = {{0x409, "version block"}};

TEST(ByteReaderTest, ReadsAreContainedAtEveryEdge) {
  const Bytes b = {std::byte{0x01}, std::byte{0x02}, std::byte{0x03}, std::byte{0x04},
                   std::byte{0x05}};
  EXPECT_EQ(ReadU32(b, 1), 0x05040302u);
  EXPECT_EQ(ReadU16(b, 3), 0x0504u);
  EXPECT_FALSE(ReadU32(b, 2));
  EXPECT_FALSE(ReadU16(b, 4));
  EXPECT_FALSE(ReadU32(b, std::numeric_limits<std::uint64_t>::max() - 1));
  EXPECT_TRUE(RangeFits(5, 5, 0));
  EXPECT_FALSE(RangeFits(5, 6, 0));
  EXPECT_FALSE(RangeFits(5, 1, std::numeric_limits<std::uint64_t>::max()));

  MemoryByteSource source(b);
  std::array<std::byte, 2> out{};
  EXPECT_TRUE(source.Read(3, out));
  EXPECT_FALSE(source.Read(4, out));
  EXPECT_FALSE(source.Read(std::numeric_limits<std::uint64_t>::max(), out));
}

TEST(PeLocateTest, FindsTheBlockInPe32AndPe32Plus) {
  EXPECT_EQ(Locate(MinimalPe(kOne).bytes), "version block");
  // The data directories stand 16 bytes further on in PE32+: a reader that took the PE32
  // place would find zeros there.
  EXPECT_EQ(Locate(MinimalPe(kOne, true).bytes), "version block");
}

TEST(PeLocateTest, EveryTruncationIsNoResourceAndStaysInside) {
  const Bytes full = MinimalPe(kOne).bytes;
  for (std::size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    EXPECT_FALSE(Locate(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length))));
  }
}

TEST(PeLocateTest, HeadersThatDoNotHoldUpGiveNothing) {
  struct Case {
    const char *what;
    std::size_t at;
    std::uint32_t value;
    bool wide;
  };
  const MinimalPe pe(kOne);
  const Case cases[] = {
      {"not MZ", 0, 0x5A4E, false},
      {"e_lfanew past the end", 0x3C, static_cast<std::uint32_t>(pe.bytes.size() - 3), true},
      {"e_lfanew wraps", 0x3C, kMax32, true},
      {"NE, not PE", MinimalPe::kPe, 0x454E, true},
      {"unknown optional header", MinimalPe::kOptional, 0x107, false},
      {"no resource directory slot", MinimalPe::kOptional + 92, 2, true},
      {"resource RVA 0", pe.resourceField, 0, true},
      {"sections past the file", MinimalPe::kFileHeader + 2, 0xFFFF, false},
      {"section table past the file", MinimalPe::kFileHeader + 16, 0xFFFF, false},
      {"no sections", MinimalPe::kFileHeader + 2, 0, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MinimalPe bad(kOne);
    if (c.wide)
      Put32(bad.bytes, c.at, c.value);
    else
      Put16(bad.bytes, c.at, static_cast<std::uint16_t>(c.value));
    EXPECT_FALSE(Locate(bad.bytes));
  }
  // A signature in the file's last 4 bytes leaves no room for the file header after it.
  MinimalPe atEnd(kOne);
  Put32(atEnd.bytes, 0x3C, static_cast<std::uint32_t>(atEnd.bytes.size() - 4));
  Put32(atEnd.bytes, atEnd.bytes.size() - 4, 0x00004550);
  EXPECT_FALSE(Locate(atEnd.bytes));
}

TEST(PeLocateTest, RvaMapsOnlyInsideASectionsRawData) {
  // The block's first byte must lie in a section's raw data; the block may run on past it, as
  // the platform reads the file there, not the section.
  const MinimalPe pe(kOne);
  const std::uint32_t blockStart = Get32(pe.bytes, pe.DataField(0)) - MinimalPe::kRootRva;
  for (const auto &[rawSize, found] : {std::pair{blockStart + 1, true}, {blockStart, false}}) {
    SCOPED_TRACE("raw size " + std::to_string(rawSize));
    MinimalPe cut(kOne);
    Put32(cut.bytes, cut.sectionTable + 16, rawSize);
    EXPECT_EQ(Locate(cut.bytes).has_value(), found);
  }
  // Below the section's start nothing maps, however far its end would wrap past 4 GiB.
  for (const std::uint32_t rva : {MinimalPe::kRootRva - 1, kMax32}) {
    SCOPED_TRACE("rva " + std::to_string(rva));
    MinimalPe moved(kOne);
    Put32(moved.bytes, moved.resourceField, rva);
    EXPECT_FALSE(Locate(moved.bytes));
  }
  MinimalPe wrapping(kOne);
  Put32(wrapping.bytes, wrapping.sectionTable + 12, 0xFFFFF000u);
  Put32(wrapping.bytes, wrapping.sectionTable + 16, 0x2000);
  EXPECT_FALSE(Locate(wrapping.bytes));
}

TEST(PeLocateTest, DataEntryMustLieInTheFile) {
  const MinimalPe pe(kOne);
  const std::uint32_t size = Get32(pe.bytes, pe.DataField(4));
  struct Case {
    const char *what;
    std::size_t field;
    std::uint32_t value;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"ends at the file's end", 4, size, "version block"},
      {"shorter", 4, 7, "version"},
      {"one byte past the end", 4, size + 1, std::nullopt},
      {"size wraps", 4, kMax32, std::nullopt},
      {"empty", 4, 0, std::nullopt},
      {"data RVA outside every section", 0, kMax32, std::nullopt},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MinimalPe patched(kOne);
    Put32(patched.bytes, patched.DataField(c.field), c.value);
    EXPECT_EQ(Locate(patched.bytes), c.expected);
  }
}

TEST(PeLocateTest, BlockIsCutAtWhatItsLengthFieldCanState) {
  const std::string big(kMaxVersionBlockSize + 100, 'v');
  const std::optional<std::string> block = Locate(MinimalPe({{0x409, big}}).bytes);
  ASSERT_TRUE(block);
  EXPECT_EQ(*block, big.substr(0, kMaxVersionBlockSize));
}

TEST(PeLocateTest, TreeThatLiesGivesNothing) {
  struct Case {
    const char *what;
    std::size_t dir;
    std::uint32_t name;
    std::uint32_t target;
  };
  const Case cases[] = {
      {"type is a data entry", 0, 16, MinimalPe::kTypeDir},
      {"subdirectory past the file", 0, 16, 0x8FFFFFFFu},
      {"version named 2, not 1", MinimalPe::kTypeDir, 2, 0x80000000u | MinimalPe::kNameDir},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    MinimalPe pe(kOne);
    pe.Directory(c.dir, c.name, c.target);
    EXPECT_FALSE(Locate(pe.bytes));
  }
  // A named entry is never taken for a numbered one, even with the number in its low bits.
  MinimalPe named(kOne);
  named.Header(0, 1, 0);
  Put32(named.bytes, MinimalPe::kRoot + 16, 0x80000010u);
  EXPECT_FALSE(Locate(named.bytes));
}

TEST(PeLocateTest, LoopsAreNotFollowedEvenWhereTheyWouldLeadToABlock) {
  // The root lists the names too, and its type 16 leads back to it: taken as the type level,
  // it would lead on to the real name directory.
  MinimalPe typeLoop(kOne);
  typeLoop.Header(0, 0, 2);
  Put32(typeLoop.bytes, MinimalPe::kRoot + 16, 1);
  Put32(typeLoop.bytes, MinimalPe::kRoot + 20, 0x80000000u | MinimalPe::kNameDir);
  Put32(typeLoop.bytes, MinimalPe::kRoot + 24, 16);
  Put32(typeLoop.bytes, MinimalPe::kRoot + 28, 0x80000000u);
  EXPECT_FALSE(Locate(typeLoop.bytes));

  // The type directory lists a language too, and its name 1 leads back to it.
  MinimalPe nameLoop(kOne);
  nameLoop.Header(MinimalPe::kTypeDir, 0, 2);
  Put32(nameLoop.bytes, MinimalPe::kRoot + MinimalPe::kTypeDir + 20,
        0x80000000u | MinimalPe::kTypeDir);
  Put32(nameLoop.bytes, MinimalPe::kRoot + MinimalPe::kTypeDir + 24, 0x409);
  Put32(nameLoop.bytes, MinimalPe::kRoot + MinimalPe::kTypeDir + 28,
        static_cast<std::uint32_t>(nameLoop.dataEntries.front()));
  EXPECT_FALSE(Locate(nameLoop.bytes));
}

TEST(PeLocateTest, AbsurdEntryCountsAreSkippedWithoutReadingThem) {
  MinimalPe pe(kOne);
  pe.Header(0, 0xFFFF, 0xFFFF);
  CountingSource source(pe.bytes);
  EXPECT_FALSE(LocateVersionBlock(source));
  EXPECT_LE(source.bytesRead, 2 * 4096u);
}

TEST(PeLocateTest, ReadsFewBytesInFewReads) {
  // A short file is read once; a long one with its resources far from the headers costs a read
  // of the headers, one of the resource tree and one of the block.
  const MinimalPe pe(kOne);
  CountingSource whole(pe.bytes);
  ASSERT_TRUE(LocateVersionBlock(whole));
  EXPECT_EQ(whole.reads, 1);

  const std::string distant(0x3000, 'v');
  MinimalPe large({{0x409, distant}});
  const Bytes tail(large.bytes.begin() + MinimalPe::kRoot, large.bytes.end());
  large.bytes.resize(0x10000);
  large.bytes.insert(large.bytes.end(), tail.begin(), tail.end());
  Put32(large.bytes, large.sectionTable + 20, 0x10000);
  CountingSource source(large.bytes);
  const std::optional<Bytes> block = LocateVersionBlock(source);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), distant.size());
  EXPECT_EQ(source.reads, 3);
  EXPECT_LE(source.bytesRead, 2 * 4096 + distant.size());

  // A small block far from its tree, with more of the file behind it, is read alone and
  // exactly: nothing after it is wanted.
  MinimalPe outlying(kOne);
  const std::string payload(600, 'f');
  const std::size_t outlyingAt = outlying.bytes.size() + 0x2000;
  outlying.bytes.resize(outlyingAt);
  for (const char c : payload + std::string(0x1000, 'z'))
    outlying.bytes.push_back(std::byte(static_cast<unsigned char>(c)));
  Put32(outlying.bytes, outlying.DataField(0),
        static_cast<std::uint32_t>(MinimalPe::kRootRva + outlyingAt - MinimalPe::kRoot));
  Put32(outlying.bytes, outlying.DataField(4), static_cast<std::uint32_t>(payload.size()));
  Put32(outlying.bytes, outlying.sectionTable + 16,
        static_cast<std::uint32_t>(outlying.bytes.size() - MinimalPe::kRoot));
  CountingSource outlyingSource(outlying.bytes);
  const std::optional<Bytes> outlyingBlock = LocateVersionBlock(outlyingSource);
  ASSERT_TRUE(outlyingBlock);
  EXPECT_EQ(outlyingBlock->size(), payload.size());
  EXPECT_EQ(outlyingSource.reads, 2);
  EXPECT_EQ(outlyingSource.bytesRead, 4096 + payload.size());
}

TEST(PeLocateTest, LanguageIsChosenAsThePlatformChoosesIt) {
  struct Case {
    std::vector<Language> languages;
    const char *chosen;
  };
  const Case cases[] = {
      {{{0x407, "de"}, {0x409, "en-US"}}, "en-US"},
      {{{0x409, "en-US"}, {0x000, "neutral"}}, "neutral"},
      {{{0x001, "ar"}, {0x009, "en"}}, "en"},
      {{{0x009, "en"}, {0x409, "en-US"}}, "en-US"},
      {{{0x407, "de"}, {0x40C, "fr"}}, "de"},
      {{{0x407, "de"}, {0x809, "en-GB"}}, "de"},
      {{{0x407, "de"}, {0x400, "neutral, default sublanguage"}}, "de"},
      // A language entry that is a subdirectory is passed over, even the preferred one.
      {{{0x409, "en-US", true}, {0x407, "de"}}, "de"},
      {{{0x409, "en-US", true}}, nullptr},
      {{}, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.chosen ? c.chosen : "none");
    const std::optional<std::string> block = Locate(MinimalPe(c.languages).bytes);
    if (c.chosen)
      EXPECT_EQ(block, c.chosen);
    else
      EXPECT_FALSE(block);
  }
}

TEST(ReadVersionBlockTest, MissingFileOrDirectoryGivesNothing) {
  errno = 0;
  EXPECT_FALSE(ReadVersionBlock(test::SamplePath("no such file.exe")));
#ifndef _WIN32
  EXPECT_EQ(errno, ENOENT);
#endif
  EXPECT_FALSE(ReadVersionBlock(test::SamplePath("")));
}

TEST(ReadVersionBlockTest, SamplesGiveTheirEntry) {
  struct Case {
    const char *file;
    const char16_t *entry; // nullptr: no version resource
  };
  const Case cases[] = {
      {"kern32.exe", u"InternalName: Kern32"},
      {"kern32_upper.exe", u"InternalName: KERN32"},
      {"wowex32.exe", u"InternalName: wowex32"},
      {"wowex32_mixed.exe", u"InternalName: WoWeX32"},
      {"near_space.exe", u"InternalName: Kern32 "},
      {"near_kern321.exe", u"InternalName: Kern321"},
      {"key_lowercase.exe", u"InternalName"},
      {"empty_value.exe", u"InternalName: "},
      {"two_tables_wrong_first.exe", u"InternalName: Setup"},
      {"two_tables_kern32_first.exe", u"InternalName: Kern32"},
      {"lang_neutral_us.exe", u"InternalName: Kern32"},
      {"lang_german_us.exe", u"InternalName: Kern32"},
      {"lang_arabic_english.exe", u"InternalName: Kern32"},
      {"lang_german_french.exe", u"InternalName: Kern32"},
      {"lang_german_british.exe", u"InternalName: Kern32"},
      {"version_id2.exe", nullptr},
      {"no_version.exe", nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    const std::optional<Bytes> block = ReadVersionBlock(test::SamplePath(c.file));
    if (!c.entry) {
      EXPECT_FALSE(block);
      continue;
    }
    EXPECT_TRUE(block);
    if (!block)
      continue;
    EXPECT_EQ(ExtractVersionEntries(*block, static_cast<std::uint32_t>(block->size())),
              VersionEntries{c.entry});
  }
}

} // namespace
} // namespace vorse
