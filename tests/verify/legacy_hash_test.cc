#include "verify/legacy_hash.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/crypto.h"
#include "verify/test_vectors.h"

namespace {

TEST(LegacyHash, StandardConstantsGiveSha256AndProjectConstantsMatchVectors) {
  std::mt19937 random(5);
  // 20 and 32 bytes are what the scheme hashes; the others cross the padding edges.
  for (size_t length : {20, 32, 0, 55, 56, 64, 119}) {
    std::vector<uint8_t> message(length), expected(32);
    for (uint8_t& b : message) b = static_cast<uint8_t>(random());
    SHA256 sha256;
    sha256.update(message.data(), message.size());
    sha256.finish(expected.data());
    EXPECT_EQ(toHex(legacyHash(message.data(), length, kSha256Constants)), toHex(expected));
  }
  const auto rows = readVectorFile("legacy_hash.txt");
  ASSERT_GE(rows.size(), 4u);
  for (const auto& row : rows) {
    const std::vector<uint8_t> message = fromHex(row[0]);
    EXPECT_EQ(toHex(legacyHash(message.data(), message.size())), row[1]) << row[0];
  }
}

}  // namespace
