// The registrations of deletions at the next start of Windows, and withdrawing one of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace vorse {

/// Takes out of \p Value, the data of the registry value PendingFileRenameOperations (a list of
/// NUL-ended 16-bit strings in pairs: a source in "\??\" form, then its target, empty for a
/// deletion), every deletion whose source is one of \p Sources (ASCII letters compared with
/// case ignored). Every other pair stays exactly as it was. Returns how many were taken out.
std::size_t RemovePendingDeletes(std::u16string &Value, std::span<const std::u16string> Sources);

/// True when \p Value holds no pair any more: the value itself can go.
bool HoldsNoPendingOperation(std::u16string_view Value);

/// Where the deletions at the next start are registered: the NT family's registry value, the
/// 9x family's wininit.ini, each read and written as a whole.
class RestartRegistrations {
public:
  virtual ~RestartRegistrations() = default;
  /// kPlatformNT, kPlatform9x, or anything else for a system that has neither.
  virtual std::int32_t Family() = 0;
  /// \p Path (narrow, as the process takes it: win32::Widen) in 16-bit units, as the registry value
  /// holds it.
  virtual std::u16string Widen(const std::string &Path) = 0;
  /// The bytes of PendingFileRenameOperations; \p Present is false when there is no such value
  /// of its type.
  virtual std::error_code ReadPendingOperations(std::string &Bytes, bool &Present) = 0;
  /// Replaces PendingFileRenameOperations by \p Bytes; empty \p Bytes delete the value.
  virtual std::error_code WritePendingOperations(std::string_view Bytes) = 0;
  /// The text of wininit.ini; \p Present is false when there is none.
  virtual std::error_code ReadWininit(std::string &Text, bool &Present) = 0;
  /// Puts \p Text in the place of wininit.ini, so that a failure leaves one whole file there.
  virtual std::error_code ReplaceWininit(const std::string &Text) = 0;
};

/// Withdraws every registration that would delete one of \p Paths (absolute, narrow: the path
/// registered, and the other names of the same file) at the next start, in the way of the
/// running family, leaving every other registration as it was. On the NT family the value is
/// read, edited and written back at once, then read again: the edit must hold and every other
/// operation that was there before must still be there, else (another program wrote it in
/// between) the edit is made once more on what is there now, and a second miss is an error. A
/// trailing odd byte of a malformed value is kept. \p Withdrawn tells whether there was one.
std::error_code WithdrawDeleteAtRestart(RestartRegistrations &Registrations,
                                        std::span<const std::string> Paths, bool &Withdrawn);

/// Windows only: the running system's registrations.
RestartRegistrations &PlatformRestartRegistrations();

} // namespace vorse
