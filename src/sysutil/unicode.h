// UTF-8 and UTF-16, and the extended-length form of a Windows path ("\\?\C:\...").
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vorse {

/// The length of the well-formed UTF-8 sequence at the start of \p Bytes (no overlong forms, no
/// surrogates), or 0.
std::size_t Utf8SequenceLength(std::string_view Bytes);

/// Appends \p Code, at least U+0080 and a scalar value, in UTF-8.
void AppendUtf8(std::string &Out, char32_t Code);

/// \p Utf8 in UTF-16; nothing when it is not well-formed UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view Utf8);

/// \p Utf8 in UTF-16, each byte that is not part of a well-formed sequence as U+FFFD.
std::u16string Utf8ToUtf16Replacing(std::string_view Utf8);

/// \p Units in UTF-8. A unit of a broken surrogate pair, which Windows allows in names, has no
/// UTF-8 form: it becomes '?', which no name holds, so that the result names no entry at all
/// rather than another one.
std::string Utf16ToUtf8(std::u16string_view Units);

/// Makes a path full as the system does (GetFullPathNameW): the working directory, a drive's
/// own current directory, "." and ".." applied, "/" turned into "\". Empty when it cannot.
using FullPathResolver = std::function<std::u16string(const std::u16string &Path)>;

/// \p Path in the extended-length form that the wide calls take past 260 characters and
/// without rewriting names: "\\?\C:\dir\name", "\\?\UNC\server\share\name". A path already in
/// that form ("\\?\", "\\.\", "\??\") is kept as it is. One that is relative, names a drive's
/// current directory ("C:name") or the current drive's root ("\name"), or holds "/", "." or
/// ".." parts is made full by \p Resolve first; the last part of it is kept as written unless it
/// is itself "." or "..", since Resolve would drop the trailing dots and blanks of a name. Empty
/// when \p Resolve fails.
std::u16string ExtendedLengthPath(std::u16string_view Path, const FullPathResolver &Resolve);

} // namespace vorse
