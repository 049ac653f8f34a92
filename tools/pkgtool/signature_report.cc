#include "pkgtool/signature_report.h"

#include <sstream>

#include "pkgfile/package_format.h"
#include "pkgfile/package_reader.h"
#include "pkgtool/package_report.h"
#include "verify/signature.h"

bool verifyPackageFile(const std::string& file, const PublicKeySet& keys,
                       std::vector<PackageSignatureReport>& reports) {
  reports.clear();
  std::vector<PartInfo> parts;
  if (!listParts(file, parts)) return false;

  // What each package carries and how each form fares on its own.
  {
    std::istringstream in(file);
    PackageReader reader(in, true);
    reader.wantPart(PackageHeaderPart);
    reader.wantPart(DigestSwitchPart);
    reader.wantPart(SignaturePart);
    bool sha256 = false;
    bool awaitingSignature = false;
    for (int type; (type = reader.nextPart()) != -1;) {
      if (type == DigestSwitchPart) {
        sha256 = true;
      } else if (type == PackageHeaderPart) {
        PackageSignatureReport report;
        uint8_t name[kNameFieldSize];
        if (reader.read(reinterpret_cast<char*>(name), sizeof name))
          report.name = readNameField(name);
        reader.clear();
        reports.push_back(report);
        awaitingSignature = true;
      } else if (type == SignaturePart && awaitingSignature) {
        awaitingSignature = false;
        PackageSignatureReport& report = reports.back();
        PartStreamBuffer& buffer = reader.parts();
        report.sha256 = sha256;
        report.hasSignature = true;
        report.signatureLength = buffer.remaining();
        SignatureCheck forms;
        checkSignatureForms(reader, keys.legacy.data(), keys.eddsa.data(), LegacyCheck::Always,
                            forms);
        report.hasLegacy = forms.hasLegacy;
        report.hasEddsa = forms.hasEddsa;
        report.legacyValid = forms.legacyValid;
        report.eddsaValid = forms.eddsaValid;
      }
    }
  }

  // What the installer's own check accepts at each level.
  for (int level = 1; level <= 2; ++level) {
    std::istringstream in(file);
    PackageReader reader(in, true);
    reader.wantPart(PackageHeaderPart);
    reader.wantPart(SignaturePart);
    size_t packages = 0;
    bool awaitingSignature = false;
    for (int type; (type = reader.nextPart()) != -1;) {
      if (type == PackageHeaderPart) {
        ++packages;
        awaitingSignature = true;
      } else if (awaitingSignature && packages <= reports.size()) {
        awaitingSignature = false;
        bool accepted = verifySignature(reader, level, keys.legacy.data(), keys.eddsa.data());
        PackageSignatureReport& report = reports[packages - 1];
        (level == 1 ? report.acceptedLevel1 : report.acceptedLevel2) = accepted;
      }
    }
  }
  return true;
}

std::string describeSignature(const PackageSignatureReport& report) {
  if (!report.hasSignature) return "no signature part";
  std::string text;
  if (!report.hasEddsa)
    text = "no EdDSA signature";
  else
    text = report.eddsaValid ? "EdDSA valid" : "EdDSA invalid";
  if (!report.hasLegacy)
    text += ", no older-scheme signature";
  else
    text += report.legacyValid ? ", older scheme valid" : ", older scheme invalid";
  text += report.sha256 ? ", SHA-256 digest" : ", SHA-1 digest";
  return text;
}
