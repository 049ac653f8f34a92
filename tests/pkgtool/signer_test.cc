#include "pkgtool/signer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "pkgtool/package_builder.h"
#include "platform/crypto.h"
#include "support/scratch_root.h"
#include "verify/signature.h"
#include "verify/test_vectors.h"

namespace {

namespace fs = std::filesystem;

Key32 key32(const std::string& hex) {
  std::vector<uint8_t> bytes = fromHex(hex);
  Key32 key{};
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

std::string keyPath(const char* name) { return std::string(SOURCE_DIR) + "/keys/" + name; }

SigningKeys developmentKeys() {
  SigningKeys keys;
  EXPECT_TRUE(readSigningKeys(keyPath("legacy.secret"), keyPath("eddsa.secret"), keys));
  return keys;
}

PackageLayout memberSpec(const std::string& name) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = 0x07106300;
  layout.files = {{"lib/" + name + ".so", 0100755, std::string(300, 'z') + name}};
  return layout;
}

// The parts of file as (type, payload offset, payload length).
struct PartAt {
  uint16_t type;
  size_t payload;
  uint32_t length;
};
std::vector<PartAt> partList(const std::string& file) {
  std::vector<PartAt> parts;
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  for (size_t offset = kFileHeaderSize; offset + kPartHeaderSize <= file.size();) {
    uint32_t length = readLe32(bytes + offset + 2);
    parts.push_back({readLe16(bytes + offset), offset + kPartHeaderSize, length});
    offset += kPartHeaderSize + length;
  }
  return parts;
}

TEST(Signer, ReproducesOlderSchemeVectorsFromSecretAndNonce) {
  auto rows = readVectorFile("legacy_signature.txt");
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) {
    std::vector<uint8_t> digest = fromHex(row[2]);
    std::vector<uint8_t> signature(48);
    ASSERT_TRUE(signLegacyWithNonce(digest.data(), key32(row[0]), key32(row[3]),
                                    signature.data()));
    EXPECT_EQ(toHex(signature), row[4] + row[5]);
    KeySet keys;
    keys.legacySecret = key32(row[0]);
    ASSERT_TRUE(derivePublicKeys(keys));
    EXPECT_EQ(toHex(keys.legacyPublic), row[1]);
  }
}

TEST(Signer, DevelopmentKeysAreConsistentAndBuiltIn) {
  KeySet keys;
  Key32 legacyPublic, eddsaPublic;
  ASSERT_TRUE(readKeyFile(keyPath("legacy.secret"), keys.legacySecret));
  ASSERT_TRUE(readKeyFile(keyPath("eddsa.secret"), keys.eddsaSecret));
  ASSERT_TRUE(readKeyFile(keyPath("legacy.public"), legacyPublic));
  ASSERT_TRUE(readKeyFile(keyPath("eddsa.public"), eddsaPublic));
  ASSERT_TRUE(derivePublicKeys(keys));
  EXPECT_EQ(keys.legacyPublic, legacyPublic);
  EXPECT_EQ(keys.eddsaPublic, eddsaPublic);
  EXPECT_EQ(builtInPublicKeys().legacy, legacyPublic);
  EXPECT_EQ(builtInPublicKeys().eddsa, eddsaPublic);
}

TEST(Signer, KeyFilesAreOneHexLineAndNeverOverwritten) {
  ScratchRoot root;
  KeySet keys, fresh;
  ASSERT_TRUE(generateKeys(keys) && generateKeys(fresh));
  ASSERT_TRUE(writeKeys(root.at("vendor/keys"), keys));
  EXPECT_EQ(root.read("vendor/keys/legacy.public"), toHex(keys.legacyPublic) + "\n");
  struct stat info;
  ASSERT_EQ(stat(root.at("vendor/keys/eddsa.secret").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Any existing key file refuses the whole set.
  EXPECT_FALSE(writeKeys(root.at("vendor/keys"), fresh));
  root.write("other/eddsa.public", "keep");
  EXPECT_FALSE(writeKeys(root.at("other"), fresh));
  EXPECT_FALSE(root.exists("other/legacy.secret"));

  Key32 read;
  ASSERT_TRUE(readKeyFile(root.at("vendor/keys/legacy.secret"), read));
  EXPECT_EQ(read, keys.legacySecret);
  for (const auto& [text, readable] :
       std::vector<std::pair<std::string, bool>>{{" " + std::string(64, 'F') + "\r\n", true},
                                                 {std::string(63, 'f'), false},
                                                 {std::string(66, 'f'), false},
                                                 {"g" + std::string(63, 'f'), false}}) {
    root.write("case", text);
    EXPECT_EQ(readKeyFile(root.at("case"), read), readable) << text;
  }
}

TEST(Signer, LaysOutSignaturePartsAndFileLength) {
  PackageLayout resized = memberSpec("alpha");
  resized.signatureLength = 140;
  PartWriter unsignedWriter;  // no signature part; a type-16 part may follow one
  unsignedWriter.part(PackageHeaderPart, encodeHeaderRecord(resized.meta, true));
  unsignedWriter.part(FileContainerPart, deflateBytes(encodeContainer(resized.files)));
  unsignedWriter.part(ArchitecturePart, "arm");
  for (const std::string& original :
       {buildPackageFile(resized), unsignedWriter.file(kPackageMagic)}) {
    for (SignatureForms forms : {SignatureForms::LegacyOnly, SignatureForms::Both}) {
      std::string file = original;
      SignOptions options;
      options.forms = forms;
      ASSERT_EQ(signPackageFile(file, developmentKeys(), options), SignStatus::Signed);
      auto parts = partList(file);
      ASSERT_GE(parts.size(), 3u);
      EXPECT_EQ(parts[2].type, SignaturePart);
      EXPECT_EQ(parts[2].length, forms == SignatureForms::Both ? 132u : 68u);
      EXPECT_EQ(readLe32(reinterpret_cast<const uint8_t*>(file.data()) + 4), file.size() - 8);
    }
  }
}

TEST(Signer, RefusesWhatItCannotSign) {
  SigningKeys keys = developmentKeys();
  std::string cut = buildPackageFile(memberSpec("gamma"));
  cut.resize(cut.size() - 3);
  EXPECT_EQ(signPackageFile(cut, keys, SignOptions{}), SignStatus::Unreadable);
  PartWriter noHeader, headerOnly;
  noHeader.part(FileContainerPart, "x");
  headerOnly.part(PackageHeaderPart, encodeHeaderRecord(memberSpec("delta").meta, true));
  std::string file = noHeader.file(kPackageMagic);
  EXPECT_EQ(signPackageFile(file, keys, SignOptions{}), SignStatus::NoPackage);
  file = headerOnly.file(kPackageMagic);
  EXPECT_EQ(signPackageFile(file, keys, SignOptions{}), SignStatus::NoFileContainer);
  EXPECT_EQ(file, headerOnly.file(kPackageMagic));
}

// Checked against digests computed directly over the byte ranges: SHA-1 from the
// package header part to the signature part header (the EdDSA message padded with 12
// zero bytes), SHA-256 over the same range after a leading digest switch, or from the
// switch on when it follows the package header.
TEST(Signer, SignsTheDigestOfTheSignedRange) {
  const std::pair<DigestSwitch, bool> cases[] = {{DigestSwitch::None, false},
                                                 {DigestSwitch::None, true},
                                                 {DigestSwitch::BeforeHeader, false},
                                                 {DigestSwitch::AfterHeader, true}};
  PublicKeySet keys = builtInPublicKeys();
  for (const auto& [digestSwitch, sha256Option] : cases) {
    PackageLayout layout = memberSpec("epsilon");
    layout.digestSwitch = digestSwitch;
    std::string file = buildPackageFile(layout);
    SignOptions options;
    options.sha256 = sha256Option;
    ASSERT_EQ(signPackageFile(file, developmentKeys(), options), SignStatus::Signed);

    size_t header = 0, switchPart = 0, signature = 0;
    for (const PartAt& part : partList(file)) {
      size_t start = part.payload - kPartHeaderSize;
      if (part.type == PackageHeaderPart) header = start;
      if (part.type == DigestSwitchPart) switchPart = start;
      if (part.type == SignaturePart) signature = part.payload;
    }
    bool sha256 = switchPart != 0;
    EXPECT_EQ(sha256, sha256Option || digestSwitch != DigestSwitch::None);
    size_t start = switchPart > header ? switchPart : header;
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    uint8_t digest[32] = {};
    SHA1 sha1Digest;
    SHA256 sha256Digest;
    Digest& hash = sha256 ? static_cast<Digest&>(sha256Digest) : sha1Digest;
    hash.update(bytes + start, signature - start);
    hash.finish(digest);
    EXPECT_TRUE(eddsa::verify(asn1::blob{keys.eddsa.data(), keys.eddsa.data() + 32},
                              asn1::blob{digest, digest + 32},
                              asn1::blob{bytes + signature + 68, bytes + signature + 132}));
    EXPECT_TRUE(verifyLegacySignature(digest, bytes + signature, keys.legacy.data()));
  }
}

TEST(Signer, SignsAndReportsEveryMemberOfBundle) {
  BundleLayout bundle;
  bundle.meta.name = "suite";
  bundle.entryTable = {{"one", 0x07106300, 0, 0}, {"two", 0x07106300, 0, 0}};
  bundle.members = {memberSpec("one"), memberSpec("two"), memberSpec("three")};
  for (bool sha256 : {false, true}) {
    std::string file = buildBundleFile(bundle);
    SignOptions options;
    options.sha256 = sha256;
    ASSERT_EQ(signPackageFile(file, developmentKeys(), options), SignStatus::Signed);
    ASSERT_EQ(signPackageFile(file, developmentKeys(), options), SignStatus::Signed);
    size_t switches = 0;
    for (const PartAt& part : partList(file)) switches += part.type == DigestSwitchPart;
    EXPECT_EQ(switches, sha256 ? 1u : 0u);  // one switch, and signing again keeps it
    std::vector<PackageSignatureReport> reports;
    ASSERT_TRUE(verifyPackageFile(file, builtInPublicKeys(), reports));
    ASSERT_EQ(reports.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(reports[i].name, bundle.members[i].meta.name);
      EXPECT_EQ(reports[i].sha256, sha256);
      EXPECT_TRUE(reports[i].legacyValid && reports[i].eddsaValid);
      EXPECT_TRUE(reports[i].acceptedLevel1 && reports[i].acceptedLevel2);
    }
  }
}

TEST(Signer, ReportsAgainstTheKeysGiven) {
  KeySet vendor;
  ASSERT_TRUE(generateKeys(vendor));
  std::string file = buildPackageFile(memberSpec("eta"));
  ASSERT_EQ(signPackageFile(file, {vendor.legacySecret, vendor.eddsaSecret}, SignOptions{}),
            SignStatus::Signed);
  std::vector<PackageSignatureReport> reports;
  ASSERT_TRUE(verifyPackageFile(file, {vendor.legacyPublic, vendor.eddsaPublic}, reports));
  EXPECT_TRUE(reports.at(0).acceptedLevel2 && reports[0].legacyValid);
  ASSERT_TRUE(verifyPackageFile(file, builtInPublicKeys(), reports));
  EXPECT_FALSE(reports.at(0).acceptedLevel1 || reports[0].legacyValid || reports[0].eddsaValid);
  EXPECT_FALSE(verifyPackageFile("short", builtInPublicKeys(), reports));
}

}  // namespace
