// The NT family's list of renames and deletions pending until the next start of Windows.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <system_error>

namespace vorse {

/// Takes out of \p Value, the data of the registry value PendingFileRenameOperations (a list of
/// NUL-ended 16-bit strings in pairs: a source in "\??\" form, then its target, empty for a
/// deletion), every deletion whose source is one of \p Sources (ASCII letters compared with
/// case ignored). Every other pair stays exactly as it was. Returns how many were taken out.
std::size_t RemovePendingDeletes(std::u16string &Value, std::span<const std::u16string> Sources);

/// True when \p Value holds no pair any more: the value itself can go.
bool HoldsNoPendingOperation(std::u16string_view Value);

/// Windows only: withdraws the registrations that would delete \p Path (absolute, narrow) at
/// the next start, in the way of the running family: the pending-operations list of the NT
/// family, the "NUL=" lines of wininit.ini on the 9x family. Both the path and its short form
/// count. \p Withdrawn tells whether there was one.
std::error_code WithdrawDeleteAtRestart(const std::string &Path, bool &Withdrawn);

} // namespace vorse
