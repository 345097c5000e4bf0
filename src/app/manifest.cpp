// manifest.tsv of a quarantine folder: its records, written and read back.
#include "app/manifest.h"

#include "sysutil/utc_time.h"

#include <algorithm>
#include <charconv>

namespace vorse {
namespace {

std::vector<std::string_view> SplitTabs(std::string_view Line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = Line.find('\t', start);
    fields.push_back(Line.substr(start, tab - start));
    if (tab == std::string_view::npos)
      return fields;
    start = tab + 1;
  }
}

bool IsDigest(std::string_view Text) {
  return Text.size() == 64 && std::all_of(Text.begin(), Text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::optional<ManifestRecord> ParseRecord(std::string_view Line) {
  const std::vector<std::string_view> fields = SplitTabs(Line);
  const std::string_view action = fields.size() == 7   ? fields[6]
                                  : fields.size() == 6 ? fields[5]
                                                       : kQuarantinedAction;
  if (fields.size() < 5 || fields.size() > 7 ||
      (action != kRestoredAction && (action != kQuarantinedAction || fields.size() == 6)))
    return std::nullopt;
  ManifestRecord record;
  if (fields.size() == 7) {
    const std::optional<std::string> registered = DecodeManifestField(fields[5]);
    if (!registered)
      return std::nullopt;
    record.registeredPath = *registered;
  }
  record.time = std::string(fields[0]);
  const std::optional<std::string> original = DecodeManifestField(fields[1]);
  const std::optional<std::string> name = DecodeManifestField(fields[2]);
  const char *sizeEnd = fields[3].data() + fields[3].size();
  const auto [end, error] = std::from_chars(fields[3].data(), sizeEnd, record.digest.size);
  if (!original || original->empty() || !name || name->empty() || error != std::errc() ||
      end != sizeEnd || fields[3].empty() || !IsDigest(fields[4]))
    return std::nullopt;
  record.originalPath = *original;
  record.quarantineName = *name;
  record.digest.sha256 = std::string(fields[4]);
  record.restored = action == kRestoredAction;
  return record;
}

} // namespace

std::string ManifestField(const std::string &Text) {
  std::string field;
  for (const char c : Text) {
    switch (c) {
    case '%':
      field += "%25";
      break;
    case '\t':
      field += "%09";
      break;
    case '\r':
      field += "%0D";
      break;
    case '\n':
      field += "%0A";
      break;
    default:
      field += c;
    }
  }
  return field;
}

std::string ManifestTime(std::chrono::system_clock::time_point Time) {
  // "2026-05-01T09:30:00.250Z" without its fraction.
  return UtcTimestamp(Time).substr(0, 19) + "Z";
}

std::string ManifestLine(const ManifestRecord &Record) {
  std::string line = Record.time + '\t' + ManifestField(Record.originalPath) + '\t' +
                     ManifestField(Record.quarantineName) + '\t' +
                     std::to_string(Record.digest.size) + '\t' + Record.digest.sha256 + '\t' +
                     ManifestField(Record.registeredPath) + '\t';
  line += Record.restored ? kRestoredAction : kQuarantinedAction;
  line += '\n';
  return line;
}

std::error_code AppendManifestRecord(AppendFile &File, std::uint64_t Length,
                                     const ManifestRecord &Record, std::error_code &Undo) {
  std::string record = Length == 0 ? std::string(kManifestHeader) : "";
  record += ManifestLine(Record);
  std::size_t written = 0;
  const std::error_code error = File.Append(record, written);
  if (!error && written == record.size())
    return {};
  Undo = File.Truncate(Length);
  return error ? error : std::make_error_code(std::errc::no_space_on_device);
}

std::optional<std::string> DecodeManifestField(std::string_view Field) {
  std::string text;
  for (std::size_t i = 0; i < Field.size(); ++i) {
    if (Field[i] != '%') {
      text += Field[i];
      continue;
    }
    const std::string_view escape = Field.substr(i, 3);
    if (escape == "%25")
      text += '%';
    else if (escape == "%09")
      text += '\t';
    else if (escape == "%0D")
      text += '\r';
    else if (escape == "%0A")
      text += '\n';
    else
      return std::nullopt;
    i += 2;
  }
  return text;
}

std::optional<Manifest> ParseManifest(std::string_view Text) {
  const std::size_t headerSize = Text.starts_with(kManifestHeader) ? kManifestHeader.size()
                                 : Text.starts_with(kFiveFieldManifestHeader)
                                     ? kFiveFieldManifestHeader.size()
                                     : 0;
  if (headerSize == 0)
    return std::nullopt;
  Manifest manifest;
  std::size_t number = 1;
  for (std::size_t start = headerSize; start < Text.size();) {
    ++number;
    const std::size_t end = Text.find('\n', start);
    std::optional<ManifestRecord> record;
    if (end != std::string_view::npos)
      record = ParseRecord(Text.substr(start, end - start));
    if (record)
      manifest.records.push_back(std::move(*record));
    else
      manifest.badLines.push_back(number);
    start = end == std::string_view::npos ? Text.size() : end + 1;
  }
  return manifest;
}

} // namespace vorse
