// SteeredCliOs: the platform's CliOs with the answers and failures a test asks for.
#pragma once

#include "cli/cli_os.h"
#include "scan/narrow_names.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vorse::test {

/// An append file whose writes stop after \p Limit bytes, as on a full disk.
class ShortAppendFile final : public AppendFile {
public:
  ShortAppendFile(std::unique_ptr<AppendFile> Real, std::size_t Limit)
      : real_(std::move(Real)), limit_(Limit) {}
  std::error_code Append(std::string_view Data, std::size_t &Written) override {
    return real_->Append(Data.substr(0, limit_), Written);
  }
  std::error_code Truncate(std::uint64_t Length) override { return real_->Truncate(Length); }

private:
  std::unique_ptr<AppendFile> real_;
  std::size_t limit_;
};

/// The platform's CliOs, with a terminal or not, directory identities and removals that a
/// test may steer, copies and manifest writes it may spoil, and a fixed clock and host name.
class SteeredCliOs final : public CliOs {
public:
  /// 2026-05-01T09:30:00.250Z
  static constexpr std::chrono::milliseconds kNow{1'777'627'800'250};

  bool terminal = false;
  bool stdoutOpen = true;
  /// Whether names are judged by Windows' narrow calls' rules, as on Windows.
  bool narrowNames = false;
  std::map<std::string, DirectoryId> identities;
  /// ScheduledAtRestart: RemoveFound gives the path found to register, as for a file in use.
  std::optional<RemoveOutcome> removeAs;
  /// Paths whose removal fails as a file without the right to delete it does.
  std::set<std::string> undeletable;
  bool spoilCopies = false;
  /// Each append writes at most this many bytes, as on a disk that fills up.
  std::optional<std::size_t> appendLimit;
  /// The longest path the calls take, as Windows has one; the platform's own when unset.
  std::optional<std::size_t> pathLimit;
  std::vector<std::string> removed;
  /// The paths DeleteAtRestart was given (registered only where removeAs is unset).
  std::vector<std::string> registered;
  /// Runs before each manifest append: the last step before an original is removed.
  std::function<void()> beforeAppend;

  std::string NativePath(const std::string &SearchPath) override {
    return real_.NativePath(SearchPath);
  }
  std::string SearchForm(const std::string &NativePath) override {
    return real_.SearchForm(NativePath);
  }
  std::size_t PathLimit() override { return pathLimit.value_or(real_.PathLimit()); }
  std::vector<std::string> DefaultRoots() override { return real_.DefaultRoots(); }
  bool StderrIsTerminal() override { return terminal; }
  bool StdoutIsOpen() override { return stdoutOpen; }
  bool MeansNothingThere(std::error_code Error) override { return real_.MeansNothingThere(Error); }
  bool MeansNoMoreFiles(std::error_code Error) override { return real_.MeansNoMoreFiles(Error); }
  bool NarrowCallsRewrite(std::string_view Name) override {
    return narrowNames ? vorse::NarrowCallsRewrite(Name) : real_.NarrowCallsRewrite(Name);
  }
  bool MeansNoVersionResource(std::error_code Error) override {
    return real_.MeansNoVersionResource(Error);
  }
  std::optional<DirectoryId> IdentifyDirectory(const std::string &SearchPath) override {
    const auto steered = identities.find(NativePath(SearchPath));
    return steered != identities.end() ? steered->second : real_.IdentifyDirectory(SearchPath);
  }
  bool Exists(const std::string &Path) override { return real_.Exists(Path); }
  std::error_code CreateDirectories(const std::string &Path) override {
    return real_.CreateDirectories(Path);
  }
  std::error_code CopyToNewFile(const std::string &Source, const std::string &Target) override {
    return Spoil(real_.CopyToNewFile(Source, Target), Target);
  }
  std::error_code CopyFoundToNewFile(FoundFile &Source, const std::string &Target) override {
    return Spoil(real_.CopyFoundToNewFile(Source, Target), Target);
  }
  std::error_code OpenEntryToRead(const std::string &Path, StdioFile &File) override {
    return real_.OpenEntryToRead(Path, File);
  }
  std::optional<FileId> IdentifyFile(std::FILE *File) override { return real_.IdentifyFile(File); }
  std::error_code OpenAppendFile(const std::string &Path, std::unique_ptr<AppendFile> &File,
                                 std::uint64_t &Length, bool &Created) override {
    if (beforeAppend)
      beforeAppend();
    const std::error_code error = real_.OpenAppendFile(Path, File, Length, Created);
    if (!error && appendLimit)
      File = std::make_unique<ShortAppendFile>(std::move(File), *appendLimit);
    return error;
  }
  std::error_code RemoveFile(const std::string &Path, RemoveOutcome &Outcome) override {
    return Remove(Path, Outcome, [&] { return real_.RemoveFile(Path, Outcome); });
  }
  std::error_code RemoveFound(FoundFile &File, const std::string &Path,
                              std::string &Registered) override {
    RemoveOutcome outcome = RemoveOutcome::Removed;
    const std::error_code error =
        Remove(Path, outcome, [&] { return real_.RemoveFound(File, Path, Registered); });
    if (!error && outcome == RemoveOutcome::ScheduledAtRestart)
      Registered = Path;
    return error;
  }
  std::error_code DeleteAtRestart(const std::string &Registered) override {
    registered.push_back(Registered);
    return removeAs ? std::error_code() : real_.DeleteAtRestart(Registered);
  }
  std::string AbsolutePath(const std::string &Path) override { return real_.AbsolutePath(Path); }
  bool SamePath(const std::string &A, const std::string &B) override {
    return real_.SamePath(A, B);
  }
  std::error_code CancelDeleteAtRestart(const std::string &Path, const std::string &Registered,
                                        bool &Withdrawn) override {
    return real_.CancelDeleteAtRestart(Path, Registered, Withdrawn);
  }
  std::error_code OpenQuarantineFolder(const std::string &Path,
                                       std::unique_ptr<HeldFolder> &Folder) override {
    return real_.OpenQuarantineFolder(Path, Folder);
  }
  std::error_code OpenFolderOf(const std::string &Path, std::unique_ptr<HeldFolder> &Folder,
                               std::string &Name) override {
    return real_.OpenFolderOf(Path, Folder, Name);
  }
  std::chrono::system_clock::time_point WallClock() override {
    return std::chrono::system_clock::time_point(kNow);
  }
  std::string HostName() override { return "responder-07"; }
  std::string ToUtf8(const std::string &Text) override { return real_.ToUtf8(Text); }

private:
  std::error_code Spoil(std::error_code Error, const std::string &Target) const {
    if (!Error && spoilCopies)
      std::ofstream(Target, std::ios::binary | std::ios::app) << "spoilt";
    return Error;
  }
  std::error_code Remove(const std::string &Path, RemoveOutcome &Outcome,
                         const std::function<std::error_code()> &Real) {
    removed.push_back(Path);
    if (undeletable.contains(Path))
      return std::make_error_code(std::errc::permission_denied);
    if (!removeAs)
      return Real();
    Outcome = *removeAs;
    return {};
  }

  CliOs &real_ = PlatformCliOs();
};

} // namespace vorse::test
