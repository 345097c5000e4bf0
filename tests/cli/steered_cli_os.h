// SteeredCliOs: the platform's CliOs with the answers and failures a test asks for.
#pragma once

#include "cli/cli_os.h"

#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vorse::test {

/// The platform's CliOs, with a terminal or not, directory identities and removals that a
/// test may steer, and copies it may spoil.
class SteeredCliOs final : public CliOs {
public:
  bool terminal = false;
  std::map<std::string, DirectoryId> identities;
  std::optional<RemoveOutcome> removeAs;
  bool spoilCopies = false;
  std::vector<std::string> removed;

  std::string NativePath(const std::string &SearchPath) override {
    return real_.NativePath(SearchPath);
  }
  std::vector<std::string> DefaultRoots() override { return real_.DefaultRoots(); }
  bool StderrIsTerminal() override { return terminal; }
  bool MeansNothingThere(std::error_code Error) override { return real_.MeansNothingThere(Error); }
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
    const std::error_code error = real_.CopyToNewFile(Source, Target);
    if (!error && spoilCopies)
      std::ofstream(Target, std::ios::binary | std::ios::app) << "spoilt";
    return error;
  }
  std::error_code RemoveFile(const std::string &Path, RemoveOutcome &Outcome) override {
    removed.push_back(Path);
    if (!removeAs)
      return real_.RemoveFile(Path, Outcome);
    Outcome = *removeAs;
    return {};
  }
  std::string ToUtf8(const std::string &Text) override { return real_.ToUtf8(Text); }

private:
  CliOs &real_ = PlatformCliOs();
};

} // namespace vorse::test
