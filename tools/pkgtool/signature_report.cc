#include "pkgtool/signature_report.h"

#include "pkgtool/package_report.h"

namespace {

// Keeps the report of each package.
class ReportCollector : public PackageObserver {
 public:
  explicit ReportCollector(std::vector<PackageSignatureReport>& reports) : reports_(reports) {}
  void packageEnds(const PackageInfo&, const PackageSignatureReport* report) override {
    reports_.push_back(*report);
  }

 private:
  std::vector<PackageSignatureReport>& reports_;
};

}  // namespace

bool verifyPackageFile(const std::string& file, const PublicKeySet& keys,
                       std::vector<PackageSignatureReport>& reports) {
  reports.clear();
  MemorySource source(file);
  FileFrame frame;
  PackageObserver ignored;
  if (!readFrame(source, file.size(), frame, ignored) || !frame.whole) return false;
  ReportCollector collector(reports);
  readPackages(source, frame, {false, &keys}, collector);
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
