// manifest.tsv of a quarantine folder: its records, written and read back.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorse {

/// A file's length and the lower-case hex SHA-256 of its bytes.
struct FileDigest {
  std::uint64_t size = 0;
  std::string sha256;
};

/// The first line of every manifest.
inline constexpr std::string_view kManifestHeader =
    "time\toriginal_path\tquarantine_name\tsize\tsha256\n";

/// The marker of a record that tells of a restore: a sixth field after the five of a copy.
inline constexpr std::string_view kRestoredMarker = "restored";

/// One line after the header: a copy kept, or (restored) a copy put back at its original path.
struct ManifestRecord {
  std::string time;
  std::string originalPath;
  std::string quarantineName;
  FileDigest digest;
  bool restored = false;
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

/// The records of \p Text, a whole manifest. Nothing when it does not start with the header.
/// A line that is not a record (wrong field count, bad size or digest, a bad %-escape, or the
/// last line cut short without its line feed) is left out and its number kept.
std::optional<Manifest> ParseManifest(std::string_view Text);

/// \p Field with its %25, %09, %0D and %0A decoded; nothing when another escape stands in it.
std::optional<std::string> DecodeManifestField(std::string_view Field);

} // namespace vorse
