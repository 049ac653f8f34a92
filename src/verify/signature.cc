#include "verify/signature.h"

#include <array>
#include <cstring>

#include "pkgfile/package_reader.h"
#include "platform/crypto.h"
#include "verify/legacy_hash.h"
#include "verify/public_keys.h"

namespace {

// -2·v_G mod p, v_G the base point's v, little-endian.
constexpr uint8_t kMinusTwoBaseV[32] = {
    0x3b, 0x58, 0x62, 0x02, 0xbb, 0x74, 0x2c, 0xac, 0x9b, 0x3c, 0x07, 0x25, 0x03, 0x65, 0x85, 0xdb,
    0x66, 0x5d, 0x6e, 0x11, 0xa7, 0x45, 0xc2, 0x3f, 0x96, 0xf2, 0xbe, 0x8e, 0xbc, 0xcc, 0xa3, 0x3e};
// sqrt(-1) = 2^((p-1)/4) mod p, little-endian.
constexpr uint8_t kRootOfMinusOne[32] = {
    0xb0, 0xa0, 0x0e, 0x4a, 0x27, 0x1b, 0xee, 0xc4, 0x78, 0xe4, 0x2f, 0xad, 0x06, 0x18, 0x43, 0x2f,
    0xa7, 0xd7, 0xfb, 0x3d, 0x99, 0x00, 0x4d, 0x2b, 0x0b, 0xdf, 0xc1, 0x4f, 0x80, 0x24, 0x83, 0x2b};
constexpr uint32_t kBaseVSquared = 39420360;  // 9^3 + 486662·9^2 + 9
constexpr uint32_t kCurveA = 486662;
constexpr uint32_t kBaseU = 9;

// The affine u-coordinates the ladder adds with: u(G) = 9, u(Q), u(Q - G), u(Q + G),
// for Q the point of u-coordinate publicKey with the even v.
template <typename Element>
struct KnownDifferences {
  Element g, q, qMinusG, qPlusG;
};

template <typename Element>
KnownDifferences<Element> recoverPoints(const uint8_t publicKey[32]) {
  Element zero, one, nine, baseVSquared, minusTwoBaseV, rootOfMinusOne;
  zero.setSmall(0);
  one.setSmall(1);
  nine.setSmall(kBaseU);
  baseVSquared.setSmall(kBaseVSquared);
  fromBytes(minusTwoBaseV, kMinusTwoBaseV);
  fromBytes(rootOfMinusOne, kRootOfMinusOne);

  Element u;
  fromBytes(u, publicKey);
  u = mulSmall(u, 1);
  Element vSquared = mul(u, add(add(square(u), mulSmall(u, kCurveA)), one));
  Element uMinus9 = sub(u, nine);

  // One exponentiation yields both the root v and 1/(u - 9)^2: with
  // c = v^2·(u - 9)^2, y = c^3·(c^7)^((p-5)/8) has c·y^2 = ±1, and times sqrt(-1)
  // when it is -1, y^2 = 1/c. Then v^2·(u - 9)·y squares to v^2, and v^2·y^2 is
  // 1/(u - 9)^2. For a key on the curve this gives the same values as a square
  // root and an inversion of their own, at a third less of the verification's
  // exponentiations.
  Element c = mul(vSquared, square(uMinus9));
  Element c3 = mul(square(c), c);
  Element y = mul(c3, pow2523(mul(square(c3), c)));
  if (toBytes(mul(c, square(y))) == toBytes(sub(zero, one))) y = mul(y, rootOfMinusOne);
  Element v = mul(mul(vSquared, uMinus9), y);
  if (parity(v) != 0) v = sub(zero, v);
  Element inverse = mul(vSquared, square(y));

  // (v ± v_G)^2 = v^2 + v_G^2 ± 2·v·v_G; the slopes from G to Q and to -Q over u - 9
  // give u(Q - G) and u(Q + G).
  Element cross = mul(v, minusTwoBaseV);
  Element squares = add(vSquared, baseVSquared);
  Element plus = mulSmall(sub(squares, cross), 1);
  Element minus = mulSmall(add(squares, cross), 1);
  Element offset;
  offset.setSmall(kCurveA + kBaseU);
  offset = add(u, offset);

  KnownDifferences<Element> known;
  known.g = nine;
  known.q = u;
  known.qMinusG = mulSmall(sub(mul(plus, inverse), offset), 1);
  known.qPlusG = mulSmall(sub(mul(minus, inverse), offset), 1);
  return known;
}

// u(e·G - s·Q) by a two-dimensional differential addition chain over the bits of s
// and e, from bit 256 down. Three points P1..P3 (index 0..2) are kept; which of them
// is doubled and which pairs are added follows from the bits, and the pairs added
// always differ by one of the four known points.
template <typename Element>
Element combine(const uint8_t e[32], const uint8_t s[32], const KnownDifferences<Element>& known) {
  // Bit i of each scalar at index i + 1, with zeros below bit 0 and above bit 255.
  uint8_t sBit[258] = {}, eBit[258] = {};
  for (int i = 0; i < 256; ++i) {
    sBit[i + 1] = (s[i / 8] >> (i % 8)) & 1;
    eBit[i + 1] = (e[i / 8] >> (i % 8)) & 1;
  }
  // Control bits: c_i = t_s(i) XOR (c_(i-1) AND t_s(i) == t_e(i)), with t the XOR of
  // neighbouring bits.
  uint8_t control[257];
  int previous = 0;
  for (int i = 0; i <= 256; ++i) {
    int ts = sBit[i + 1] ^ sBit[i];
    int te = eBit[i + 1] ^ eBit[i];
    control[i] = static_cast<uint8_t>(ts ^ (previous & (ts == te ? 1 : 0)));
    previous = control[i];
  }

  Element one;
  one.setSmall(1);
  Element x[3], z[3];
  x[0] = one;
  z[0].setSmall(0);
  x[1] = control[256] == 0 ? known.g : known.q;
  z[1] = one;
  x[2] = known.qMinusG;
  z[2] = one;

  for (int i = 255; i >= 0; --i) {
    Element sum[3], difference[3];
    for (int j = 0; j < 3; ++j) {
      sum[j] = add(x[j], z[j]);
      difference[j] = sub(x[j], z[j]);
    }
    int doubled = (sBit[i + 1] ^ sBit[i + 2]) + (eBit[i + 1] ^ eBit[i + 2]);
    int partner = control[i] == control[i + 1] ? 0 : 2;
    const Element& diagonal = sBit[i + 2] == eBit[i + 2] ? known.qMinusG : known.qPlusG;

    Element x0 = x[doubled], z0 = z[doubled];
    ladderDouble(x0, z0);
    if (control[i] == 0) {
      differentialAdd(x[1], z[1], sum[1], difference[1], sum[partner], difference[partner],
                      kBaseU);
    } else {
      differentialAdd(x[1], z[1], sum[1], difference[1], sum[partner], difference[partner],
                      known.q);
    }
    differentialAdd(x[2], z[2], sum[2], difference[2], sum[0], difference[0], diagonal);
    x[0] = x0;
    z[0] = z0;
  }
  int last = sBit[1] + eBit[1];
  return mul(x[last], invert(z[last]));
}

}  // namespace

std::array<uint8_t, 32> legacyChallenge(const uint8_t digest[32], const uint8_t r[16]) {
  std::array<uint8_t, 32> e = legacyHash(digest, 20);
  for (int i = 0; i < 16; ++i) e[8 + i] ^= r[i];
  e[0] &= 0xF8;
  e[31] = (e[31] & 0x7F) | 0x40;
  return e;
}

bool verifyEddsaSignature(const uint8_t digest[32], const uint8_t signature[64],
                          const uint8_t publicKey[32]) {
  return eddsa::verify(asn1::blob{publicKey, publicKey + 32}, asn1::blob{digest, digest + 32},
                       asn1::blob{signature, signature + 64});
}

template <typename Element>
bool verifyLegacySignatureIn(const uint8_t digest[32], const uint8_t signature[68],
                             const uint8_t publicKey[32]) {
  const uint8_t* r = signature + 20;
  const uint8_t* s = signature + 36;
  const std::array<uint8_t, 32> e = legacyChallenge(digest, r);
  Bytes32 w = toBytes(combine(e.data(), s, recoverPoints<Element>(publicKey)));
  std::array<uint8_t, 32> check = legacyHash(w.data(), w.size());
  return std::memcmp(check.data(), r, 16) == 0;
}

template bool verifyLegacySignatureIn<FieldElement>(const uint8_t*, const uint8_t*,
                                                    const uint8_t*);
#if defined(HAVE_FIELD_ELEMENT51)
template bool verifyLegacySignatureIn<FieldElement51>(const uint8_t*, const uint8_t*,
                                                      const uint8_t*);
#endif

bool verifyLegacySignature(const uint8_t digest[32], const uint8_t signature[68],
                           const uint8_t publicKey[32]) {
  return verifyLegacySignatureIn<CurveElement>(digest, signature, publicKey);
}

bool verifySignature(PackageReader& reader, int level) {
  return verifySignature(reader, level, legacyPublicKey, eddsaPublicKey);
}

bool checkSignatureForms(PackageReader& reader, const uint8_t legacyKey[32],
                         const uint8_t eddsaKey[32], LegacyCheck legacyCheck,
                         SignatureCheck& forms) {
  forms = SignatureCheck{};
  if (reader.currentPart != SignaturePart) return false;
  PartStreamBuffer& parts = reader.parts();
  if (!parts.digesting()) return false;
  parts.finishDigest();
  uint8_t digest[32];
  std::memcpy(digest, parts.digestValue(), sizeof digest);

  const uint32_t available = parts.remaining();
  const std::streamsize wanted = available >= kFullSignatureSize     ? kFullSignatureSize
                                 : available >= kLegacySignatureSize ? kLegacySignatureSize
                                                                     : 0;
  if (wanted == 0) return false;
  uint8_t signature[kFullSignatureSize];
  if (parts.readUndigested(reinterpret_cast<char*>(signature), wanted) != wanted) return false;

  forms.hasLegacy = true;
  forms.hasEddsa = wanted == static_cast<std::streamsize>(kFullSignatureSize);
  forms.eddsaValid =
      forms.hasEddsa && verifyEddsaSignature(digest, signature + kLegacySignatureSize, eddsaKey);
  if (legacyCheck == LegacyCheck::Always ||
      (legacyCheck == LegacyCheck::WhenEddsaFails && !forms.eddsaValid))
    forms.legacyValid = verifyLegacySignature(digest, signature, legacyKey);
  return true;
}

bool verifySignature(PackageReader& reader, int level, const uint8_t legacyKey[32],
                     const uint8_t eddsaKey[32]) {
  const LegacyCheck legacyCheck = level == 1 ? LegacyCheck::WhenEddsaFails : LegacyCheck::Never;
  SignatureCheck forms;
  if (!checkSignatureForms(reader, legacyKey, eddsaKey, legacyCheck, forms)) return false;
  return forms.eddsaValid || (level == 1 && forms.legacyValid);
}
