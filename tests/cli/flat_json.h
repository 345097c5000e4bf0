// FlatJson: a small strict JSON reader for the tests, so that a test can tell that a line
// parses and find its members by dotted name.
#pragma once

#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vorse::test {

/// The members of one JSON object, nested ones by dotted name ("file.hash.sha256") and array
/// items by index ("event.category[0]"), each with its value as written (strings without
/// their quotes, escapes kept). Nothing when \p Text is not exactly one JSON object.
class FlatJson {
public:
  static std::optional<std::map<std::string, std::string>> Parse(std::string_view Text) {
    FlatJson reader(Text);
    reader.Blank();
    if (!reader.Peek('{') || !reader.Value("") || (reader.Blank(), reader.pos_ != Text.size()))
      return std::nullopt;
    return reader.members_;
  }

private:
  explicit FlatJson(std::string_view Text) : text_(Text) {}

  void Blank() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])))
      ++pos_;
  }
  bool Peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool Take(char c) {
    Blank();
    if (!Peek(c))
      return false;
    ++pos_;
    return true;
  }

  bool Value(const std::string &Name) {
    Blank();
    if (Take('{'))
      return Members(Name, '}', [&](std::size_t) {
        std::string key;
        if (!String(key) || !Take(':'))
          return std::optional<std::string>();
        return std::optional<std::string>(Name.empty() ? key : Name + "." + key);
      });
    if (Take('['))
      return Members(Name, ']', [&](std::size_t Index) {
        return std::optional<std::string>(Name + "[" + std::to_string(Index) + "]");
      });
    std::string value;
    if (Peek('"')) {
      if (!String(value))
        return false;
    } else {
      const std::size_t start = pos_;
      while (pos_ < text_.size() &&
             (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
              std::string_view("+-.").find(text_[pos_]) != std::string_view::npos))
        ++pos_;
      value = std::string(text_.substr(start, pos_ - start));
      if (value != "true" && value != "false" && value != "null" && !IsNumber(value))
        return false;
    }
    members_[Name] = value;
    return true;
  }

  template <typename NameOf> bool Members(const std::string &Name, char Close, NameOf Next) {
    members_[Name.empty() ? "." : Name];
    if (Take(Close))
      return true;
    for (std::size_t index = 0;; ++index) {
      const std::optional<std::string> member = Next(index);
      if (!member || !Value(*member))
        return false;
      if (Take(Close))
        return true;
      if (!Take(','))
        return false;
    }
  }

  bool String(std::string &Out) {
    Blank();
    if (!Take('"'))
      return false;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      const char c = text_[pos_++];
      if (static_cast<unsigned char>(c) < 0x20)
        return false;
      if (c == '\\') {
        if (pos_ >= text_.size() ||
            std::string_view("\"\\/bfnrtu").find(text_[pos_]) == std::string_view::npos)
          return false;
        Out += c;
        Out += text_[pos_++];
        continue;
      }
      Out += c;
    }
    return Take('"');
  }

  static bool IsNumber(const std::string &Text) {
    std::size_t i = Text.starts_with('-') ? 1 : 0;
    const std::size_t digits = i;
    while (i < Text.size() && std::isdigit(static_cast<unsigned char>(Text[i])))
      ++i;
    return i > digits && i == Text.size();
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::map<std::string, std::string> members_;
};

} // namespace vorse::test
