#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Arithmetic modulo p = 2^255 - 19 and the two point steps of the Montgomery curve
// v^2 = u^3 + 486662 u^2 + u in projective (X:Z) form, used by the older signature
// scheme.
//
// Two representations with the same operations and the same values modulo p:
// - FieldElement: ten signed 32-bit limbs, radix 2^25.5 (limb i starts at bit
//   ceil(25.5 i); even limbs hold 26 bits, odd limbs 25), products in 32x32->64 bits.
//   This is the form for 32-bit routers.
// - FieldElement51: five unsigned 64-bit limbs, radix 2^51, products in 64x64->128
//   bits. Where the compiler has 128-bit integers it is the default, CurveElement.
//
// "Carried" below means a result of mul, square or mulSmall: every limb within its
// width, limb 1 a few bits over. add and sub never carry; each operation names the
// inputs it accepts.

using Bytes32 = std::array<uint8_t, 32>;

struct FieldElement {
  int32_t limb[10];
  // The value k, a small non-negative integer (below 2^25).
  void setSmall(uint32_t k) {
    limb[0] = static_cast<int32_t>(k);
    for (int i = 1; i < 10; ++i) limb[i] = 0;
  }
};

// Limb-wise sum of two carried values.
inline FieldElement add(const FieldElement& a, const FieldElement& b) {
  FieldElement r;
  for (int i = 0; i < 10; ++i) r.limb[i] = a.limb[i] + b.limb[i];
  return r;
}

// Limb-wise difference of two carried values; limbs may become negative.
inline FieldElement sub(const FieldElement& a, const FieldElement& b) {
  FieldElement r;
  for (int i = 0; i < 10; ++i) r.limb[i] = a.limb[i] - b.limb[i];
  return r;
}

// a·b mod p, carried. Limbs below 2^27 in magnitude: sums or differences of two
// carried values.
FieldElement mul(const FieldElement& a, const FieldElement& b);
// a^2 mod p, carried; input as for mul.
FieldElement square(const FieldElement& a);
// k·a mod p, carried; input as for mul. With k = 1 it only carries a.
FieldElement mulSmall(const FieldElement& a, uint32_t k);
// z^((p-5)/8) = z^(2^252 - 3), for square roots.
FieldElement pow2523(const FieldElement& z);
// z^(p-2): the inverse of z, and 0 for 0.
FieldElement invert(const FieldElement& z);
// For limbs 0..8 within their widths: whether the value is at least p (limb 9 over
// 25 bits, or every limb at its maximum and limb 0 at least 2^26 - 19).
bool needsFinalReduction(const FieldElement& a);
// Lowest bit of the canonical value (in 0..p-1).
int parity(const FieldElement& a);
// Little-endian; all 256 bits are taken, bit 255 as limb 9's 26th bit.
void fromBytes(FieldElement& out, const uint8_t bytes[32]);
// The canonical value in 0..p-1, little-endian.
Bytes32 toBytes(const FieldElement& a);

// Atkin's square root for p = 5 mod 8: with t = (2a)^((p-5)/8) and i = 2a·t^2, the
// root is a·t·(i - 1); it squares to a when a is a square. Either root may come out:
// callers choose by parity.
FieldElement squareRoot(const FieldElement& a);

// (X:Z) <- 2·(X:Z). Inputs carried.
void ladderDouble(FieldElement& x, FieldElement& z);

// (x:z) <- P + R, for points given by their sums X+Z and differences X-Z (computed by
// the caller before it replaces either point) and whose difference P - R has the
// affine u-coordinate u. Coordinates and u carried.
void differentialAdd(FieldElement& x, FieldElement& z, const FieldElement& sumP,
                     const FieldElement& differenceP, const FieldElement& sumR,
                     const FieldElement& differenceR, const FieldElement& u);
// The same for a small difference u, such as the base point's 9.
void differentialAdd(FieldElement& x, FieldElement& z, const FieldElement& sumP,
                     const FieldElement& differenceP, const FieldElement& sumR,
                     const FieldElement& differenceR, uint32_t u);

#if defined(__SIZEOF_INT128__)
#define HAVE_FIELD_ELEMENT51 1

struct FieldElement51 {
  uint64_t limb[5];
  void setSmall(uint32_t k) {
    limb[0] = k;
    for (int i = 1; i < 5; ++i) limb[i] = 0;
  }
};

using CurveElement = FieldElement51;

// Limb-wise sum.
inline FieldElement51 add(const FieldElement51& a, const FieldElement51& b) {
  FieldElement51 r;
  for (int i = 0; i < 5; ++i) r.limb[i] = a.limb[i] + b.limb[i];
  return r;
}

// a - b + 4p limb-wise, so that limbs stay positive: b's limbs below 2^53 - 76
// (carried values or sums of two).
inline FieldElement51 sub(const FieldElement51& a, const FieldElement51& b) {
  constexpr uint64_t fourP0 = (uint64_t{1} << 53) - 76;
  constexpr uint64_t fourP = (uint64_t{1} << 53) - 4;
  return FieldElement51{{a.limb[0] + fourP0 - b.limb[0], a.limb[1] + fourP - b.limb[1],
                         a.limb[2] + fourP - b.limb[2], a.limb[3] + fourP - b.limb[3],
                         a.limb[4] + fourP - b.limb[4]}};
}

// As for the ten-limb form; inputs of mul, square and mulSmall have limbs below 2^56.
FieldElement51 mul(const FieldElement51& a, const FieldElement51& b);
FieldElement51 square(const FieldElement51& a);
FieldElement51 mulSmall(const FieldElement51& a, uint32_t k);
FieldElement51 pow2523(const FieldElement51& z);
FieldElement51 invert(const FieldElement51& z);
// For limbs 0..3 below 2^51: whether the value is at least p.
bool needsFinalReduction(const FieldElement51& a);
int parity(const FieldElement51& a);
void fromBytes(FieldElement51& out, const uint8_t bytes[32]);
Bytes32 toBytes(const FieldElement51& a);
FieldElement51 squareRoot(const FieldElement51& a);
void ladderDouble(FieldElement51& x, FieldElement51& z);
void differentialAdd(FieldElement51& x, FieldElement51& z, const FieldElement51& sumP,
                     const FieldElement51& differenceP, const FieldElement51& sumR,
                     const FieldElement51& differenceR, const FieldElement51& u);
void differentialAdd(FieldElement51& x, FieldElement51& z, const FieldElement51& sumP,
                     const FieldElement51& differenceP, const FieldElement51& sumR,
                     const FieldElement51& differenceR, uint32_t u);

#else
using CurveElement = FieldElement;
#endif
