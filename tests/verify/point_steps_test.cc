#include <gtest/gtest.h>

#include <utility>

#include "verify/field_element.h"
#include "verify/test_vectors.h"

namespace {

// X25519 of RFC 7748 as a one-dimensional ladder over the point steps.
template <typename Element>
std::vector<uint8_t> x25519(std::vector<uint8_t> k, std::vector<uint8_t> u) {
  k[0] &= 0xF8;
  k[31] = (k[31] & 0x7F) | 0x40;
  u[31] &= 0x7F;
  Element base, x2, z2, x3, z3;
  fromBytes(base, u.data());
  x2.setSmall(1);
  z2.setSmall(0);
  x3 = base;
  z3.setSmall(1);
  for (int bit = 254; bit >= 0; --bit) {
    // (x2:z2) = n·base and (x3:z3) = (n + 1)·base for the bits above; the bit picks
    // which one doubles.
    bool one = (k[bit / 8] >> (bit % 8)) & 1;
    Element& xd = one ? x3 : x2;
    Element& zd = one ? z3 : z2;
    Element& xs = one ? x2 : x3;
    Element& zs = one ? z2 : z3;
    Element sum2 = add(x2, z2), difference2 = sub(x2, z2);
    Element sum3 = add(x3, z3), difference3 = sub(x3, z3);
    differentialAdd(xs, zs, sum3, difference3, sum2, difference2, base);
    ladderDouble(xd, zd);
  }
  Bytes32 out = toBytes(mul(x2, invert(z2)));
  return {out.begin(), out.end()};
}

template <typename Element>
class PointSteps : public ::testing::Test {};

#if defined(HAVE_FIELD_ELEMENT51)
using Forms = ::testing::Types<FieldElement, FieldElement51>;
#else
using Forms = ::testing::Types<FieldElement>;
#endif
TYPED_TEST_SUITE(PointSteps, Forms);

TYPED_TEST(PointSteps, LadderMatchesX25519VectorsAndIterations) {
  std::vector<uint8_t> k(32, 0), u(32, 0);
  k[0] = u[0] = 9;
  int done = 0, checked = 0;
  for (const auto& row : readVectorFile("x25519.txt")) {
    if (row[0] != "iterations") {
      EXPECT_EQ(toHex(x25519<TypeParam>(fromHex(row[0]), fromHex(row[1]))), row[2]);
    } else {
      // k, u = X25519(k, u), k, repeated.
      for (; done < std::stoi(row[1]); ++done) u = std::exchange(k, x25519<TypeParam>(k, u));
      EXPECT_EQ(toHex(k), row[2]) << row[1] << " iterations";
    }
    ++checked;
  }
  EXPECT_EQ(checked, 4);
}

}  // namespace
