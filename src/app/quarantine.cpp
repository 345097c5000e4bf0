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

/// The size and SHA-256 of what the readers \p ReadA and \p ReadB (offset and room to the
/// count read, or -1) read when both read through and give the same bytes; nothing otherwise.
/// Compared in chunks, so that files of any size are compared without being held whole.
template <typename ReaderA, typename ReaderB>
std::optional<FileDigest> DigestOfSame(ReaderA ReadA, ReaderB ReadB) {
  std::vector<std::byte> a(kCompareChunk);
  std::vector<std::byte> b(kCompareChunk);
  Sha256 hash;
  FileDigest digest;
  for (;;) {
    const std::int64_t readA = ReadA(digest.size, std::span<std::byte>(a));
    const std::int64_t readB = ReadB(digest.size, std::span<std::byte>(b));
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

/// Records the copy \p Target in \p Folder of the file at \p Examined, whose real location
/// (where it is put back) is \p Real and which start-up is to delete as \p Registered, in
/// Folder\manifest.tsv, once the copy is checked to hold Examined's bytes. Returns why it
/// cannot, to follow the file's path in the message for the user: the file must then not be
/// scheduled.
std::optional<std::string> RecordCopy(AppOs &App, const std::string &Folder,
                                      const std::string &Examined, const std::string &Real,
                                      const std::string &Target, const std::string &Registered) {
  const std::optional<FileDigest> digest = DigestIfEqual(App, Examined, Target);
  if (!digest)
    return "could not be checked against its copy " + Target;
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
  return "could not be recorded in " + manifest + ": " + error.message() +
         (undo ? "; cutting it back failed too: " + undo.message() : "");
}

/// What a message for the user says of a file that stays where it is.
constexpr const char *kLeftInPlace = ". It was left in place and will not be deleted.";

/// A handle of the app seam that Open gives for a path and Close ends, for as long as this
/// lives; where Open gives none (kNoFolderHold), nothing is held.
template <std::intptr_t (AppOs::*Open)(const std::string &), void (AppOs::*Close)(std::intptr_t)>
class AppHandle {
public:
  AppHandle(AppOs &App, const std::string &Path) : app_(App), handle_((App.*Open)(Path)) {}
  AppHandle(const AppHandle &) = delete;
  AppHandle &operator=(const AppHandle &) = delete;
  ~AppHandle() {
    if (handle_ != kNoFolderHold)
      (app_.*Close)(handle_);
  }
  std::intptr_t get() const { return handle_; }

private:
  AppOs &app_;
  std::intptr_t handle_;
};

/// Holds a folder's name to what it stands for now (AppOs::HoldFolder).
using FolderHold = AppHandle<&AppOs::HoldFolder, &AppOs::ReleaseFolder>;
/// The file opened to be moved (AppOs::OpenFileToMove).
using FileToMove = AppHandle<&AppOs::OpenFileToMove, &AppOs::CloseFile>;

/// Where a file goes that could be redirected where it stands: a folder inside the quarantine
/// folder, which only administrators may change, and whose paths nobody else can redirect.
constexpr const char *kDeletedAtRestart = "\\Deleted at restart";

/// Makes \p Folder where it is missing, on the NT family one that only Administrators and
/// SYSTEM may change. A folder already there stays as it is (FolderRefusal judges it).
void MakeQuarantineFolder(AppOs &App, bool AccessControl, const std::string &Drive,
                          const std::string &Folder) {
  if (AccessControl)
    App.CreatePrivateDirectory(Folder);
  else
    App.CreateDirectoryExA(Drive, Folder);
}

/// Why the held \p Folder may not take copies, or nothing when it may. A link or junction would
/// carry them wherever it points, a start-up folder say; and on the NT family a folder that
/// others own or may change lets them read or replace the copies, or make it such a link.
std::optional<std::string> FolderRefusal(AppOs &App, bool AccessControl,
                                         const std::string &Folder) {
  const std::uint32_t attributes = App.GetFileAttributesA(Folder);
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeReparsePoint) != 0)
    return "it is a link or junction, not a folder of its own";
  if (!AccessControl)
    return std::nullopt;
  const std::optional<FolderSecurity> security = App.ReadFolderSecurity(Folder);
  if (!security)
    return "its owner and permissions cannot be read: " + App.LastError().message();
  if (!OnlyTrustedMayChange(*security, Administration(App.CurrentUserSid())))
    return "users other than administrators own it or may change it";
  return std::nullopt;
}

/// Moves \p Source, once it is checked to hold the bytes of its verified \p Copy, into the
/// folder for files deleted at restart inside the quarantine folder \p Folder, under a name
/// free there. The file is opened once and moved by its handle, so what is moved is what was
/// checked. Its new path goes into \p Moved; why it could not be moved comes back otherwise.
std::optional<std::string> MoveOutOfReach(AppOs &App, const std::string &Source,
                                          const std::string &Copy, const std::string &Folder,
                                          const std::string &FileName, std::string &Moved) {
  const std::string pending = Folder + kDeletedAtRestart;
  App.CreatePrivateDirectory(pending);
  const FolderHold hold(App, pending);
  if (hold.get() == kNoFolderHold)
    return pending + " cannot be opened: " + App.LastError().message();
  if (const std::optional<std::string> refusal = FolderRefusal(App, true, pending))
    return pending + ": " + *refusal;
  const FileToMove file(App, Source);
  if (file.get() == kNoFolderHold)
    return "it cannot be opened: " + App.LastError().message();
  if (!DigestOfSame(
          [&](std::uint64_t Offset, std::span<std::byte> Out) {
            return App.ReadOpenFile(file.get(), Offset, Out);
          },
          [&](std::uint64_t Offset, std::span<std::byte> Out) {
            return App.ReadFileChunk(Copy, Offset, Out);
          }))
    return "it no longer holds what was copied";
  std::set<std::string> taken;
  for (;;) {
    const std::string target =
        QuarantineTarget(pending, FileName, [&](const std::string &Candidate) {
          return taken.count(Candidate) != 0 || App.PathFileExistsA(Candidate) != 0
                     ? QuarantineSlot::OtherContents
                     : QuarantineSlot::Free;
        });
    if (App.MoveIntoFolder(file.get(), hold.get(), target.substr(pending.size() + 1)) != 0) {
      Moved = target;
      return std::nullopt;
    }
    const std::error_code error = App.LastError();
    if (!App.MeansNameTaken(error) || taken.size() >= kMostTakenNames)
      return error.message();
    taken.insert(target);
  }
}

/// Registers the deletion of the copied \p Source at the next start of the NT family. A file
/// whose path others could redirect meanwhile is first moved where they cannot.
void ScheduleOnNT(AppOs &App, const InfectedFile &File, const std::string &Source,
                  const std::string &Copy, const std::string &Folder, QuarantineOutcome &Outcome) {
  // Start-up deletes the path as registered, with no program's view of the system directory:
  // the file's real location is what names the file that was examined and copied.
  const std::string real = App.RealLocation(Source);
  std::string path;
  const bool inPlace =
      NobodyElseCanRedirect(real, App.CurrentUserSid(), [&](const std::string &Path) {
        return App.ReadFolderSecurity(Path);
      });
  if (inPlace) {
    // The row's own text where it names the file, shortened; a relocated path whole, as its
    // short form too would be asked of the twin. The delayed-move facility takes long paths.
    path = real != Source ? real : ShortPath(App, File.RowText);
    if (path.empty())
      path = File.RowText;
  } else {
    const std::optional<std::string> problem =
        MoveOutOfReach(App, Source, Copy, Folder, File.FileName, path);
    if (problem) {
      Outcome.Problem = Source +
                        " was left in place and will not be deleted: users other than "
                        "administrators may change a folder on its path, and it could not be "
                        "moved into " +
                        Folder + kDeletedAtRestart + ": " + *problem + ". Its copy is " + Copy +
                        ".";
      return;
    }
  }
  // Nothing is deleted that cannot be put back: a file whose copy is not recorded stays.
  if (const std::optional<std::string> problem =
          RecordCopy(App, Folder, inPlace ? Source : path, real, Copy, path)) {
    Outcome.Problem =
        Source + " " + *problem +
        (inPlace ? kLeftInPlace : ". It was moved to " + path + " and will not be deleted.");
    return;
  }
  // Cleared by the path this program reaches the file by: under WOW64 the real location would
  // reach its twin in the other system directory.
  ClearReadOnly(App, inPlace ? Source : path, Outcome);
  if (App.MoveFileExA(path, nullptr, kMoveFileDelayUntilReboot) == 0)
    Outcome.Problem = NotScheduled(path, App.LastError().message(), Copy);
  else
    Outcome.Scheduled = true;
}

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
  return DigestOfSame([&](std::uint64_t Offset,
                          std::span<std::byte> Out) { return Os.ReadFileChunk(A, Offset, Out); },
                      [&](std::uint64_t Offset, std::span<std::byte> Out) {
                        return Os.ReadFileChunk(B, Offset, Out);
                      });
}

bool FilesEqual(AppOs &Os, const std::string &A, const std::string &B) {
  return DigestIfEqual(Os, A, B).has_value();
}

QuarantineOutcome QuarantineFile(AppOs &App, SysutilOs &Sys, const std::string &WinDir,
                                 const InfectedFile &File) {
  const std::string source = Trim(File.RowText);
  const std::string folder = File.Drive + "\\!VorseFix";
  const bool accessControl = OS_Detect(Sys) == kPlatformNT;
  MakeQuarantineFolder(App, accessControl, File.Drive, folder);
  // The name is held from before the check until the copies are made, so it cannot be given to
  // a link in between. The 9x family opens no folder (CreateFileA has no backup semantics
  // there) and has no links.
  std::optional<FolderHold> hold;
  if (OS_Detect(Sys) != kPlatform9x)
    hold.emplace(App, folder);
  if (const std::optional<std::string> refusal = FolderRefusal(App, accessControl, folder))
    return {false, source + " could not be copied to " + folder + ": " + *refusal + kLeftInPlace};

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
      return {false,
              source + " could not be copied to " + target + ": " + error.message() + kLeftInPlace};
    }
    taken.insert(target);
  }
  // The copy counts only where it stands in the held folder under its own name.
  if (const std::string landed = App.RealLocation(target); landed != target)
    return {false, source + " could not be copied to " + target + ": the copy is at " + landed +
                       " instead" + kLeftInPlace};

  QuarantineOutcome outcome;
  if (accessControl)
    ScheduleOnNT(App, File, source, target, folder, outcome);
  if (OS_Detect(Sys) == kPlatform9x) {
    const std::string real = App.RealLocation(source);
    // wininit.ini is read before long names exist; a line without a short form would name
    // nothing, or the wrong file.
    const std::string registered = ShortPath(App, real);
    // Nothing is deleted that cannot be put back: a file whose copy is not recorded stays.
    if (!registered.empty()) {
      if (const std::optional<std::string> problem =
              RecordCopy(App, folder, source, real, target, registered))
        return {false, source + " " + *problem + kLeftInPlace};
    }
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
