#include "pkgtool/package_signer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

#include "pkgfile/package_format.h"
#include "pkgfile/package_reader.h"
#include "pkgtool/eddsa_signer.h"
#include "pkgtool/legacy_signer.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/package_report.h"
#include "verify/signature.h"

namespace {

// A part of the signed file: a span of the input, or generated zeros.
struct OutputPart {
  uint16_t type;
  std::string_view payload;
  uint32_t zeros = 0;
};

OutputPart zeroPart(uint16_t type, uint32_t length) { return OutputPart{type, {}, length}; }

// The signature parts resized (or added after the file container where a package has
// none) and the digest switch inserted as the options ask.
SignStatus layOutParts(std::string_view file, const std::vector<PartInfo>& parts,
                       const SignOptions& options, std::vector<OutputPart>& out) {
  uint32_t signatureLength = std::max<uint32_t>(
      options.partLength,
      options.forms == SignatureForms::Both ? kFullSignatureSize : kLegacySignatureSize);
  bool inPackage = false;
  bool packageSigned = false;
  size_t afterContainer = 0;  // index in out; 0 while the package has no container
  auto closePackage = [&] {
    if (!inPackage || packageSigned) return true;
    if (afterContainer == 0) return false;
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(afterContainer),
               zeroPart(SignaturePart, signatureLength));
    return true;
  };
  for (const PartInfo& part : parts) {
    if (part.type == PackageHeaderPart) {
      if (!closePackage()) return SignStatus::NoFileContainer;
      inPackage = true;
      packageSigned = false;
      afterContainer = 0;
    }
    if (part.type == SignaturePart) {
      out.push_back(zeroPart(SignaturePart, signatureLength));
      packageSigned = packageSigned || inPackage;
      continue;
    }
    out.push_back(OutputPart{part.type, file.substr(part.offset + kPartHeaderSize, part.length)});
    if (part.type == FileContainerPart && inPackage) afterContainer = out.size();
  }
  if (!inPackage) return SignStatus::NoPackage;
  if (!closePackage()) return SignStatus::NoFileContainer;

  if (options.sha256) {
    size_t firstHeader = out.size(), firstSwitch = out.size(), firstSignature = out.size();
    for (size_t i = out.size(); i-- > 0;) {
      if (out[i].type == PackageHeaderPart) firstHeader = i;
      if (out[i].type == DigestSwitchPart) firstSwitch = i;
      if (out[i].type == SignaturePart) firstSignature = i;
    }
    if (firstSwitch > firstSignature)
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(firstHeader),
                 zeroPart(DigestSwitchPart, 0));
  }
  return SignStatus::Signed;
}

// The file of magic and parts; false when it outgrows the 32-bit length word.
bool serialize(uint32_t magic, const std::vector<OutputPart>& parts, std::string& file) {
  PartWriter writer;
  for (const OutputPart& part : parts) {
    if (part.zeros != 0)
      writer.part(part.type, std::string(part.zeros, '\0'));
    else
      writer.part(part.type, part.payload);
  }
  if (writer.body().size() > UINT32_MAX) return false;
  file = writer.file(magic);
  return true;
}

// Where a signature goes and what it signs.
struct PendingSignature {
  uint32_t offset;  // of the signature payload in the file
  std::array<uint8_t, 32> digest;
};

}  // namespace

const char* signStatusText(SignStatus status) {
  switch (status) {
    case SignStatus::Signed:
      return "signed";
    case SignStatus::Unreadable:
      return "not a readable package file";
    case SignStatus::NoPackage:
      return "no package header part";
    case SignStatus::NoFileContainer:
      return "a package has neither a signature part nor a file container";
    case SignStatus::BadKey:
      return "unusable signing key";
  }
  return "unknown";
}

SignStatus signPackageFile(std::string& file, const SigningKeys& keys,
                           const SignOptions& options) {
  std::vector<PartInfo> parts;
  if (!listParts(file, parts)) return SignStatus::Unreadable;
  std::vector<OutputPart> layout;
  SignStatus status = layOutParts(file, parts, options, layout);
  if (status != SignStatus::Signed) return status;
  std::string signedFile;
  if (!serialize(readLe32(reinterpret_cast<const uint8_t*>(file.data())), layout, signedFile))
    return SignStatus::Unreadable;

  // Each package's digest as the installer's reader finishes it at the signature part.
  std::vector<PendingSignature> pending;
  {
    std::istringstream in(signedFile);
    PackageReader reader(in, true);
    reader.wantPart(SignaturePart);
    while (reader.nextPart() == SignaturePart) {
      reader.parts().finishDigest();
      PendingSignature next{reader.parts().partStart(), {}};
      std::memcpy(next.digest.data(), reader.parts().digestValue(), next.digest.size());
      pending.push_back(next);
    }
  }
  size_t signatureParts = 0;
  for (const OutputPart& part : layout) signatureParts += part.type == SignaturePart ? 1 : 0;
  if (pending.size() != signatureParts) return SignStatus::Unreadable;

  for (const PendingSignature& target : pending) {
    auto* payload = reinterpret_cast<uint8_t*>(signedFile.data()) + target.offset;
    if (!signLegacy(target.digest.data(), keys.legacySecret, payload + 20))
      return SignStatus::BadKey;
    if (options.forms == SignatureForms::Both &&
        !signEddsa(keys.eddsaSecret, target.digest.data(), target.digest.size(),
                   payload + kLegacySignatureSize))
      return SignStatus::BadKey;
  }
  file = std::move(signedFile);
  return SignStatus::Signed;
}
