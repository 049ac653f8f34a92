#include "pkgtool/package_signer.h"

#include <gtest/gtest.h>

#include "pkgtool/signature_report.h"
#include "support/signed_packages.h"

namespace {

// Where the signer puts its parts; every form, part size and digest switch is verified
// by the installer's own signature tests.
TEST(PackageSigner, AddsOrResizesTheSignaturePartAndKeepsOneDigestSwitchOrRefuses) {
  PackageLayout layout;
  layout.files = {{"lib/e.so", 0100755, std::string(300, 'z'), 0}};
  layout.signatureLength = 140;
  std::string none = PartWriter().file(kPackageMagic);
  EXPECT_EQ(signPackageFile(none, developmentKeys(), {}), SignStatus::NoPackage);
  PartWriter unsignedFile;  // the signature part goes after the container, before the type-16 part
  unsignedFile.part(PackageHeaderPart, encodeHeaderRecord(layout.meta, true));
  std::string headerOnly = unsignedFile.file(kPackageMagic);
  EXPECT_EQ(signPackageFile(headerOnly, developmentKeys(), {}), SignStatus::NoFileContainer);
  unsignedFile.part(FileContainerPart, deflateBytes(encodeContainer(layout.files)));
  unsignedFile.part(ArchitecturePart, "arm");
  using Types = std::vector<unsigned>;
  for (const auto& [original, forms, types] :
       {std::tuple{unsignedFile.file(kPackageMagic), SignatureForms::LegacyOnly,
                   Types{25, 1, 4, 9, 16}},
        {buildPackageFile(layout), SignatureForms::Both, Types{25, 1, 4, 9}}}) {
    std::string file = original;
    for (int round = 0; round < 2; ++round)
      ASSERT_EQ(signPackageFile(file, developmentKeys(), {forms, true}), SignStatus::Signed);
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    Types seen;
    for (size_t at = kFileHeaderSize; at + kPartHeaderSize <= file.size();
         at += kPartHeaderSize + readLe32(bytes + at + 2))
      seen.push_back(readLe16(bytes + at));
    EXPECT_EQ(seen, types);
    EXPECT_EQ(readLe32(bytes + 4), file.size() - kFileHeaderSize);
    std::vector<PackageSignatureReport> reports;
    ASSERT_TRUE(verifyPackageFile(file, builtInPublicKeys(), reports));
    EXPECT_EQ(reports.at(0).signatureLength, forms == SignatureForms::Both ? 132u : 68u);
    EXPECT_TRUE(reports[0].sha256 && reports[0].acceptedLevel1 && reports[0].legacyValid);
    EXPECT_EQ(reports[0].acceptedLevel2, forms == SignatureForms::Both);
  }
}

}  // namespace
