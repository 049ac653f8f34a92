#include "verify/field_element.h"

#include <type_traits>

// The point steps and exponent chains are built from many small calls; letting the
// compiler inline all of them into each step keeps the limbs in registers.
#if defined(__GNUC__)
#define INLINE_CALLS __attribute__((flatten))
#else
#define INLINE_CALLS
#endif

namespace {

// ---- Ten limbs, radix 2^25.5 ----

constexpr int kWidth[10] = {26, 25, 26, 25, 26, 25, 26, 25, 26, 25};

constexpr int64_t lowMask(int width) { return (int64_t{1} << width) - 1; }

// Passes everything above each limb's width on to the next limb (floor division, so
// that limbs 0..8 end up in [0, 2^width)); the top limb keeps what reaches it.
void carryThrough(int64_t h[10]) {
  for (int i = 0; i < 9; ++i) {
    h[i + 1] += h[i] >> kWidth[i];
    h[i] &= lowMask(kWidth[i]);
  }
}

// Limb sums below 2^62 in magnitude to a carried element. The carry out of limb 9
// re-enters limb 0 times 19 (2^255 = 19 mod p), and limb 0 is carried once more;
// every limb ends non-negative, limb 1 at most a few bits above its width.
FieldElement carryProduct(int64_t h[10]) {
  carryThrough(h);
  h[0] += 19 * (h[9] >> 25);
  h[9] &= lowMask(25);
  h[1] += h[0] >> 26;
  h[0] &= lowMask(26);
  FieldElement r;
  for (int i = 0; i < 10; ++i) r.limb[i] = static_cast<int32_t>(h[i]);
  return r;
}

// Any element whose limbs fit in 32 bits to the form needsFinalReduction and parity
// expect: limbs 0..8 within their widths, limb 9 in [-1, 2^25], so that the value is
// negative exactly when limb 9 is, and lies in (-p, 2p).
FieldElement reduceLimbs(const FieldElement& a) {
  int64_t h[10];
  for (int i = 0; i < 10; ++i) h[i] = a.limb[i];
  carryThrough(h);
  h[0] += 19 * (h[9] >> 25);
  h[9] &= lowMask(25);
  carryThrough(h);
  FieldElement r;
  for (int i = 0; i < 10; ++i) r.limb[i] = static_cast<int32_t>(h[i]);
  return r;
}

// ---- Five limbs, radix 2^51 ----

#if defined(HAVE_FIELD_ELEMENT51)
using Wide = unsigned __int128;
constexpr uint64_t kMask51 = (uint64_t{1} << 51) - 1;

// Column sums below 2^127 to a carried element: limbs below 2^51, limb 1 below
// 2^51 + 2^20.
FieldElement51 carryColumns(Wide t0, Wide t1, Wide t2, Wide t3, Wide t4) {
  FieldElement51 r;
  t1 += t0 >> 51;
  r.limb[0] = static_cast<uint64_t>(t0) & kMask51;
  t2 += t1 >> 51;
  r.limb[1] = static_cast<uint64_t>(t1) & kMask51;
  t3 += t2 >> 51;
  r.limb[2] = static_cast<uint64_t>(t2) & kMask51;
  t4 += t3 >> 51;
  r.limb[3] = static_cast<uint64_t>(t3) & kMask51;
  r.limb[4] = static_cast<uint64_t>(t4) & kMask51;
  Wide low = (t4 >> 51) * 19 + r.limb[0];
  r.limb[0] = static_cast<uint64_t>(low) & kMask51;
  r.limb[1] += static_cast<uint64_t>(low >> 51);
  return r;
}

// Limbs 0..3 below 2^51 and limb 4 at most 2^51: a value below 2^255 + 2^204.
FieldElement51 reduceLimbs(const FieldElement51& a) {
  uint64_t l[5] = {a.limb[0], a.limb[1], a.limb[2], a.limb[3], a.limb[4]};
  for (int i = 0; i < 4; ++i) {
    l[i + 1] += l[i] >> 51;
    l[i] &= kMask51;
  }
  l[0] += 19 * (l[4] >> 51);
  l[4] &= kMask51;
  for (int i = 0; i < 4; ++i) {
    l[i + 1] += l[i] >> 51;
    l[i] &= kMask51;
  }
  return FieldElement51{{l[0], l[1], l[2], l[3], l[4]}};
}
#endif

// ---- Shared ----

// width (at most 57) bits of a little-endian 32-byte string from bit offset; bits
// past the end read as zero.
uint64_t bitsAt(const uint8_t bytes[32], int offset, int width) {
  uint64_t value = 0;
  int first = offset / 8;
  for (int i = 0; i < 8 && first + i < 32; ++i)
    value |= static_cast<uint64_t>(bytes[first + i]) << (8 * i);
  value >>= offset % 8;
  return value & ((uint64_t{1} << width) - 1);
}

template <typename Element>
Element squareTimes(Element z, int times) {
  for (int i = 0; i < times; ++i) z = square(z);
  return z;
}

// The addition chain shared by pow2523 and invert, up to z^(2^250 - 1); also yields
// z^11, which the inversion ending needs.
template <typename Element>
INLINE_CALLS Element powChain(const Element& z, bool inverse) {
  Element z2 = square(z);
  Element z9 = mul(squareTimes(z2, 2), z);
  Element z11 = mul(z9, z2);
  Element z2_5 = mul(square(z11), z9);                   // 2^5 - 1
  Element z2_10 = mul(squareTimes(z2_5, 5), z2_5);       // 2^10 - 1
  Element z2_20 = mul(squareTimes(z2_10, 10), z2_10);    // 2^20 - 1
  Element z2_40 = mul(squareTimes(z2_20, 20), z2_20);    // 2^40 - 1
  Element z2_50 = mul(squareTimes(z2_40, 10), z2_10);    // 2^50 - 1
  Element z2_100 = mul(squareTimes(z2_50, 50), z2_50);   // 2^100 - 1
  Element z2_200 = mul(squareTimes(z2_100, 100), z2_100);  // 2^200 - 1
  Element z2_250 = mul(squareTimes(z2_200, 50), z2_50);  // 2^250 - 1
  if (inverse) return mul(squareTimes(z2_250, 5), z11);  // 2^255 - 21 = p - 2
  return mul(squareTimes(z2_250, 2), z);                 // 2^252 - 3
}

template <typename Element>
Element squareRootOf(const Element& a) {
  Element one;
  one.setSmall(1);
  Element twoA = add(a, a);
  Element t = pow2523(twoA);
  Element i = mul(twoA, square(t));
  return mul(mul(a, t), sub(i, one));
}

template <typename Element>
INLINE_CALLS void doubleStep(Element& x, Element& z) {
  Element s = square(add(x, z));
  Element d = square(sub(x, z));
  Element e = sub(s, d);
  x = mul(s, d);
  z = mul(e, add(s, mulSmall(e, 121665)));
}

// Difference is an Element, or a small integer multiplied in with mulSmall.
template <typename Element, typename Difference>
INLINE_CALLS void addStep(Element& x, Element& z, const Element& sumP,
                          const Element& differenceP, const Element& sumR,
                          const Element& differenceR, const Difference& u) {
  Element m = mul(differenceP, sumR);
  Element n = mul(sumP, differenceR);
  x = square(add(m, n));
  if constexpr (std::is_same_v<Difference, Element>) {
    z = mul(u, square(sub(m, n)));
  } else {
    z = mulSmall(square(sub(m, n)), u);
  }
}

}  // namespace

// ---- Ten limbs ----

FieldElement mul(const FieldElement& a, const FieldElement& b) {
  // Column k sums the products f_i·g_j with i + j = k. A product of two
  // odd-numbered limbs counts twice, as their offsets add up to one bit more than
  // column k's; products landing at 2^255 and above fold back times 19. Written out
  // so that the limbs stay in registers.
  int64_t f0 = a.limb[0], f1 = a.limb[1], f2 = a.limb[2], f3 = a.limb[3], f4 = a.limb[4];
  int64_t f5 = a.limb[5], f6 = a.limb[6], f7 = a.limb[7], f8 = a.limb[8], f9 = a.limb[9];
  int64_t g0 = b.limb[0], g1 = b.limb[1], g2 = b.limb[2], g3 = b.limb[3], g4 = b.limb[4];
  int64_t g5 = b.limb[5], g6 = b.limb[6], g7 = b.limb[7], g8 = b.limb[8], g9 = b.limb[9];
  int64_t f1_2 = 2 * f1, f3_2 = 2 * f3, f5_2 = 2 * f5, f7_2 = 2 * f7, f9_2 = 2 * f9;
  int64_t g1_19 = 19 * g1, g2_19 = 19 * g2, g3_19 = 19 * g3, g4_19 = 19 * g4, g5_19 = 19 * g5;
  int64_t g6_19 = 19 * g6, g7_19 = 19 * g7, g8_19 = 19 * g8, g9_19 = 19 * g9;
  int64_t h0 = f0 * g0 + f1_2 * g9_19 + f2 * g8_19 + f3_2 * g7_19 + f4 * g6_19 + f5_2 * g5_19 + f6 * g4_19 + f7_2 * g3_19 + f8 * g2_19 + f9_2 * g1_19;
  int64_t h1 = f0 * g1 + f1 * g0 + f2 * g9_19 + f3 * g8_19 + f4 * g7_19 + f5 * g6_19 + f6 * g5_19 + f7 * g4_19 + f8 * g3_19 + f9 * g2_19;
  int64_t h2 = f0 * g2 + f1_2 * g1 + f2 * g0 + f3_2 * g9_19 + f4 * g8_19 + f5_2 * g7_19 + f6 * g6_19 + f7_2 * g5_19 + f8 * g4_19 + f9_2 * g3_19;
  int64_t h3 = f0 * g3 + f1 * g2 + f2 * g1 + f3 * g0 + f4 * g9_19 + f5 * g8_19 + f6 * g7_19 + f7 * g6_19 + f8 * g5_19 + f9 * g4_19;
  int64_t h4 = f0 * g4 + f1_2 * g3 + f2 * g2 + f3_2 * g1 + f4 * g0 + f5_2 * g9_19 + f6 * g8_19 + f7_2 * g7_19 + f8 * g6_19 + f9_2 * g5_19;
  int64_t h5 = f0 * g5 + f1 * g4 + f2 * g3 + f3 * g2 + f4 * g1 + f5 * g0 + f6 * g9_19 + f7 * g8_19 + f8 * g7_19 + f9 * g6_19;
  int64_t h6 = f0 * g6 + f1_2 * g5 + f2 * g4 + f3_2 * g3 + f4 * g2 + f5_2 * g1 + f6 * g0 + f7_2 * g9_19 + f8 * g8_19 + f9_2 * g7_19;
  int64_t h7 = f0 * g7 + f1 * g6 + f2 * g5 + f3 * g4 + f4 * g3 + f5 * g2 + f6 * g1 + f7 * g0 + f8 * g9_19 + f9 * g8_19;
  int64_t h8 = f0 * g8 + f1_2 * g7 + f2 * g6 + f3_2 * g5 + f4 * g4 + f5_2 * g3 + f6 * g2 + f7_2 * g1 + f8 * g0 + f9_2 * g9_19;
  int64_t h9 = f0 * g9 + f1 * g8 + f2 * g7 + f3 * g6 + f4 * g5 + f5 * g4 + f6 * g3 + f7 * g2 + f8 * g1 + f9 * g0;
  int64_t h[10] = {h0, h1, h2, h3, h4, h5, h6, h7, h8, h9};
  return carryProduct(h);
}

FieldElement square(const FieldElement& a) {
  // As mul(a, a), with each product f_i·f_j (i < j) taken once and doubled.
  int64_t f0 = a.limb[0], f1 = a.limb[1], f2 = a.limb[2], f3 = a.limb[3], f4 = a.limb[4];
  int64_t f5 = a.limb[5], f6 = a.limb[6], f7 = a.limb[7], f8 = a.limb[8], f9 = a.limb[9];
  int64_t f0_2 = 2 * f0, f1_2 = 2 * f1, f2_2 = 2 * f2, f3_2 = 2 * f3, f4_2 = 2 * f4;
  int64_t f5_2 = 2 * f5, f6_2 = 2 * f6, f7_2 = 2 * f7, f8_2 = 2 * f8, f9_2 = 2 * f9;
  int64_t f1_4 = 4 * f1, f3_4 = 4 * f3, f5_4 = 4 * f5, f7_4 = 4 * f7;
  int64_t f5_19 = 19 * f5, f6_19 = 19 * f6, f7_19 = 19 * f7, f8_19 = 19 * f8, f9_19 = 19 * f9;
  int64_t h0 = f0 * f0 + f1_4 * f9_19 + f2_2 * f8_19 + f3_4 * f7_19 + f4_2 * f6_19 + f5_2 * f5_19;
  int64_t h1 = f0_2 * f1 + f2_2 * f9_19 + f3_2 * f8_19 + f4_2 * f7_19 + f5_2 * f6_19;
  int64_t h2 = f0_2 * f2 + f1_2 * f1 + f3_4 * f9_19 + f4_2 * f8_19 + f5_4 * f7_19 + f6 * f6_19;
  int64_t h3 = f0_2 * f3 + f1_2 * f2 + f4_2 * f9_19 + f5_2 * f8_19 + f6_2 * f7_19;
  int64_t h4 = f0_2 * f4 + f1_4 * f3 + f2 * f2 + f5_4 * f9_19 + f6_2 * f8_19 + f7_2 * f7_19;
  int64_t h5 = f0_2 * f5 + f1_2 * f4 + f2_2 * f3 + f6_2 * f9_19 + f7_2 * f8_19;
  int64_t h6 = f0_2 * f6 + f1_4 * f5 + f2_2 * f4 + f3_2 * f3 + f7_4 * f9_19 + f8 * f8_19;
  int64_t h7 = f0_2 * f7 + f1_2 * f6 + f2_2 * f5 + f3_2 * f4 + f8_2 * f9_19;
  int64_t h8 = f0_2 * f8 + f1_4 * f7 + f2_2 * f6 + f3_4 * f5 + f4 * f4 + f9_2 * f9_19;
  int64_t h9 = f0_2 * f9 + f1_2 * f8 + f2_2 * f7 + f3_2 * f6 + f4_2 * f5;
  int64_t h[10] = {h0, h1, h2, h3, h4, h5, h6, h7, h8, h9};
  return carryProduct(h);
}

FieldElement mulSmall(const FieldElement& a, uint32_t k) {
  int64_t h[10];
  for (int i = 0; i < 10; ++i) h[i] = int64_t{a.limb[i]} * k;
  return carryProduct(h);
}

FieldElement pow2523(const FieldElement& z) { return powChain(z, false); }
FieldElement invert(const FieldElement& z) { return powChain(z, true); }

bool needsFinalReduction(const FieldElement& a) {
  if (a.limb[9] > 0x1FFFFFF) return true;
  for (int i = 1; i < 10; ++i) {
    if (a.limb[i] != lowMask(kWidth[i])) return false;
  }
  return a.limb[0] >= 0x3FFFFED;
}

int parity(const FieldElement& a) {
  FieldElement r = reduceLimbs(a);
  return (needsFinalReduction(r) || r.limb[9] < 0) ^ (r.limb[0] & 1);
}

void fromBytes(FieldElement& out, const uint8_t bytes[32]) {
  int offset = 0;
  for (int i = 0; i < 10; ++i) {
    int width = i == 9 ? 26 : kWidth[i];  // the top limb takes bit 255 too
    out.limb[i] = static_cast<int32_t>(bitsAt(bytes, offset, width));
    offset += kWidth[i];
  }
}

Bytes32 toBytes(const FieldElement& a) {
  FieldElement r = reduceLimbs(a);
  // Subtract k·p, with k = 1 for a value in [p, 2p) and -1 for a negative one.
  int k = (needsFinalReduction(r) ? 1 : 0) - (r.limb[9] < 0 ? 1 : 0);
  int64_t h[10];
  for (int i = 0; i < 10; ++i) h[i] = r.limb[i];
  h[0] += 19 * k;
  h[9] -= k * (int64_t{1} << 25);
  carryThrough(h);
  Bytes32 out{};
  uint64_t pending = 0;
  int pendingBits = 0;
  size_t next = 0;
  for (int i = 0; i < 10; ++i) {
    pending |= static_cast<uint64_t>(h[i]) << pendingBits;
    pendingBits += kWidth[i];
    for (; pendingBits >= 8; pendingBits -= 8, pending >>= 8) out[next++] = pending & 0xFF;
  }
  out[next] = pending & 0xFF;  // the last 7 bits
  return out;
}

FieldElement squareRoot(const FieldElement& a) { return squareRootOf(a); }
void ladderDouble(FieldElement& x, FieldElement& z) { doubleStep(x, z); }
void differentialAdd(FieldElement& x, FieldElement& z, const FieldElement& sumP,
                     const FieldElement& differenceP, const FieldElement& sumR,
                     const FieldElement& differenceR, const FieldElement& u) {
  addStep(x, z, sumP, differenceP, sumR, differenceR, u);
}
void differentialAdd(FieldElement& x, FieldElement& z, const FieldElement& sumP,
                     const FieldElement& differenceP, const FieldElement& sumR,
                     const FieldElement& differenceR, uint32_t u) {
  addStep(x, z, sumP, differenceP, sumR, differenceR, u);
}

// ---- Five limbs ----

#if defined(HAVE_FIELD_ELEMENT51)

FieldElement51 mul(const FieldElement51& a, const FieldElement51& b) {
  // Products at 2^255 and above fold back times 19; with limbs below 2^56 each
  // column stays below 2^119.
  const uint64_t* f = a.limb;
  const uint64_t* g = b.limb;
  uint64_t g1 = 19 * g[1], g2 = 19 * g[2], g3 = 19 * g[3], g4 = 19 * g[4];
  Wide t0 = Wide{f[0]} * g[0] + Wide{f[1]} * g4 + Wide{f[2]} * g3 + Wide{f[3]} * g2 +
            Wide{f[4]} * g1;
  Wide t1 = Wide{f[0]} * g[1] + Wide{f[1]} * g[0] + Wide{f[2]} * g4 + Wide{f[3]} * g3 +
            Wide{f[4]} * g2;
  Wide t2 = Wide{f[0]} * g[2] + Wide{f[1]} * g[1] + Wide{f[2]} * g[0] + Wide{f[3]} * g4 +
            Wide{f[4]} * g3;
  Wide t3 = Wide{f[0]} * g[3] + Wide{f[1]} * g[2] + Wide{f[2]} * g[1] + Wide{f[3]} * g[0] +
            Wide{f[4]} * g4;
  Wide t4 = Wide{f[0]} * g[4] + Wide{f[1]} * g[3] + Wide{f[2]} * g[2] + Wide{f[3]} * g[1] +
            Wide{f[4]} * g[0];
  return carryColumns(t0, t1, t2, t3, t4);
}

FieldElement51 square(const FieldElement51& a) {
  const uint64_t* f = a.limb;
  uint64_t d0 = 2 * f[0], d1 = 2 * f[1];
  uint64_t f3x19 = 19 * f[3], f4x19 = 19 * f[4];
  Wide t0 = Wide{f[0]} * f[0] + Wide{d1} * f4x19 + Wide{2 * f[2]} * f3x19;
  Wide t1 = Wide{d0} * f[1] + Wide{2 * f[2]} * f4x19 + Wide{f[3]} * f3x19;
  Wide t2 = Wide{d0} * f[2] + Wide{f[1]} * f[1] + Wide{2 * f[3]} * f4x19;
  Wide t3 = Wide{d0} * f[3] + Wide{d1} * f[2] + Wide{f[4]} * f4x19;
  Wide t4 = Wide{d0} * f[4] + Wide{d1} * f[3] + Wide{f[2]} * f[2];
  return carryColumns(t0, t1, t2, t3, t4);
}

FieldElement51 mulSmall(const FieldElement51& a, uint32_t k) {
  return carryColumns(Wide{a.limb[0]} * k, Wide{a.limb[1]} * k, Wide{a.limb[2]} * k,
                      Wide{a.limb[3]} * k, Wide{a.limb[4]} * k);
}

FieldElement51 pow2523(const FieldElement51& z) { return powChain(z, false); }
FieldElement51 invert(const FieldElement51& z) { return powChain(z, true); }

bool needsFinalReduction(const FieldElement51& a) {
  // Adding 19 carries out of bit 255 exactly when the value is at least p.
  uint64_t carry = (a.limb[0] + 19) >> 51;
  for (int i = 1; i < 5; ++i) carry = (a.limb[i] + carry) >> 51;
  return carry != 0;
}

int parity(const FieldElement51& a) { return toBytes(a)[0] & 1; }

void fromBytes(FieldElement51& out, const uint8_t bytes[32]) {
  for (int i = 0; i < 5; ++i) out.limb[i] = bitsAt(bytes, 51 * i, i == 4 ? 52 : 51);
}

Bytes32 toBytes(const FieldElement51& a) {
  FieldElement51 r = reduceLimbs(a);
  // r is below 2p: subtract p once when it is at least p, by adding 19 and dropping
  // bit 255.
  uint64_t l[5] = {r.limb[0], r.limb[1], r.limb[2], r.limb[3], r.limb[4]};
  if (needsFinalReduction(r)) l[0] += 19;
  for (int i = 0; i < 4; ++i) {
    l[i + 1] += l[i] >> 51;
    l[i] &= kMask51;
  }
  l[4] &= kMask51;
  Bytes32 out{};
  uint64_t pending = 0;
  int pendingBits = 0;
  size_t next = 0;
  for (int i = 0; i < 5; ++i) {
    pending |= l[i] << pendingBits;
    pendingBits += 51;
    for (; pendingBits >= 8; pendingBits -= 8, pending >>= 8) out[next++] = pending & 0xFF;
  }
  out[next] = pending & 0xFF;
  return out;
}

FieldElement51 squareRoot(const FieldElement51& a) { return squareRootOf(a); }
void ladderDouble(FieldElement51& x, FieldElement51& z) { doubleStep(x, z); }
void differentialAdd(FieldElement51& x, FieldElement51& z, const FieldElement51& sumP,
                     const FieldElement51& differenceP, const FieldElement51& sumR,
                     const FieldElement51& differenceR, const FieldElement51& u) {
  addStep(x, z, sumP, differenceP, sumR, differenceR, u);
}
void differentialAdd(FieldElement51& x, FieldElement51& z, const FieldElement51& sumP,
                     const FieldElement51& differenceP, const FieldElement51& sumR,
                     const FieldElement51& differenceR, uint32_t u) {
  addStep(x, z, sumP, differenceP, sumR, differenceR, u);
}
#endif
