// JsonWriter: a small writer of one JSON document, indented or on one line, always valid UTF-8.
#pragma once

#include "sysutil/hex.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vorse {

/// Builds a JSON document in memory. Calls must nest properly (the writer does not check):
/// Key before each member of an object, values directly inside arrays.
class JsonWriter {
public:
  /// \p OneLine: the whole document on one line, as a line of a JSON-lines stream.
  explicit JsonWriter(bool OneLine = false) : oneLine_(OneLine) {}
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  void Key(std::string_view Name);
  /// \p Utf8 as a JSON string; bytes that are not valid UTF-8 become U+FFFD each.
  void String(std::string_view Utf8);
  /// 16-bit text as a JSON string; a lone surrogate is kept as its \u escape.
  void String(std::u16string_view Text);
  void Number(std::uint64_t Value);
  void Bool(bool Value);
  /// A path: "<Name>" with the text, and where its bytes are not valid UTF-8 also
  /// "<Name>_bytes" with every byte in hex, so that nothing of the name is lost.
  void PathMember(std::string_view Name, std::string_view Bytes);
  /// The document, ended by a line feed.
  std::string Finish() const;

private:
  void BeforeValue();
  void Open(char Bracket);
  void Close(char Bracket);
  void NewLine();

  std::string text_;
  /// One flag per open object or array: whether it holds a member yet.
  std::vector<bool> hasMembers_;
  bool afterKey_ = false;
  bool oneLine_;
};

/// True when \p Bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view Bytes);

} // namespace vorse
