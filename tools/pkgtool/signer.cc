#include "pkgtool/signer.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string_view>

#include "pkgfile/package_format.h"
#include "platform/file_handles.h"
#include "pkgfile/package_reader.h"
#include "verify/field_element.h"
#include "verify/legacy_hash.h"
#include "verify/public_keys.h"
#include "verify/signature.h"

namespace {

// ---- Key files ----

std::string toHex(const uint8_t* bytes, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xF];
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// ---- Curve points, affine, for the signing side only ----

using Element = CurveElement;

// The base point G: u = 9 and the v of RFC 7748, little-endian.
constexpr uint8_t kBaseV[32] = {0xd9, 0xd3, 0xce, 0x7e, 0xa2, 0xc5, 0xe9, 0x29, 0xb2, 0x61, 0x7c,
                                0x6d, 0x7e, 0x4d, 0x3d, 0x92, 0x4c, 0xd1, 0x48, 0x77, 0x2c, 0xdd,
                                0x1e, 0xe0, 0xb4, 0x86, 0xa0, 0xb8, 0xa1, 0x19, 0xae, 0x20};
constexpr uint32_t kCurveA = 486662;
// The order of G.
constexpr const char* kGroupOrder =
    "7237005577332262213973186563042994240857116359379907606001950938285454250989";

Element carried(const Element& a) { return mulSmall(a, 1); }
bool equal(const Element& a, const Element& b) { return toBytes(a) == toBytes(b); }

struct AffinePoint {
  bool infinity = true;
  Element u{}, v{};
};

AffinePoint basePoint() {
  AffinePoint g;
  g.infinity = false;
  g.u.setSmall(9);
  fromBytes(g.v, kBaseV);
  return g;
}

// The point with u = λ^2 - A - u1 - u2 and v = λ(u1 - u) - v1 on the line of slope λ
// through (u1, v1).
AffinePoint onLine(const Element& slope, const AffinePoint& first, const Element& otherU) {
  Element a;
  a.setSmall(kCurveA);
  AffinePoint r;
  r.infinity = false;
  r.u = carried(sub(sub(square(slope), a), carried(add(first.u, otherU))));
  r.v = carried(sub(mul(slope, carried(sub(first.u, r.u))), first.v));
  return r;
}

AffinePoint twice(const AffinePoint& p) {
  Element zero;
  zero.setSmall(0);
  if (p.infinity || equal(p.v, zero)) return AffinePoint{};
  // Slope of the tangent: (3u^2 + 2Au + 1) / 2v.
  Element one;
  one.setSmall(1);
  Element numerator = carried(add(add(mulSmall(square(p.u), 3), mulSmall(p.u, 2 * kCurveA)), one));
  Element slope = mul(numerator, invert(mulSmall(p.v, 2)));
  return onLine(slope, p, p.u);
}

AffinePoint plus(const AffinePoint& p, const AffinePoint& q) {
  if (p.infinity) return q;
  if (q.infinity) return p;
  if (equal(p.u, q.u)) return equal(p.v, q.v) ? twice(p) : AffinePoint{};
  Element slope = mul(carried(sub(q.v, p.v)), invert(carried(sub(q.u, p.u))));
  return onLine(slope, p, q.u);
}

// scalar·p for a little-endian 256-bit scalar, by doubling and adding from the top.
AffinePoint times(const uint8_t scalar[32], const AffinePoint& p) {
  AffinePoint r;
  for (int i = 255; i >= 0; --i) {
    r = twice(r);
    if ((scalar[i / 8] >> (i % 8)) & 1) r = plus(r, p);
  }
  return r;
}

// ---- Scalars modulo the group order ----

struct BignumFree {
  void operator()(BIGNUM* n) const { BN_free(n); }
};
struct BignumContextFree {
  void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;
using BignumContext = std::unique_ptr<BN_CTX, BignumContextFree>;

Bignum newBignum() { return Bignum(BN_new()); }

Bignum groupOrder() {
  BIGNUM* n = nullptr;
  BN_dec2bn(&n, kGroupOrder);
  return Bignum(n);
}

Bignum fromLittleEndian(const uint8_t* bytes, size_t length) {
  return Bignum(BN_lebin2bn(bytes, static_cast<int>(length), nullptr));
}

Key32 toLittleEndian(const BIGNUM* n) {
  Key32 out{};
  BN_bn2lebinpad(n, out.data(), static_cast<int>(out.size()));
  return out;
}

// A uniformly random scalar in [1, order).
bool randomScalar(Key32& out) {
  Bignum order = groupOrder();
  Bignum k = newBignum();
  if (!order || !k) return false;
  do {
    if (BN_priv_rand_range(k.get(), order.get()) != 1) return false;
  } while (BN_is_zero(k.get()));
  out = toLittleEndian(k.get());
  return true;
}

// ---- EdDSA through OpenSSL ----

struct PkeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<EVP_PKEY, PkeyFree> eddsaKey(const Key32& seed) {
  return std::unique_ptr<EVP_PKEY, PkeyFree>(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
}

// ---- Package files ----

// One part of a package file: its type and where its payload lies in the file.
struct PartSpan {
  uint16_t type;
  size_t payload;
  uint32_t length;
};

// The parts of file; false when it is not a package file or a part runs past its end.
bool splitParts(std::string_view file, std::vector<PartSpan>& parts) {
  if (file.size() < kFileHeaderSize) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  uint32_t magic = readLe32(bytes);
  if (magic != kPackageMagic && magic != kAltPackageMagic) return false;
  for (size_t offset = kFileHeaderSize; offset < file.size();) {
    if (file.size() - offset < kPartHeaderSize) return false;
    uint16_t type = readLe16(bytes + offset);
    uint32_t length = readLe32(bytes + offset + 2);
    offset += kPartHeaderSize;
    if (length > file.size() - offset) return false;
    parts.push_back(PartSpan{type, offset, length});
    offset += length;
  }
  return true;
}

// A part of the signed file: a span of the input, or generated zeros.
struct OutputPart {
  uint16_t type;
  std::string_view payload;
  uint32_t zeros = 0;
};

OutputPart zeroPart(uint16_t type, uint32_t length) { return OutputPart{type, {}, length}; }

// The signature parts resized (or added after the file container where a package has
// none) and the digest switch inserted as the options ask.
SignStatus layOutParts(std::string_view file, const std::vector<PartSpan>& parts,
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
  for (const PartSpan& part : parts) {
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
    out.push_back(OutputPart{part.type, file.substr(part.payload, part.length)});
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

bool serialize(uint32_t magic, const std::vector<OutputPart>& parts, std::string& file) {
  uint64_t body = 0;
  for (const OutputPart& part : parts)
    body += kPartHeaderSize + part.payload.size() + part.zeros;
  if (body > UINT32_MAX) return false;
  file.clear();
  file.reserve(kFileHeaderSize + body);
  uint8_t header[kFileHeaderSize];
  writeLe32(header, magic);
  writeLe32(header + 4, static_cast<uint32_t>(body));
  file.append(reinterpret_cast<const char*>(header), sizeof header);
  for (const OutputPart& part : parts) {
    uint8_t partHeader[kPartHeaderSize];
    writeLe16(partHeader, part.type);
    writeLe32(partHeader + 2, static_cast<uint32_t>(part.payload.size() + part.zeros));
    file.append(reinterpret_cast<const char*>(partHeader), sizeof partHeader);
    file.append(part.payload);
    file.append(part.zeros, '\0');
  }
  return true;
}

// Where a signature goes and what it signs.
struct PendingSignature {
  uint32_t offset;  // of the signature payload in the file
  std::array<uint8_t, 32> digest;
};

}  // namespace

bool readKeyFile(const std::string& path, Key32& key) {
  std::ifstream in(path);
  if (!in) return false;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  if (end - begin != 2 * key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    int high = hexValue(text[begin + 2 * i]);
    int low = hexValue(text[begin + 2 * i + 1]);
    if (high < 0 || low < 0) return false;
    key[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

bool writeKeyFile(const std::string& path, const Key32& key, unsigned mode) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode));
  if (!fd.valid()) return false;
  std::string line = toHex(key.data(), key.size()) + "\n";
  bool written =
      ::write(fd.get(), line.data(), line.size()) == static_cast<ssize_t>(line.size());
  if (fd.close() && written) return true;
  ::unlink(path.c_str());  // ours, since it did not exist before
  return false;
}

bool derivePublicKeys(KeySet& keys) {
  AffinePoint point = times(keys.legacySecret.data(), basePoint());
  if (point.infinity) return false;
  keys.legacyPublic = toBytes(point.u);

  auto key = eddsaKey(keys.eddsaSecret);
  size_t length = keys.eddsaPublic.size();
  return key && EVP_PKEY_get_raw_public_key(key.get(), keys.eddsaPublic.data(), &length) == 1 &&
         length == keys.eddsaPublic.size();
}

bool generateKeys(KeySet& keys) {
  if (!randomScalar(keys.legacySecret)) return false;
  if (RAND_priv_bytes(keys.eddsaSecret.data(), keys.eddsaSecret.size()) != 1) return false;
  return derivePublicKeys(keys);
}

bool writeKeys(const std::string& directory, const KeySet& keys) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(directory, error);
  if (error) return false;
  struct KeyFile {
    const char* name;
    const Key32& key;
    unsigned mode;
  };
  const KeyFile files[] = {{"legacy.secret", keys.legacySecret, 0600},
                           {"legacy.public", keys.legacyPublic, 0644},
                           {"eddsa.secret", keys.eddsaSecret, 0600},
                           {"eddsa.public", keys.eddsaPublic, 0644}};
  for (size_t i = 0; i < std::size(files); ++i) {
    if (!writeKeyFile((fs::path(directory) / files[i].name).string(), files[i].key,
                      files[i].mode)) {
      // An existing file (or a failed write) leaves none of ours behind.
      for (size_t j = 0; j < i; ++j) fs::remove(fs::path(directory) / files[j].name, error);
      return false;
    }
  }
  return true;
}

bool readSigningKeys(const std::string& legacySecretPath, const std::string& eddsaSecretPath,
                     SigningKeys& keys) {
  return readKeyFile(legacySecretPath, keys.legacySecret) &&
         readKeyFile(eddsaSecretPath, keys.eddsaSecret);
}

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

bool signLegacyWithNonce(const uint8_t digest[32], const Key32& secret, const Key32& nonce,
                         uint8_t signature[48]) {
  BignumContext context(BN_CTX_new());
  Bignum order = groupOrder();
  Bignum x = fromLittleEndian(secret.data(), secret.size());
  Bignum k = fromLittleEndian(nonce.data(), nonce.size());
  if (!context || !order || !x || !k) return false;
  if (BN_nnmod(x.get(), x.get(), order.get(), context.get()) != 1 || BN_is_zero(x.get()))
    return false;
  if (BN_is_zero(k.get()) || BN_cmp(k.get(), order.get()) >= 0) return false;

  // The verifier rebuilds the public point from its u with the even v: sign with the
  // scalar of that point.
  Key32 reduced = toLittleEndian(x.get());
  AffinePoint publicPoint = times(reduced.data(), basePoint());
  if (publicPoint.infinity) return false;
  if (parity(publicPoint.v) != 0 && BN_sub(x.get(), order.get(), x.get()) != 1) return false;

  AffinePoint noncePoint = times(nonce.data(), basePoint());
  if (noncePoint.infinity) return false;
  Bytes32 w = toBytes(noncePoint.u);
  std::array<uint8_t, 32> r = legacyHash(w.data(), w.size());

  const std::array<uint8_t, 32> e = legacyChallenge(digest, r.data());

  // s = (e - k) / x' mod order, so that e·G - s·Q = k·G.
  Bignum eValue = fromLittleEndian(e.data(), e.size());
  Bignum inverse(BN_mod_inverse(nullptr, x.get(), order.get(), context.get()));
  Bignum s = newBignum();
  if (!eValue || !inverse || !s ||
      BN_mod_sub(s.get(), eValue.get(), k.get(), order.get(), context.get()) != 1 ||
      BN_mod_mul(s.get(), s.get(), inverse.get(), order.get(), context.get()) != 1)
    return false;
  Key32 sBytes = toLittleEndian(s.get());
  std::memcpy(signature, r.data(), 16);
  std::memcpy(signature + 16, sBytes.data(), sBytes.size());
  return true;
}

bool signLegacy(const uint8_t digest[32], const Key32& secret, uint8_t signature[48]) {
  Key32 nonce;
  return randomScalar(nonce) && signLegacyWithNonce(digest, secret, nonce, signature);
}

bool signEddsa(const Key32& seed, const uint8_t* message, size_t length, uint8_t signature[64]) {
  auto key = eddsaKey(seed);
  std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
  size_t signatureLength = 64;
  return key && context &&
         EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestSign(context.get(), signature, &signatureLength, message, length) == 1 &&
         signatureLength == 64;
}

SignStatus signPackageFile(std::string& file, const SigningKeys& keys,
                           const SignOptions& options) {
  std::vector<PartSpan> parts;
  if (!splitParts(file, parts)) return SignStatus::Unreadable;
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

PublicKeySet builtInPublicKeys() {
  PublicKeySet keys;
  std::memcpy(keys.legacy.data(), legacyPublicKey, keys.legacy.size());
  std::memcpy(keys.eddsa.data(), eddsaPublicKey, keys.eddsa.size());
  return keys;
}

bool verifyPackageFile(const std::string& file, const PublicKeySet& keys,
                       std::vector<PackageSignatureReport>& reports) {
  reports.clear();
  std::vector<PartSpan> parts;
  if (!splitParts(file, parts)) return false;

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
        if (reader.read(reinterpret_cast<char*>(name), sizeof name)) report.name = readNameField(name);
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
