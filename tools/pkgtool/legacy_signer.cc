#include "pkgtool/legacy_signer.h"

#include <openssl/bn.h>

#include <cstring>
#include <memory>

#include "verify/field_element.h"
#include "verify/legacy_hash.h"
#include "verify/signature.h"

namespace {

// ---- Curve points, affine: the signer needs v, which the verifier's ladder drops ----

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

}  // namespace

bool randomScalar(Key32& scalar) {
  Bignum order = groupOrder();
  Bignum k = newBignum();
  if (!order || !k) return false;
  do {
    if (BN_priv_rand_range(k.get(), order.get()) != 1) return false;
  } while (BN_is_zero(k.get()));
  scalar = toLittleEndian(k.get());
  return true;
}

bool deriveLegacyPublicKey(const Key32& secret, Key32& publicKey) {
  const AffinePoint point = times(secret.data(), basePoint());
  if (point.infinity) return false;
  publicKey = toBytes(point.u);
  return true;
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

