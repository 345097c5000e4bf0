// LocateVersionBlock: the walk from a PE file's headers through its resource tree to the block.
#include "pe_locate.h"

#include "byte_reader.h"
#include "pe_format.h"

#include <algorithm>
#include <array>

#ifdef _WIN32
#include "sysutil/win32_support.h"
#else
#include "file_source_posix.h"
#include "sysutil/posix_file.h"
#endif

namespace vorse {
namespace {

using namespace pe;

// Fields of the resource structures, as offsets from the structure's start.
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint64_t kResourceDirectorySize = 16;
constexpr std::uint64_t kResourceNamedCount = 12;
constexpr std::uint64_t kResourceIdCount = 14;
constexpr std::size_t kResourceEntrySize = 8;
constexpr std::uint32_t kEntryIsDirectory = 0x80000000u;
constexpr std::uint64_t kDataEntrySizeField = 4; // after OffsetToData

constexpr std::uint16_t kRtVersion = 16;
constexpr std::uint16_t kVsVersionInfo = 1;
// The languages the platform's version query tries, in order, before it settles for the first
// one listed: neutral, then U.S. English, then English of no particular country.
constexpr std::array<std::uint16_t, 3> kLanguageOrder = {0x0000, 0x0409, 0x0009};

// A directory with more entries than this is hostile: real ones hold a few dozen at most, and
// the entries' count alone would otherwise decide how much we read.
constexpr std::uint32_t kMaxDirectoryEntries = 4096;

// One read at the start covers the headers and section table of nearly every file; one more,
// where the walk first reads past them (the resource root), covers the whole directory tree of
// most. The second is smaller: a tree is compact, and copying bytes that are never looked at
// costs more than the rare extra read.
constexpr std::size_t kHeadWindowSize = 4096;
constexpr std::size_t kNearWindowSize = 1024;
/// The longest single field of the image structures that the walk reads.
constexpr std::size_t kFieldSize = sizeof(std::uint32_t);

/// A ByteSource read through two kept windows: the file's first bytes, and the bytes from the
/// last field read that fell outside both. The walk's many small reads then cost few reads of
/// the file.
class WindowedReader {
public:
  explicit WindowedReader(ByteSource &File) : file_(File) { Load(head_, 0); }

  std::uint64_t Size() const { return file_.Size(); }

  bool Read(std::uint64_t Offset, std::span<std::byte> Out) {
    if (CopyFrom(head_, Offset, Out) || CopyFrom(recent_, Offset, Out))
      return true;
    if (!RangeFits(file_.Size(), Offset, Out.size()))
      return false;
    // A field read that misses moves the second window to it: the walk's next reads (the
    // directory's entries, the next level, the data entry) mostly fall close after it. Longer
    // reads (the block itself, a table) are read alone and exactly: nothing follows them.
    if (Out.size() <= kFieldSize) {
      Load(recent_, Offset);
      return CopyFrom(recent_, Offset, Out);
    }
    return file_.Read(Offset, Out);
  }

  template <std::unsigned_integral T> std::optional<T> Value(std::uint64_t Offset) {
    std::array<std::byte, sizeof(T)> bytes{};
    if (!Read(Offset, bytes))
      return std::nullopt;
    return ReadLe<T>(bytes, 0);
  }

private:
  // Fixed storage: no allocation per file for the windows.
  template <std::size_t Capacity> struct Window {
    std::uint64_t offset = 0;
    std::size_t length = 0;
    std::array<std::byte, Capacity> bytes;
  };

  template <std::size_t Capacity> void Load(Window<Capacity> &Into, std::uint64_t Offset) {
    Into.offset = Offset;
    Into.length = file_.ReadUpTo(Offset, Into.bytes);
  }

  template <std::size_t Capacity>
  static bool CopyFrom(const Window<Capacity> &From, std::uint64_t Offset,
                       std::span<std::byte> Out) {
    if (Offset < From.offset || !RangeFits(From.length, Offset - From.offset, Out.size()))
      return false;
    std::copy_n(From.bytes.begin() + static_cast<std::ptrdiff_t>(Offset - From.offset), Out.size(),
                Out.begin());
    return true;
  }

  ByteSource &file_;
  Window<kHeadWindowSize> head_;
  Window<kNearWindowSize> recent_;
};

struct ImageHeaders {
  std::uint32_t resourceRva = 0;
  std::vector<Section> sections;
};

/// The resource directory's address and the section table, or nothing when the headers are
/// not those of a PE32 or PE32+ file.
std::optional<ImageHeaders> ReadHeaders(WindowedReader &Reader) {
  if (Reader.Value<std::uint16_t>(0) != kDosMagic)
    return std::nullopt;
  const std::optional<std::uint32_t> peOffset = Reader.Value<std::uint32_t>(kDosNewHeaderField);
  if (!peOffset || Reader.Value<std::uint32_t>(*peOffset) != kPeSignature)
    return std::nullopt;
  const std::uint64_t pe = *peOffset;
  const std::optional<std::uint16_t> sectionCount =
      Reader.Value<std::uint16_t>(pe + kFileHeaderSectionCount);
  const std::optional<std::uint16_t> optionalSize =
      Reader.Value<std::uint16_t>(pe + kFileHeaderOptionalSize);
  const std::optional<std::uint16_t> magic = Reader.Value<std::uint16_t>(pe + kOptionalHeaderStart);
  if (!sectionCount || !optionalSize || !magic)
    return std::nullopt;

  const std::uint64_t optional = pe + kOptionalHeaderStart;
  std::uint64_t countField = 0;
  if (*magic == kPe32Magic)
    countField = optional + kPe32DirectoryCount;
  else if (*magic == kPe32PlusMagic)
    countField = optional + kPe32PlusDirectoryCount;
  else
    return std::nullopt;
  // The directory count is trusted as the loader trusts it; SizeOfOptionalHeader is not
  // checked against it, since the loader does not either.
  const std::optional<std::uint32_t> directoryCount = Reader.Value<std::uint32_t>(countField);
  if (!directoryCount || *directoryCount <= kResourceDirectoryIndex)
    return std::nullopt;
  // The directory's Size is not checked: the platform's resource lookup ignores it, and
  // linkers have been known to get it wrong.
  const std::optional<std::uint32_t> resourceRva =
      Reader.Value<std::uint32_t>(countField + 4 + kResourceDirectoryIndex * kDataDirectorySize);
  if (!resourceRva || *resourceRva == 0)
    return std::nullopt;

  // The count is a 16-bit field, so the table is at most 2.6 MB and must lie in the file. No
  // lower cap: the loader takes every section, and a cap would let a file hide its resources
  // from us behind a long table.
  const std::uint64_t table = optional + *optionalSize;
  const std::uint64_t tableSize = *sectionCount * kSectionHeaderSize;
  if (!RangeFits(Reader.Size(), table, tableSize))
    return std::nullopt;
  std::vector<std::byte> entries(static_cast<std::size_t>(tableSize));
  if (!Reader.Read(table, entries))
    return std::nullopt;
  // The buffer holds the whole table, so none of the reads below can fail.
  ImageHeaders headers{*resourceRva, std::vector<Section>(*sectionCount)};
  for (std::size_t i = 0; i < headers.sections.size(); ++i) {
    const std::uint64_t at = i * kSectionHeaderSize;
    headers.sections[i] =
        Section{*ReadU32(entries, at + kSectionVirtualAddress),
                *ReadU32(entries, at + kSectionRawSize), *ReadU32(entries, at + kSectionRawOffset)};
  }
  return headers;
}

struct DirectoryEntry {
  std::uint32_t name = 0;
  std::uint32_t target = 0;

  bool IsDirectory() const { return (target & kEntryIsDirectory) != 0; }
  std::uint32_t TargetOffset() const { return target & ~kEntryIsDirectory; }
};

struct Directory {
  std::uint32_t namedCount = 0;
  std::vector<DirectoryEntry> entries;
};

/// The entries of the resource directory at \p Offset from the resource root \p Root.
std::optional<Directory> ReadDirectory(WindowedReader &Reader, std::uint64_t Root,
                                       std::uint32_t Offset) {
  const std::uint64_t at = Root + Offset;
  const std::optional<std::uint16_t> named = Reader.Value<std::uint16_t>(at + kResourceNamedCount);
  const std::optional<std::uint16_t> ids = Reader.Value<std::uint16_t>(at + kResourceIdCount);
  if (!named || !ids)
    return std::nullopt;
  const std::size_t count = std::size_t{*named} + *ids;
  if (count > kMaxDirectoryEntries)
    return std::nullopt;
  std::vector<std::byte> raw(count * kResourceEntrySize);
  if (!Reader.Read(at + kResourceDirectorySize, raw))
    return std::nullopt;
  // The buffer holds every entry, so none of the reads below can fail.
  Directory directory{*named, std::vector<DirectoryEntry>(count)};
  for (std::size_t i = 0; i < directory.entries.size(); ++i)
    directory.entries[i] = DirectoryEntry{*ReadU32(raw, i * kResourceEntrySize),
                                          *ReadU32(raw, i * kResourceEntrySize + 4)};
  return directory;
}

/// The offset that the entry with number \p Id leads to, when it is of the wanted kind (a
/// subdirectory or a data entry). Numbered entries follow the named ones; as on the platform,
/// only the low 16 bits of an entry's name are its number, and the first entry with the
/// number decides even when it is of the other kind.
std::optional<std::uint32_t> FindById(const Directory &Dir, std::uint16_t Id, bool WantDirectory) {
  for (std::size_t i = Dir.namedCount; i < Dir.entries.size(); ++i) {
    const DirectoryEntry &entry = Dir.entries[i];
    if ((entry.name & 0xFFFFu) != Id)
      continue;
    if (entry.IsDirectory() != WantDirectory)
      return std::nullopt;
    return entry.TargetOffset();
  }
  return std::nullopt;
}

/// The data entry of the language the platform picks: the first of kLanguageOrder present,
/// else the first data entry listed, named or numbered.
std::optional<std::uint32_t> ChooseLanguage(const Directory &Dir) {
  for (const std::uint16_t language : kLanguageOrder) {
    if (const std::optional<std::uint32_t> found = FindById(Dir, language, false))
      return found;
  }
  for (const DirectoryEntry &entry : Dir.entries) {
    if (!entry.IsDirectory())
      return entry.TargetOffset();
  }
  return std::nullopt;
}

/// The subdirectory with number \p Id of the directory at \p Offset, as an offset from the
/// root. Nothing when there is none, or when it leads back to a directory on \p Path, which a
/// looping tree would do.
std::optional<std::uint32_t> Descend(WindowedReader &Reader, std::uint64_t Root,
                                     std::uint32_t Offset, std::uint16_t Id,
                                     std::span<const std::uint32_t> Path) {
  const std::optional<Directory> dir = ReadDirectory(Reader, Root, Offset);
  if (!dir)
    return std::nullopt;
  const std::optional<std::uint32_t> next = FindById(*dir, Id, true);
  if (!next || std::find(Path.begin(), Path.end(), *next) != Path.end())
    return std::nullopt;
  return next;
}

#ifdef _WIN32

/// A file read through its own handle, so that each read asks for exactly the bytes wanted. By
/// the calls every Windows has: the C++ runtime's file streams bring in C runtime calls that the
/// 9x family lacks.
class FileSource : public ByteSource {
public:
  explicit FileSource(const std::string &Path)
      : file_(win32::CreateFileAt(Path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
    DWORD high = 0;
    const DWORD low = file_ ? ::GetFileSize(file_.get(), &high) : INVALID_FILE_SIZE;
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR)
      file_.reset();
    else
      size_ = (static_cast<std::uint64_t>(high) << 32) | low;
  }
  bool IsOpen() const { return static_cast<bool>(file_); }
  std::uint64_t Size() const override { return size_; }
  bool Read(std::uint64_t Offset, std::span<std::byte> Out) override {
    if (!RangeFits(size_, Offset, Out.size()) || !win32::SeekFile(file_.get(), Offset, FILE_BEGIN))
      return false;
    for (std::size_t done = 0; done < Out.size();) {
      const auto wanted = static_cast<DWORD>(std::min<std::size_t>(Out.size() - done, 1u << 30));
      DWORD got = 0;
      if (!::ReadFile(file_.get(), Out.data() + done, wanted, &got, nullptr) || got == 0)
        return false;
      done += got;
    }
    return true;
  }

private:
  win32::ScopedFileHandle file_;
  std::uint64_t size_ = 0;
};

#endif

} // namespace

std::size_t ByteSource::ReadUpTo(std::uint64_t Offset, std::span<std::byte> Out) {
  if (Offset >= Size())
    return 0;
  const std::span<std::byte> within =
      Out.first(static_cast<std::size_t>(std::min<std::uint64_t>(Out.size(), Size() - Offset)));
  return Read(Offset, within) ? within.size() : 0;
}

bool MemoryByteSource::Read(std::uint64_t Offset, std::span<std::byte> Out) {
  if (!RangeFits(bytes_.size(), Offset, Out.size()))
    return false;
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(Offset), Out.size(), Out.begin());
  return true;
}

std::optional<std::vector<std::byte>> LocateVersionBlock(ByteSource &File) {
  WindowedReader reader(File);
  const std::optional<ImageHeaders> headers = ReadHeaders(reader);
  if (!headers)
    return std::nullopt;
  const std::optional<std::uint64_t> root = RvaToOffset(headers->sections, headers->resourceRva);
  if (!root)
    return std::nullopt;

  // Type, then name, then language: the tree is always three levels deep, and each level's
  // directory must be new to the path.
  const std::array<std::uint32_t, 1> rootPath = {0};
  const std::optional<std::uint32_t> type = Descend(reader, *root, 0, kRtVersion, rootPath);
  if (!type)
    return std::nullopt;
  // Only the name the platform's query asks for: a version resource under another name is
  // not found there either.
  const std::array<std::uint32_t, 2> typePath = {0, *type};
  const std::optional<std::uint32_t> name = Descend(reader, *root, *type, kVsVersionInfo, typePath);
  if (!name)
    return std::nullopt;
  const std::optional<Directory> languages = ReadDirectory(reader, *root, *name);
  if (!languages)
    return std::nullopt;
  const std::optional<std::uint32_t> dataEntry = ChooseLanguage(*languages);
  if (!dataEntry)
    return std::nullopt;

  const std::optional<std::uint32_t> dataRva = reader.Value<std::uint32_t>(*root + *dataEntry);
  const std::optional<std::uint32_t> dataSize =
      reader.Value<std::uint32_t>(*root + *dataEntry + kDataEntrySizeField);
  if (!dataRva || !dataSize || *dataSize == 0)
    return std::nullopt;
  const std::optional<std::uint64_t> data = RvaToOffset(headers->sections, *dataRva);
  // A block said to run past the end of the file is damaged, not merely long.
  if (!data || !RangeFits(reader.Size(), *data, *dataSize))
    return std::nullopt;
  // Lenient: a Size beyond what the block's 16-bit length can state is cut, not refused; the
  // block itself is whole within the first kMaxVersionBlockSize bytes. Where the file's length
  // is learnt from its reads, its last byte tells that the whole stated Size is there.
  std::vector<std::byte> block(std::min(*dataSize, kMaxVersionBlockSize));
  std::array<std::byte, 1> last{};
  if (!reader.Read(*data, block) ||
      (block.size() < *dataSize && !reader.Read(*data + *dataSize - 1, last)))
    return std::nullopt;
  return block;
}

#ifdef _WIN32

std::optional<std::vector<std::byte>> ReadVersionBlock(const std::string &Path) {
  FileSource source(Path);
  if (!source.IsOpen())
    return std::nullopt;
  // A read that failed leaves its reason; a file read to no block says so as the system's
  // version query does.
  ::SetLastError(NO_ERROR);
  std::optional<std::vector<std::byte>> block = LocateVersionBlock(source);
  if (!block && ::GetLastError() == NO_ERROR)
    ::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return block;
}

#else

std::optional<std::vector<std::byte>> ReadVersionBlock(const std::string &Path) {
  const PathAt at(Path);
  if (!at)
    return std::nullopt;
  return ReadVersionBlockAt(at.Dir(), at.Name(), false);
}

std::optional<std::vector<std::byte>> ReadVersionBlockAt(int Dir, const char *Name,
                                                         bool ListedRegular) {
  FileSource source(Dir, Name, ListedRegular);
  if (!source.IsOpen())
    return std::nullopt;
  return LocateVersionBlock(source);
}

#endif

} // namespace vorse
