// The two detection signatures and the case-blind comparison that recognises them.
#include "signatures.h"

#include <array>
#include <string_view>

namespace vorse {
namespace {

constexpr std::array<std::u16string_view, 2> kSignatures = {u"internalname: kern32",
                                                            u"internalname: wowex32"};
/// The signatures as written, in the same order, to name them in reports.
constexpr std::array<std::string_view, 2> kSignatureNames = {"InternalName: Kern32",
                                                             "InternalName: wowex32"};

/// The system's lower-case mapping, as far as it can meet the signatures: besides A to Z only
/// two letters lower into plain ASCII, the dotted capital I (U+0130 to "i") and the Kelvin
/// sign (U+212A to "k"). Every other unit either stays as it is or lowers to a letter the
/// signatures do not hold, so leaving it unchanged gives the same comparison.
char16_t LowerUnit(char16_t c) {
  if (c >= u'A' && c <= u'Z')
    return static_cast<char16_t>(c - u'A' + u'a');
  if (c == u'\u0130')
    return u'i';
  if (c == u'\u212A')
    return u'k';
  return c;
}

bool EqualsLowered(std::u16string_view Entry, std::u16string_view Lower) {
  if (Entry.size() != Lower.size())
    return false;
  for (std::size_t i = 0; i < Entry.size(); ++i)
    if (LowerUnit(Entry[i]) != Lower[i])
      return false;
  return true;
}

} // namespace

bool IsVorseSignature(const std::u16string &Entry) {
  return !MatchedSignature(Entry).empty();
}

std::string_view MatchedSignature(const std::u16string &Entry) {
  for (std::size_t i = 0; i < kSignatures.size(); ++i)
    if (EqualsLowered(Entry, kSignatures[i]))
      return kSignatureNames[i];
  return {};
}

} // namespace vorse
