// JsonWriter: a small writer of one JSON document, indented or on one line, always valid UTF-8.
#include "cli/json_writer.h"

#include "sysutil/unicode.h"

#include <cstdio>

namespace vorse {
namespace {

void AppendEscape(std::string &Out, unsigned Unit) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", Unit);
  Out += escape;
}

/// Appends one character below U+0080 in its JSON form.
void AppendAscii(std::string &Out, char c) {
  switch (c) {
  case '"':
    Out += "\\\"";
    return;
  case '\\':
    Out += "\\\\";
    return;
  case '\n':
    Out += "\\n";
    return;
  case '\r':
    Out += "\\r";
    return;
  case '\t':
    Out += "\\t";
    return;
  default:
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      AppendEscape(Out, static_cast<unsigned char>(c));
    else
      Out += c;
  }
}

} // namespace

bool IsValidUtf8(std::string_view Bytes) {
  while (!Bytes.empty()) {
    const std::size_t length = Utf8SequenceLength(Bytes);
    if (length == 0)
      return false;
    Bytes.remove_prefix(length);
  }
  return true;
}

void JsonWriter::NewLine() {
  if (oneLine_)
    return;
  text_ += '\n';
  text_.append(2 * hasMembers_.size(), ' ');
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (hasMembers_.empty())
    return;
  if (hasMembers_.back())
    text_ += ',';
  hasMembers_.back() = true;
  NewLine();
}

void JsonWriter::Open(char Bracket) {
  BeforeValue();
  text_ += Bracket;
  hasMembers_.push_back(false);
}

void JsonWriter::Close(char Bracket) {
  const bool hadMembers = hasMembers_.back();
  hasMembers_.pop_back();
  if (hadMembers)
    NewLine();
  text_ += Bracket;
}

void JsonWriter::BeginObject() {
  Open('{');
}
void JsonWriter::EndObject() {
  Close('}');
}
void JsonWriter::BeginArray() {
  Open('[');
}
void JsonWriter::EndArray() {
  Close(']');
}

void JsonWriter::Key(std::string_view Name) {
  String(Name);
  text_ += oneLine_ ? ":" : ": ";
  afterKey_ = true;
}

void JsonWriter::String(std::string_view Utf8) {
  BeforeValue();
  text_ += '"';
  while (!Utf8.empty()) {
    const std::size_t length = Utf8SequenceLength(Utf8);
    if (length == 1)
      AppendAscii(text_, Utf8.front());
    else if (length == 0)
      text_ += "\xEF\xBF\xBD"; // U+FFFD for a byte that starts no valid sequence
    else
      text_.append(Utf8.substr(0, length));
    Utf8.remove_prefix(length == 0 ? 1 : length);
  }
  text_ += '"';
}

void JsonWriter::String(std::u16string_view Text) {
  BeforeValue();
  text_ += '"';
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char16_t unit = Text[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    const bool pairs =
        high && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 && Text[i + 1] <= 0xDFFF;
    if (unit < 0x80) {
      AppendAscii(text_, static_cast<char>(unit));
    } else if (pairs) {
      AppendUtf8(text_, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                            (static_cast<char32_t>(Text[i + 1]) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendEscape(text_, unit);
    } else {
      AppendUtf8(text_, unit);
    }
  }
  text_ += '"';
}

void JsonWriter::Number(std::uint64_t Value) {
  BeforeValue();
  text_ += std::to_string(Value);
}

void JsonWriter::Bool(bool Value) {
  BeforeValue();
  text_ += Value ? "true" : "false";
}

void JsonWriter::PathMember(std::string_view Name, std::string_view Bytes) {
  Key(Name);
  String(Bytes);
  if (IsValidUtf8(Bytes))
    return;
  Key(std::string(Name) + "_bytes");
  String(ToHex(Bytes));
}

std::string JsonWriter::Finish() const {
  return text_ + '\n';
}

} // namespace vorse
