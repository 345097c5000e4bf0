#include "sysutil/sha256.h"
#include "sysutil/sha256_portable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vorse {
namespace {

std::string Hex(const std::array<std::uint8_t, 32> &Digest) {
  std::string text;
  for (const std::uint8_t b : Digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

/// \p Text fed to a digest in pieces of \p Piece bytes (0: all at once).
template <typename Digest> std::string DigestOf(const std::string &Text, std::size_t Piece) {
  Digest digest;
  const auto bytes = std::as_bytes(std::span(Text.data(), Text.size()));
  const std::size_t step = Piece == 0 ? bytes.size() + 1 : Piece;
  for (std::size_t done = 0; done < bytes.size(); done += step)
    digest.Update(bytes.subspan(done, std::min(step, bytes.size() - done)));
  return Hex(digest.Final());
}

// The examples of FIPS 180-2's appendix B and the NIST test vectors.
TEST(Sha256Test, PublishedVectorsInAnyPiecesFromOursAndThePlatforms) {
  const struct {
    std::string text;
    const char *digest;
  } vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto &vector : vectors) {
    for (const std::size_t piece : {0, 1, 7, 63, 64, 65}) {
      SCOPED_TRACE(std::to_string(vector.text.size()) + " bytes in pieces of " +
                   std::to_string(piece));
      EXPECT_EQ(DigestOf<PortableSha256>(vector.text, piece), vector.digest);
      EXPECT_EQ(DigestOf<Sha256>(vector.text, piece), vector.digest);
    }
  }
}

// Every length around the padding's turns (55/56 bytes into a block, a whole block).
TEST(Sha256Test, OursAgreesWithThePlatformsAtEveryLengthOfTwoBlocks) {
  std::string text;
  for (std::size_t length = 0; length <= 130; ++length) {
    SCOPED_TRACE(length);
    EXPECT_EQ(DigestOf<PortableSha256>(text, 0), DigestOf<Sha256>(text, 0));
    text += static_cast<char>(0xA5 ^ length);
  }
}

} // namespace
} // namespace vorse
