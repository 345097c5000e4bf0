// manifest.tsv of a quarantine folder: its records, written and read back.
#pragma once

#include "sysutil/append_file.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vorse {

/// A file's length and the lower-case hex SHA-256 of its bytes.
struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256;
};

/// The first line of every manifest written now: seven fields a record.
inline constexpr std::string_view kManifestHeader =
    "time\toriginal_path\tquarantine_name\tsize\tsha256\tregistered_path\taction\n";

/// The first line of the manifests written before the registered path was kept: five fields a
/// copy, a sixth "restored" for a restore. They are still read, and appended to as they are.
inline constexpr std::string_view kFiveFieldManifestHeader =
    "time\toriginal_path\tquarantine_name\tsize\tsha256\n";

/// The action of a record: a copy kept, or that copy put back at its original path.
inline constexpr std::string_view kQuarantinedAction = "quarantined";
inline constexpr std::string_view kRestoredAction = "restored";

/// One line after the header: a copy kept, or (restored) a copy put back at its original path.
struct ManifestRecord {
  std::string time;
  std::string originalPath;
  std::string quarantineName;
  FileDigest digest;
  bool restored = false;
  /// The path handed to the registration of the original's deletion at the next start, as
  /// handed: on the NT family without its "\??\" (the real location, which may differ from
  /// originalPath through WOW64, junctions, substituted drives or 8.3 names), on the 9x family
  /// the short form written after "NUL=". Empty when nothing was registered.
  std::string registeredPath;
};

/// A manifest's records, and the numbers of the lines (from 1, the header) that hold none.
struct Manifest {
  std::vector<ManifestRecord> records;
  std::vector<std::size_t> badLines;
};

/// \p Time as the manifest writes it: ISO 8601 in UTC to the second.
std::string ManifestTime(std::chrono::system_clock::time_point Time);

/// A manifest field: "%", tab, carriage return and line feed as %25, %09, %0D and %0A, so
/// every name fits one field of one line and can be decoded exactly.
std::string ManifestField(const std::string &Text);

/// \p Record as its line, with its line feed; every field encoded by ManifestField.
std::string ManifestLine(const ManifestRecord &Record);

/// Appends \p Record's line to the manifest open in \p File, \p Length bytes long when opened,
/// in one write, after the header when the file is empty (also one an earlier failure left
/// empty). A write that did not land whole is cut back to Length, since part of a record would
/// glue the next record onto it; \p Undo tells why that failed, if it did. Returns why the
/// record is not there.
std::error_code AppendManifestRecord(AppendFile &File, std::uint64_t Length,
                                     const ManifestRecord &Record, std::error_code &Undo);

/// The records of \p Text, a whole manifest. Nothing when it starts with neither header. A
/// record has seven fields, or (from a five-field manifest) five, or six with "restored"; a
/// line that is not one (another field count or action, bad size or digest, a bad %-escape, or
/// the last line cut short without its line feed) is left out and its number kept.
std::optional<Manifest> ParseManifest(std::string_view Text);

/// \p Field with its %25, %09, %0D and %0A decoded; nothing when another escape stands in it.
std::optional<std::string> DecodeManifestField(std::string_view Field);

} // namespace vorse
