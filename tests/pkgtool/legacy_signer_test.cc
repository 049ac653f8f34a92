#include "pkgtool/legacy_signer.h"

#include <gtest/gtest.h>

#include "verify/test_vectors.h"

namespace {

TEST(LegacySigner, ReproducesOlderSchemeVectorsFromSecretAndNonce) {
  const auto rows = readVectorFile("legacy_signature.txt");
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) {
    Key32 secret{}, nonce{};
    std::ranges::copy(fromHex(row[0]), secret.begin());
    std::ranges::copy(fromHex(row[3]), nonce.begin());
    std::vector<uint8_t> signature(48);
    ASSERT_TRUE(signLegacyWithNonce(fromHex(row[2]).data(), secret, nonce, signature.data()));
    EXPECT_EQ(toHex(signature), row[4] + row[5]);
  }
}

}  // namespace
