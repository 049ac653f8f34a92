#include "verify/signature.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <type_traits>

#include "pkgfile/package_reader.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/signer.h"
#include "platform/crypto.h"
#include "verify/test_vectors.h"

namespace {

template <typename Element>
class LegacyCheck : public ::testing::Test {};

#if defined(HAVE_FIELD_ELEMENT51)
using Forms = ::testing::Types<FieldElement, FieldElement51>;
#else
using Forms = ::testing::Types<FieldElement>;
#endif
TYPED_TEST_SUITE(LegacyCheck, Forms);

TYPED_TEST(LegacyCheck, AcceptsVectorsAndRejectsEveryFlippedBit) {
  auto check = [](const std::vector<uint8_t>& digest, const std::vector<uint8_t>& signature,
                  const std::vector<uint8_t>& key) {
    return verifyLegacySignatureIn<TypeParam>(digest.data(), signature.data(), key.data());
  };
  // Every bit with the default form, a sample with the other, slower one.
  const size_t stride = std::is_same_v<TypeParam, CurveElement> ? 1 : 5;
  auto rows = readVectorFile("legacy_signature.txt");
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) {
    std::vector<uint8_t> key = fromHex(row[1]), digest = fromHex(row[2]);
    // Bytes 0..19 are never examined.
    std::vector<uint8_t> signature = fromHex(std::string(40, '5') + row[4] + row[5]);
    ASSERT_EQ(signature.size(), 68u);
    EXPECT_TRUE(check(digest, signature, key));
    std::vector<uint8_t> unhashed = digest;
    std::memset(unhashed.data() + 20, 0xFF, 12);
    EXPECT_TRUE(check(unhashed, signature, key));

    for (size_t bit = 20 * 8; bit < 68 * 8; bit += stride) {
      std::vector<uint8_t> flipped = signature;
      flipped[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
      EXPECT_FALSE(check(digest, flipped, key)) << "signature bit " << bit;
    }
    for (size_t bit = 0; bit < 20 * 8; bit += stride) {
      std::vector<uint8_t> flipped = digest;
      flipped[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
      EXPECT_FALSE(check(flipped, signature, key)) << "digest bit " << bit;
    }
    for (size_t bit : {0, 77, 254}) {
      std::vector<uint8_t> flipped = key;
      flipped[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
      EXPECT_FALSE(check(digest, signature, flipped)) << "key bit " << bit;
    }
  }
}

TEST(EddsaVerify, AcceptsRfcVectorsAndRejectsCorruptedOnes) {
  auto rows = readVectorFile("ed25519.txt");
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) {
    auto check = [](const std::vector<uint8_t>& k, const std::vector<uint8_t>& m,
                    const std::vector<uint8_t>& s) {
      return eddsa::verify(asn1::blob{k.data(), k.data() + k.size()},
                           asn1::blob{m.data(), m.data() + m.size()},
                           asn1::blob{s.data(), s.data() + s.size()});
    };
    std::vector<uint8_t> key = fromHex(row[1]), message = fromHex(row[2]);
    std::vector<uint8_t> signature = fromHex(row[3]);
    EXPECT_TRUE(check(key, message, signature)) << row[1];
    for (size_t byte : {0, 31, 32, 63}) {
      std::vector<uint8_t> bad = signature;
      bad[byte] ^= 0x01;
      EXPECT_FALSE(check(key, message, bad)) << "signature byte " << byte;
    }
    std::vector<uint8_t> badKey = key, longer = message;
    badKey[5] ^= 0x10;
    longer.push_back(0);
    EXPECT_FALSE(check(badKey, message, signature));
    EXPECT_FALSE(check(key, longer, signature));
    EXPECT_FALSE(check(key, message, {signature.begin(), signature.begin() + 63}));
  }
}

// ---- verifySignature over packages signed by the package tool ----

SigningKeys developmentKeys() {
  SigningKeys keys;
  EXPECT_TRUE(readSigningKeys(std::string(SOURCE_DIR) + "/keys/legacy.secret",
                              std::string(SOURCE_DIR) + "/keys/eddsa.secret", keys));
  return keys;
}

PackageLayout demoSpec(DigestSwitch digestSwitch = DigestSwitch::None) {
  PackageLayout layout;
  layout.meta.name = "routing";
  layout.meta.version = 0x07016204;
  layout.meta.architecture = "mipsbe";
  layout.meta.dependencies = {{"system", 0x07010000, 0, 0}};
  layout.files = {{"bin/routed", 0100755, "routing daemon"}};
  layout.digestSwitch = digestSwitch;
  return layout;
}

std::string signedPackage(SignatureForms forms, uint32_t partLength = 0,
                          DigestSwitch digestSwitch = DigestSwitch::None) {
  std::string file = buildPackageFile(demoSpec(digestSwitch));
  SignOptions options;
  options.forms = forms;
  options.partLength = partLength;
  EXPECT_EQ(signPackageFile(file, developmentKeys(), options), SignStatus::Signed);
  return file;
}

// Reads the package the way an install does, up to its signature part, and checks
// it at level.
bool acceptedAt(const std::string& file, int level, bool digesting = true) {
  std::istringstream in(file);
  PackageReader reader(in, digesting);
  for (uint32_t type : {1, 18, 20, 16, 3, 19, 17, 21, 4, 9}) reader.wantPart(type);
  for (int type = 0; type != -1 && type != SignaturePart;) type = reader.nextPart();
  return verifySignature(reader, level);
}

// The reader standing on the signature part of file.
struct AtSignature {
  AtSignature(const std::string& file, bool digesting) : in(file), reader(in, digesting) {
    reader.wantPart(SignaturePart);
    EXPECT_EQ(reader.nextPart(), SignaturePart);
  }
  std::istringstream in;
  PackageReader reader;
};

uint8_t* signatureBytes(std::string& file) {
  return reinterpret_cast<uint8_t*>(file.data()) +
         AtSignature(file, false).reader.parts().partStart();
}

struct LevelCase {
  SignatureForms forms;
  uint32_t partLength;
  DigestSwitch digestSwitch;
  int corruptAt;  // signature byte flipped, or -1
  bool legacyValid, level1, level2;
};

class SignatureLevels : public ::testing::TestWithParam<LevelCase> {};

// verifySignature, and the package tool's report built on it.
TEST_P(SignatureLevels, AcceptAsTheLevelAllows) {
  const LevelCase& c = GetParam();
  std::string file = signedPackage(c.forms, c.partLength, c.digestSwitch);
  if (c.corruptAt >= 0) signatureBytes(file)[c.corruptAt] ^= 0x04;
  EXPECT_EQ(acceptedAt(file, 1), c.level1);
  EXPECT_EQ(acceptedAt(file, 2), c.level2);

  std::vector<PackageSignatureReport> reports;
  ASSERT_TRUE(verifyPackageFile(file, builtInPublicKeys(), reports));
  ASSERT_EQ(reports.size(), 1u);
  const PackageSignatureReport& r = reports[0];
  EXPECT_EQ(r.name, "routing");
  EXPECT_EQ(r.sha256, c.digestSwitch != DigestSwitch::None);
  EXPECT_EQ(r.signatureLength, c.partLength);
  EXPECT_EQ(r.hasEddsa, c.forms == SignatureForms::Both);
  EXPECT_EQ(r.legacyValid, c.legacyValid);
  EXPECT_EQ(r.eddsaValid, c.level2);
  EXPECT_EQ(r.acceptedLevel1, c.level1);
  EXPECT_EQ(r.acceptedLevel2, c.level2);
}

std::vector<LevelCase> levelCases() {
  std::vector<LevelCase> cases;
  for (DigestSwitch digest :
       {DigestSwitch::None, DigestSwitch::BeforeHeader, DigestSwitch::AfterHeader}) {
    cases.push_back({SignatureForms::LegacyOnly, 68, digest, -1, true, true, false});
    // 100 bytes are read as 68: the EdDSA check is not tried.
    cases.push_back({SignatureForms::LegacyOnly, 100, digest, -1, true, true, false});
    cases.push_back({SignatureForms::Both, 132, digest, -1, true, true, true});
    // 140 bytes: 132 read, the last 8 skipped.
    cases.push_back({SignatureForms::Both, 140, digest, -1, true, true, true});
  }
  const DigestSwitch none = DigestSwitch::None;
  cases.push_back({SignatureForms::Both, 132, none, 100, true, true, false});  // EdDSA broken
  cases.push_back({SignatureForms::Both, 132, none, 40, false, true, true});   // s broken
  cases.push_back({SignatureForms::LegacyOnly, 100, none, 30, false, false, false});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Forms, SignatureLevels, ::testing::ValuesIn(levelCases()));

TEST(VerifySignature, FirstTwentySignatureBytesAreIgnored) {
  for (SignatureForms forms : {SignatureForms::LegacyOnly, SignatureForms::Both}) {
    std::string file = signedPackage(forms);
    std::memset(signatureBytes(file), 0x5A, 20);
    EXPECT_TRUE(acceptedAt(file, 1));
    EXPECT_EQ(acceptedAt(file, 2), forms == SignatureForms::Both);
  }
}

TEST(VerifySignature, TamperedByteAnywhereInSignedRangeRejects) {
  for (SignatureForms forms : {SignatureForms::LegacyOnly, SignatureForms::Both}) {
    std::string file = signedPackage(forms);
    ASSERT_TRUE(acceptedAt(file, 1));
    // From the package header part's 6-byte header to the signature part's own.
    size_t end = signatureBytes(file) - reinterpret_cast<uint8_t*>(file.data());
    for (size_t offset = kFileHeaderSize; offset < end; ++offset) {
      std::string tampered = file;
      tampered[offset] ^= 0x20;
      EXPECT_FALSE(acceptedAt(tampered, 1)) << "offset " << offset;
    }
  }
}

TEST(VerifySignature, SixtySevenBytesRejectWithoutReading) {
  PartWriter writer;
  writer.raw(encodePackageParts(demoSpec()));
  std::string body = writer.body();
  body.resize(body.size() - kPartHeaderSize);  // the empty signature part
  PartWriter shortPart;
  shortPart.raw(body);
  shortPart.part(SignaturePart, std::string(67, '\x11'));
  AtSignature at(shortPart.file(kPackageMagic), true);
  EXPECT_FALSE(verifySignature(at.reader, 1));
  EXPECT_EQ(at.reader.partRemaining(), 67u);
}

TEST(VerifySignature, MissingSignaturePartRejects) {
  PartWriter writer;
  writer.part(PackageHeaderPart, encodeHeaderRecord(demoSpec().meta, true));
  writer.part(FileContainerPart, deflateBytes(encodeContainer(demoSpec().files)));
  EXPECT_FALSE(acceptedAt(writer.file(kPackageMagic), 1));
}

TEST(VerifySignature, ReaderWithoutDigestRejects) {
  // Signed over whatever digest buffer a reader without digest offers.
  std::string file = signedPackage(SignatureForms::Both);
  uint8_t digest[32];
  {
    AtSignature at(file, false);
    at.reader.parts().finishDigest();
    std::memcpy(digest, at.reader.parts().digestValue(), sizeof digest);
  }
  SigningKeys keys = developmentKeys();
  ASSERT_TRUE(signLegacy(digest, keys.legacySecret, signatureBytes(file) + 20));
  ASSERT_TRUE(signEddsa(keys.eddsaSecret, digest, sizeof digest, signatureBytes(file) + 68));
  EXPECT_FALSE(acceptedAt(file, 1, false));
  EXPECT_FALSE(acceptedAt(file, 2, false));
}

TEST(VerifySignature, ConsumesTheSignatureBytesOnly) {
  AtSignature at(signedPackage(SignatureForms::Both, 140), true);
  EXPECT_TRUE(verifySignature(at.reader, 2));
  EXPECT_EQ(at.reader.partRemaining(), 8u);
  EXPECT_EQ(at.reader.nextPart(), -1);
}

}  // namespace
