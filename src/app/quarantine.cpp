// The quarantine step: copy into !VorseFix, then delete at restart by the family's own means.
#include "app/quarantine.h"

#include "app/manifest.h"
#include "app/quarantine_name.h"
#include "app/runtime_error.h"
#include "app/wininit.h"
#include "scan/scan_os.h"
#include "sysutil/os_detect.h"
#include "sysutil/sha256.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <set>
#include <vector>

namespace vorse {
namespace {

/// The room ShortPath offers first, and the size it tells the platform: one character is kept
/// spare, so a short form of up to 163 characters fits.
constexpr std::size_t kShortPathRoom = 165;
constexpr std::uint32_t kShortPathSize = 164;
/// No Windows path, long or short, runs past 32,767 characters and its terminator.
constexpr std::uint32_t kLongestPathSize = 32768;

constexpr std::size_t kCompareChunk = 64 * 1024;
/// How many quarantine names a copy may find taken before the file is left in place.
constexpr std::size_t kMostTakenNames = 100;

/// Asks for the short form of \p Path with \p Size characters of room; returns the platform's
/// result and, when the form fitted, the form itself in \p Form.
std::uint32_t AskShortPath(AppOs &Os, const std::string &Path, std::size_t Room, std::uint32_t Size,
                           std::string &Form) {
  std::string buffer(Room, '\0');
  const std::uint32_t n = Os.GetShortPathNameA(Path, buffer.data(), Size);
  if (n < Size)
    Form = buffer.substr(0, n);
  return n;
}

/// The whole of the text file at \p Path. Throws RuntimeError naming it when it cannot be read.
std::string ReadWholeFile(AppOs &App, const std::string &Path) {
  std::string text;
  std::vector<std::byte> chunk(kCompareChunk);
  for (;;) {
    const std::int64_t read = App.ReadFileChunk(Path, text.size(), chunk);
    if (read < 0 || read > static_cast<std::int64_t>(chunk.size()))
      throw RuntimeError("Cannot read " + Path + ": " + App.LastError().message());
    if (read == 0)
      return text;
    text.append(reinterpret_cast<const char *>(chunk.data()), static_cast<std::size_t>(read));
  }
}

/// Puts \p Text in place of the file \p Path with the calls the 9x family has (it has no
/// MoveFileExA): written beside it first, the old file renamed aside, the new one renamed into
/// its place, the old one deleted. A step that fails puts back what the step before moved, so
/// that Path stays one whole file, old or new; the RuntimeError names the file and the reason.
void ReplaceTextFile(AppOs &App, const std::string &Path, const std::string &Text) {
  const std::string fresh = App.WriteBeside(Path, Text);
  const std::string aside = fresh + ".old";
  const auto fail = [&] {
    return RuntimeError("Cannot replace " + Path + ": " + App.LastError().message());
  };
  if (App.MoveFileA(Path, aside) == 0) {
    const RuntimeError error = fail();
    App.DeleteFileA(fresh);
    throw error;
  }
  if (App.MoveFileA(fresh, Path) == 0) {
    const RuntimeError error = fail();
    if (App.MoveFileA(aside, Path) == 0)
      throw RuntimeError(std::string(error.what()) + "; its old lines are in " + aside +
                         ", its new ones in " + fresh);
    App.DeleteFileA(fresh);
    throw error;
  }
  // The new file is in place; an old copy that stays beside it is carried out by no one.
  App.DeleteFileA(aside);
}

/// Adds one "NUL=" line for \p ShortForm to wininit.ini, creating the file with its "[rename]"
/// section when there is none yet, and keeping the line inside the section start-up reads when
/// there is. The file is written and closed within the call.
void AddWininitLine(AppOs &App, const std::string &WinDir, const std::string &ShortForm) {
  const std::string ini = WinDir + "\\wininit.ini";
  const std::string line = "NUL=" + ShortForm + "\r\n";
  if (App.PathFileExistsA(ini) == 0) {
    App.WriteNewFile(ini, "[rename]\r\n" + line);
    return;
  }
  const WininitEdit edit = PlanWininitLine(ReadWholeFile(App, ini), line);
  // A rewrite goes into a new file that takes the old one's place only once it is whole: a
  // failed write keeps the lines other programs have scheduled.
  if (edit.Rewrite)
    ReplaceTextFile(App, ini, edit.Text);
  else
    App.AppendLines(ini, edit.Text);
}

std::string NotScheduled(const std::string &Source, const std::string &Reason,
                         const std::string &Target) {
  return Source + " could not be scheduled for deletion at restart: " + Reason + ". Its copy is " +
         Target + ".";
}

/// Start-up cannot delete a read-only file; the file is going away, so the bit goes first. A
/// bit that stays is told in \p Outcome.
void ClearReadOnly(AppOs &App, const std::string &Path, QuarantineOutcome &Outcome) {
  const std::uint32_t attributes = App.GetFileAttributesA(Path);
  if (attributes == kInvalidFileAttributes || (attributes & kFileAttributeReadOnly) == 0 ||
      App.SetFileAttributesA(Path, attributes & ~kFileAttributeReadOnly) != 0)
    return;
  Outcome.Problem = Path +
                    " is read-only and could not be made writable: " + App.LastError().message() +
                    ". It may stay after the restart.";
}

/// Records the copy \p Target in \p Folder of the file \p Source, whose real location is
/// \p Real and which start-up is to delete as \p Registered, in Folder\manifest.tsv, once the
/// copy is checked to hold Source's bytes. Returns the message for the user when it cannot: the
/// file must then stay where it is.
std::optional<std::string> RecordCopy(AppOs &App, const std::string &Folder,
                                      const std::string &Source, const std::string &Real,
                                      const std::string &Target, const std::string &Registered) {
  const std::string kept = ". It was left in place and will not be deleted.";
  const std::optional<FileDigest> digest = DigestIfEqual(App, Source, Target);
  if (!digest)
    return Source + " could not be checked against its copy " + Target + kept;
  const std::string manifest = Folder + "\\manifest.tsv";
  const ManifestRecord record{ManifestTime(std::chrono::system_clock::now()),
                              Real,
                              Target.substr(Folder.size() + 1),
                              *digest,
                              false,
                              Registered};
  std::unique_ptr<AppendFile> file;
  std::uint64_t length = 0;
  bool created = false;
  std::error_code undo;
  std::error_code error = App.OpenAppendFile(manifest, file, length, created);
  if (!error)
    error = AppendManifestRecord(*file, length, record, undo);
  if (!error)
    return std::nullopt;
  return Source + " could not be recorded in " + manifest + ": " + error.message() +
         (undo ? "; cutting it back failed too: " + undo.message() : "") + kept;
}

/// Holds a folder's name to what it stands for now (AppOs::HoldFolder) for as long as it lives.
/// Where the folder cannot be held, or \p Hold is false, nothing is.
class FolderHold {
public:
  FolderHold(AppOs &App, const std::string &Path, bool Hold)
      : app_(App), hold_(Hold ? App.HoldFolder(Path) : kNoFolderHold) {}
  FolderHold(const FolderHold &) = delete;
  FolderHold &operator=(const FolderHold &) = delete;
  ~FolderHold() {
    if (hold_ != kNoFolderHold)
      app_.ReleaseFolder(hold_);
  }

private:
  AppOs &app_;
  std::intptr_t hold_;
};

} // namespace

std::string Trim(std::string_view Text) {
  const std::size_t first = Text.find_first_not_of(' ');
  if (first == std::string_view::npos)
    return {};
  const std::size_t last = Text.find_last_not_of(' ');
  return std::string(Text.substr(first, last - first + 1));
}

std::string ShortPath(AppOs &Os, const std::string &strFileName) {
  std::string form;
  const std::uint32_t needed = AskShortPath(Os, strFileName, kShortPathRoom, kShortPathSize, form);
  if (needed < kShortPathSize || needed > kLongestPathSize)
    return form;
  // The form did not fit, and the platform said how much room it needs. Once more with that
  // room; a form that has grown again meanwhile gives nothing rather than a cut path.
  AskShortPath(Os, strFileName, needed, needed, form);
  return form;
}

std::optional<FileDigest> DigestIfEqual(AppOs &Os, const std::string &A, const std::string &B) {
  std::vector<std::byte> a(kCompareChunk);
  std::vector<std::byte> b(kCompareChunk);
  Sha256 hash;
  FileDigest digest;
  for (;;) {
    const std::int64_t readA = Os.ReadFileChunk(A, digest.size, a);
    const std::int64_t readB = Os.ReadFileChunk(B, digest.size, b);
    if (readA < 0 || readA != readB || readA > static_cast<std::int64_t>(kCompareChunk))
      return std::nullopt;
    if (readA == 0)
      break;
    const auto count = static_cast<std::size_t>(readA);
    if (!std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(count), b.begin()))
      return std::nullopt;
    hash.Update(std::span(a).first(count));
    digest.size += count;
  }
  digest.sha256 = HexDigest(hash);
  return digest;
}

bool FilesEqual(AppOs &Os, const std::string &A, const std::string &B) {
  return DigestIfEqual(Os, A, B).has_value();
}

QuarantineOutcome QuarantineFile(AppOs &App, SysutilOs &Sys, const std::string &WinDir,
                                 const InfectedFile &File) {
  const std::string source = Trim(File.RowText);
  const std::string folder = File.Drive + "\\!VorseFix";
  // Fails when the folder is there from an earlier run, which is just as good.
  App.CreateDirectoryExA(File.Drive, folder);
  // A link or junction planted at the folder's name would carry the copies wherever it points,
  // a start-up folder say: no copy goes through one. The name is held from before the check
  // until the copy is made, so it cannot be given to a link in between.
  // The 9x family opens no folder (CreateFileA has no backup semantics there) and has no links.
  const FolderHold hold(App, folder, OS_Detect(Sys) != kPlatform9x);
  const std::uint32_t folderAttributes = App.GetFileAttributesA(folder);
  if (folderAttributes != kInvalidFileAttributes &&
      (folderAttributes & kFileAttributeReparsePoint) != 0)
    return {false, source + " could not be copied to " + folder +
                       ": it is a link or junction, not a folder of its own. It was left in "
                       "place and will not be deleted."};

  std::string target;
  // Names found taken by the copy itself though the probe saw nothing there (a dangling link).
  std::set<std::string> taken;
  for (;;) {
    QuarantineSlot slot = QuarantineSlot::Free;
    target = QuarantineTarget(folder, File.FileName, [&](const std::string &Candidate) {
      if (taken.count(Candidate) != 0)
        slot = QuarantineSlot::OtherContents;
      else if (App.PathFileExistsA(Candidate) == 0)
        slot = QuarantineSlot::Free;
      else if (FilesEqual(App, source, Candidate))
        slot = QuarantineSlot::SameContents;
      else
        slot = QuarantineSlot::OtherContents;
      return slot;
    });
    // failIfExists: should a file take the free name meanwhile, it is kept and this copy fails.
    if (slot != QuarantineSlot::Free || App.CopyFileA(source, target, 1) != 0)
      break;
    const std::error_code error = App.LastError();
    if (!App.MeansNameTaken(error) || taken.size() >= kMostTakenNames) {
      // Deleting a file without a copy would lose it for good if it was wrongly taken for
      // infected, so it stays where it is.
      return {false, source + " could not be copied to " + target + ": " + error.message() +
                         ". It was left in place and will not be deleted."};
    }
    taken.insert(target);
  }

  // Start-up deletes the path as registered, with no program's view of the system directory:
  // the file's real location is what names the file that was examined and copied.
  const std::string real = App.RealLocation(source);
  const bool relocated = real != source;
  const bool nt = OS_Detect(Sys) == kPlatformNT;
  const bool nineX = OS_Detect(Sys) == kPlatform9x;
  std::string registered;
  if (nt) {
    // The row's own text where it names the file; the delayed-move facility takes a long path
    // as well, should there be no short form.
    const std::string longPath = relocated ? real : File.RowText;
    registered = ShortPath(App, longPath);
    if (registered.empty())
      registered = longPath;
  }
  // wininit.ini is read before long names exist; a line without a short form would name
  // nothing, or the wrong file.
  if (nineX)
    registered = ShortPath(App, real);
  // Nothing is deleted that cannot be put back: a file whose copy is not recorded stays.
  if (!registered.empty()) {
    if (std::optional<std::string> problem =
            RecordCopy(App, folder, source, real, target, registered))
      return {false, std::move(problem)};
  }

  QuarantineOutcome outcome;
  if (nt) {
    ClearReadOnly(App, real, outcome);
    if (App.MoveFileExA(registered, nullptr, kMoveFileDelayUntilReboot) == 0)
      outcome.Problem = NotScheduled(source, App.LastError().message(), target);
    else
      outcome.Scheduled = true;
  }
  if (nineX) {
    ClearReadOnly(App, real, outcome);
    if (registered.empty()) {
      outcome.Problem = NotScheduled(source, "Windows gives no short (8.3) name for it", target);
    } else {
      AddWininitLine(App, WinDir, registered);
      outcome.Scheduled = true;
    }
  }
  return outcome;
}

} // namespace vorse
