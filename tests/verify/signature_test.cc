#include "verify/signature.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <type_traits>

#include "pkgfile/package_reader.h"
#include "platform/crypto.h"
#include "pkgtool/eddsa_signer.h"
#include "pkgtool/legacy_signer.h"
#include "pkgtool/package_builder.h"
#include "support/signed_packages.h"
#include "verify/test_vectors.h"

namespace {

template <typename Element>
class LegacyCheck : public ::testing::Test {};
TYPED_TEST_SUITE(LegacyCheck, FieldForms);

TYPED_TEST(LegacyCheck, AcceptsVectorsAndRejectsEveryFlippedBit) {
  // Every bit with the default form, a sample with the other, slower one.
  const size_t stride = std::is_same_v<TypeParam, CurveElement> ? 1 : 5;
  const auto rows = readVectorFile("legacy_signature.txt");
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) {
    // Digest buffer, signature (bytes 0..19 are never examined) and public key.
    const std::vector<uint8_t> good =
        fromHex(row[2] + std::string(40, '5') + row[4] + row[5] + row[1]);
    ASSERT_EQ(good.size(), 32u + 68 + 32);
    const auto check = [](const std::vector<uint8_t>& b) {
      return verifyLegacySignatureIn<TypeParam>(b.data(), b.data() + 32, b.data() + 100);
    };
    EXPECT_TRUE(check(good));
    std::vector<uint8_t> unhashed = good;  // only the first 20 digest bytes are hashed
    std::memset(unhashed.data() + 20, 0xFF, 12);
    EXPECT_TRUE(check(unhashed));
    for (size_t bit = 0; bit < good.size() * 8; bit += stride) {
      if (bit >= 20 * 8 && bit < 52 * 8) continue;  // bytes that are not examined
      std::vector<uint8_t> flipped = good;
      flipped[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
      EXPECT_FALSE(check(flipped)) << "bit " << bit;
    }
  }
}

TEST(EddsaVerify, AcceptsRfcVectorsAndRejectsCorruptedOnes) {
  const auto rows = readVectorFile("ed25519.txt");
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) {
    std::vector<uint8_t> key = fromHex(row[1]), message = fromHex(row[2]);
    std::vector<uint8_t> signature = fromHex(row[3]);
    const auto check = [&](size_t signatureSize) {
      return eddsa::verify({key.data(), key.data() + key.size()},
                           {message.data(), message.data() + message.size()},
                           {signature.data(), signature.data() + signatureSize});
    };
    EXPECT_TRUE(check(64)) << row[1];
    EXPECT_FALSE(check(63));
    for (uint8_t* byte : {&key[5], &signature[0], &signature[31], &signature[32], &signature[63]}) {
      *byte ^= 0x10;
      EXPECT_FALSE(check(64));
      *byte ^= 0x10;
    }
    message.push_back(0);
    EXPECT_FALSE(check(64));
  }
}

// ---- verifySignature over packages signed by the package tool ----

// A package signed by the package tool; its signature part is the last one.
std::string signedPackage(SignatureForms forms, uint32_t partLength = 0,
                          DigestSwitch digestSwitch = DigestSwitch::None) {
  PackageLayout layout;
  layout.meta.name = "routing";
  layout.meta.architecture = "mips";
  layout.meta.dependencies = {{"system", 0x07010000, 0, 0}};
  layout.files = {{"bin/routed", 0100755, "routing daemon"}};
  layout.digestSwitch = digestSwitch;
  std::string file = buildPackageFile(layout);
  EXPECT_EQ(signPackageFile(file, developmentKeys(), {forms, false, partLength}),
            SignStatus::Signed);
  return file;
}

// Reads the package the way an install does, up to its signature part, and checks it
// at level; remaining gets the signature bytes left unread.
bool acceptedAt(const std::string& file, int level, bool digesting = true,
                uint32_t* remaining = nullptr) {
  std::istringstream in(file);
  PackageReader reader(in, digesting);
  for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.wantPart(type);
  for (int type = 0; type != -1 && type != SignaturePart;) type = reader.nextPart();
  const bool accepted = verifySignature(reader, level);
  if (remaining != nullptr) *remaining = reader.partRemaining();
  return accepted;
}

TEST(VerifySignature, AcceptsAsTheLevelAllowsReadingOnly68Or132Bytes) {
  struct Case {
    SignatureForms forms;
    uint32_t partLength;
    DigestSwitch digestSwitch;
    int corruptAt;  // signature byte flipped, or -1
    bool level1, level2;
  };
  const DigestSwitch none = DigestSwitch::None;
  std::vector<Case> cases = {
      {SignatureForms::Both, 132, none, 100, true, false},  // EdDSA broken
      {SignatureForms::Both, 132, none, 40, true, true},    // s broken
      {SignatureForms::LegacyOnly, 100, none, 30, false, false},
      // Bytes 0..19 are not examined.
      {SignatureForms::LegacyOnly, 68, none, 0, true, false},
      {SignatureForms::Both, 132, none, 19, true, true}};
  for (DigestSwitch digest : {none, DigestSwitch::BeforeHeader, DigestSwitch::AfterHeader}) {
    // 100 bytes are read as 68: the EdDSA check is not tried.
    for (uint32_t length : {68, 100})
      cases.push_back({SignatureForms::LegacyOnly, length, digest, -1, true, false});
    for (uint32_t length : {132, 140})
      cases.push_back({SignatureForms::Both, length, digest, -1, true, true});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    std::string file = signedPackage(c.forms, c.partLength, c.digestSwitch);
    if (c.corruptAt >= 0) file[file.size() - c.partLength + c.corruptAt] ^= 0x04;
    uint32_t remaining = 0;
    EXPECT_EQ(acceptedAt(file, 1, true, &remaining), c.level1);
    EXPECT_EQ(remaining, c.partLength - (c.partLength >= 132 ? 132 : 68));
    EXPECT_EQ(acceptedAt(file, 2), c.level2);
  }
}

TEST(VerifySignature, TamperedByteAnywhereInSignedRangeRejects) {
  for (const uint32_t length : {68u, 132u}) {
    const std::string file =
        signedPackage(length == 68 ? SignatureForms::LegacyOnly : SignatureForms::Both);
    ASSERT_TRUE(acceptedAt(file, 1));
    // From the package header part's 6-byte header to the signature part's own.
    for (size_t offset = kFileHeaderSize; offset < file.size() - length; ++offset) {
      std::string tampered = file;
      tampered[offset] ^= 0x20;
      EXPECT_FALSE(acceptedAt(tampered, 1)) << "offset " << offset;
    }
  }
}

TEST(VerifySignature, ShortOrMissingSignaturePartsAndReadersWithoutDigestReject) {
  std::string file = signedPackage(SignatureForms::LegacyOnly);
  EXPECT_FALSE(acceptedAt(file.substr(0, file.size() - 68 - kPartHeaderSize), 1));
  file.pop_back();  // a signature part of 67 bytes
  writeLe32(reinterpret_cast<uint8_t*>(file.data()) + file.size() - 67 - 4, 67);
  EXPECT_FALSE(acceptedAt(file, 1));
  // Signed over the digest buffer a reader without digest offers.
  file = signedPackage(SignatureForms::Both);
  std::istringstream in(file);
  PackageReader reader(in, false);
  reader.parts().finishDigest();
  const SigningKeys keys = developmentKeys();
  uint8_t* signature = reinterpret_cast<uint8_t*>(file.data()) + file.size() - 132;
  ASSERT_TRUE(signLegacy(reader.parts().digestValue(), keys.legacySecret, signature + 20));
  ASSERT_TRUE(signEddsa(keys.eddsaSecret, reader.parts().digestValue(), 32, signature + 68));
  EXPECT_FALSE(acceptedAt(file, 1, false) || acceptedAt(file, 2, false));
}

}  // namespace
