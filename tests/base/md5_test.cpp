#include "base/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

struct KnownDigest {
  std::string message;
  const char* hex;
};

// RFC 1321, appendix A.5.
const KnownDigest kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

// Lengths where the padding and the length field change blocks: 55 is the
// longest tail that still takes the length in its own block, 56 the shortest
// that needs one more.
const KnownDigest kPaddingEdges[] = {
    {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
    {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
    {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
    {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
    {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
    {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
    {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
    {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
};

std::string OneShot(const std::string& message) { return Md5::HexOf(message.data(), message.size()); }

// Bytes with no repeating period short of 256, so a block fed twice or out of
// place changes the digest.
std::string PatternBytes(size_t length) {
  std::string bytes(length, '\0');
  uint32_t x = 0x12345678u;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

TEST(Md5Test, RfcSuiteDigests) {
  for (const KnownDigest& known : kRfcSuite) {
    EXPECT_EQ(OneShot(known.message), known.hex) << '"' << known.message << '"';
  }
}

TEST(Md5Test, PaddingBoundaryDigests) {
  for (const KnownDigest& known : kPaddingEdges) {
    EXPECT_EQ(OneShot(known.message), known.hex) << known.message.size() << " bytes";
  }
}

TEST(Md5Test, FinalReturnsDigestBytesInHexOrder) {
  Md5 md5;
  md5.Update("abc", 3);
  Md5::Digest digest = md5.Final();
  EXPECT_EQ(digest[0], 0x90);
  EXPECT_EQ(digest[15], 0x72);
  EXPECT_EQ(Md5::ToHex(digest), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Test, ToHexKeepsLeadingZeros) {
  Md5::Digest digest{};
  digest[0] = 0x0f;
  digest[1] = 0xa0;
  digest[15] = 0x01;
  EXPECT_EQ(Md5::ToHex(digest), "0fa00000000000000000000000000001");
}

// Feeding the same bytes in pieces of every awkward size, with every total
// length up to three blocks past the piece size, must match one call.
TEST(Md5Test, PiecewiseUpdatesMatchOneShot) {
  const size_t kPieces[] = {1, 55, 56, 63, 64, 65};
  for (size_t piece : kPieces) {
    for (size_t total = 0; total <= piece + 3 * 64; ++total) {
      std::string message = PatternBytes(total);
      Md5 md5;
      for (size_t at = 0; at < total; at += piece) {
        md5.Update(message.data() + at, std::min(piece, total - at));
      }
      ASSERT_EQ(Md5::ToHex(md5.Final()), OneShot(message))
          << "pieces of " << piece << ", " << total << " bytes";
    }
  }
}

// A first piece that leaves the buffer partly filled, followed by one large
// piece that crosses many blocks.
TEST(Md5Test, SplitAtEveryOffsetOfTwoBlocksMatchesOneShot) {
  std::string message = PatternBytes(1000);
  std::string expected = OneShot(message);
  for (size_t split = 0; split <= 130; ++split) {
    Md5 md5;
    md5.Update(message.data(), split);
    md5.Update(message.data() + split, message.size() - split);
    ASSERT_EQ(Md5::ToHex(md5.Final()), expected) << "split at " << split;
  }
}

TEST(Md5Test, EmptyUpdatesChangeNothing) {
  Md5 md5;
  md5.Update("", 0);
  md5.Update("abc", 3);
  md5.Update(nullptr, 0);
  EXPECT_EQ(Md5::ToHex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
