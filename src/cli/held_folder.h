// Folders held open for a restore: the quarantine folder it reads, the folder it writes into.
#pragma once

#include "cli/stdio_file.h"

#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

namespace vorse {

/// Why a folder, file or link is not trusted: others than root (Administrators and SYSTEM on
/// Windows) and the invoking user could have made or changed it.
enum class Untrusted {
  /// It belongs to another user.
  OwnedByAnother = 1,
  /// Another user may change it.
  WritableByOthers,
  /// A link (a reparse point on Windows) on the way was made by another user, or stands in a
  /// folder that others may change.
  LinkOfAnother,
  /// Another user may change a folder on its path, and so lead a deletion registered for the
  /// next start to another file.
  RedirectableByOthers,
};

/// Found by argument-dependent lookup, as std::error_code asks.
std::error_code make_error_code(Untrusted Reason);

/// A file a restore creates, open to write and read back; left as it is when destroyed.
class NewFile {
public:
  virtual ~NewFile() = default;
  /// Writes every byte that \p From still has, then makes the file durable.
  virtual std::error_code Fill(std::FILE *From) = 0;
  /// Opens what was written, from its start, as a stream of its own.
  virtual std::error_code ReadBack(StdioFile &File) = 0;
  /// Takes the file away again through its own handle: its bytes are cut off, and its name is
  /// removed where it still names this very file.
  virtual std::error_code Discard() = 0;
};

/// A folder held open, so that what it is cannot change behind the restore's back.
class HeldFolder {
public:
  virtual ~HeldFolder() = default;
  /// Opens the entry \p Name to read: a regular file only, never a link, and only one that
  /// root or the invoking user owns and nobody else may change.
  virtual std::error_code OpenEntry(const std::string &Name, StdioFile &File) = 0;
  /// Creates the entry \p Name, which must not exist yet, not even as a link: \p Existed says
  /// when something stands there already. \p File lives no longer than this folder.
  virtual std::error_code CreateEntry(const std::string &Name, std::unique_ptr<NewFile> &File,
                                      bool &Existed) = 0;
};

} // namespace vorse

template <> struct std::is_error_code_enum<vorse::Untrusted> : std::true_type {};
