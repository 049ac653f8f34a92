#include "verify/field_element.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <random>
#include <utility>

#include "verify/test_vectors.h"

namespace {

using Number = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

// The independent model of the field: OpenSSL big numbers modulo p.
class Reference {
 public:
  Reference() {
    BN_set_bit(p_.get(), 255);
    BN_sub_word(p_.get(), 19);
  }
  // op(a, b) mod p, op one of BN_mod_add, BN_mod_sub, BN_mod_mul and BN_mod_exp.
  template <typename Operation>
  Bytes32 operator()(Operation op, const Bytes32& a, const Bytes32& b) const {
    Number r(BN_new(), BN_free), x(BN_lebin2bn(a.data(), 32, nullptr), BN_free),
        y(BN_lebin2bn(b.data(), 32, nullptr), BN_free);
    op(r.get(), x.get(), y.get(), p_.get(), context_.get());
    Bytes32 out{};
    BN_bn2lebinpad(r.get(), out.data(), 32);
    return out;
  }

 private:
  std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> context_{BN_CTX_new(), BN_CTX_free};
  Number p_{BN_new(), BN_free};
};

Bytes32 small(uint32_t k) {
  return Bytes32{uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
}

// p + delta, in the limbs fromBytes makes of it (every limb at its maximum but the lowest).
Bytes32 nearP(int delta) {
  Bytes32 out;
  out.fill(0xFF);
  out[31] = 0x7F;
  out[0] = static_cast<uint8_t>(0xED + delta);
  return out;
}

template <typename Element>
Element element(const Bytes32& bytes) {
  Element e;
  fromBytes(e, bytes.data());
  return e;
}

// Pairs of edges (0, 1 and 2; p - 2 to p + 1; 2^255 and 2^256 - 1, as all 256 bits are
// taken) and random values.
std::vector<std::pair<Bytes32, Bytes32>> testPairs() {
  std::mt19937_64 random(1);
  const auto any = [&] {
    Bytes32 value;
    for (uint8_t& b : value) b = static_cast<uint8_t>(random());
    return value;
  };
  Bytes32 all, top{};
  all.fill(0xFF);
  top[31] = 0x80;
  // Differences whose top limb is negative beyond what the lower limbs make up for:
  // p - 14 and, from a negative lowest limb, p - 1.
  std::vector<std::pair<Bytes32, Bytes32>> pairs = {{small(5), top}, {top, small(20)}};
  for (const Bytes32& edge :
       {small(0), small(1), small(2), nearP(-2), nearP(-1), nearP(0), nearP(1), all, top})
    pairs.push_back({edge, any()});
  while (pairs.size() < 200) pairs.push_back({any(), any()});
  return pairs;
}

// X25519 of RFC 7748 as a one-dimensional ladder over the point steps.
template <typename Element>
std::vector<uint8_t> x25519(std::vector<uint8_t> k, std::vector<uint8_t> u) {
  k[0] &= 0xF8;
  k[31] = (k[31] & 0x7F) | 0x40;
  u[31] &= 0x7F;
  Element base, x[2], z[2];
  fromBytes(base, u.data());
  x[0].setSmall(1);
  z[0].setSmall(0);
  x[1] = base;
  z[1].setSmall(1);
  for (int bit = 254; bit >= 0; --bit) {
    // x[0]:z[0] = n·base and x[1]:z[1] = (n + 1)·base for the bits above; the bit
    // picks which one doubles.
    const int one = (k[bit / 8] >> (bit % 8)) & 1;
    Element sum0 = add(x[0], z[0]), difference0 = sub(x[0], z[0]);
    Element sum1 = add(x[1], z[1]), difference1 = sub(x[1], z[1]);
    differentialAdd(x[1 - one], z[1 - one], sum1, difference1, sum0, difference0, base);
    ladderDouble(x[one], z[one]);
  }
  Bytes32 out = toBytes(mul(x[0], invert(z[0])));
  return {out.begin(), out.end()};
}

template <typename Element>
class FieldElementForms : public ::testing::Test {};
TYPED_TEST_SUITE(FieldElementForms, FieldForms);

TYPED_TEST(FieldElementForms, OperationsAgreeWithBigNumbers) {
  using E = TypeParam;
  const Reference reference;
  Bytes32 exponent2523;  // 2^252 - 3
  exponent2523.fill(0xFF);
  exponent2523[0] = 0xFD;
  exponent2523[31] = 0x0F;
  EXPECT_TRUE(needsFinalReduction(element<E>(nearP(0))));
  EXPECT_FALSE(needsFinalReduction(element<E>(nearP(-1))));
  for (const auto& [a, b] : testPairs()) {
    const E ea = element<E>(a), eb = element<E>(b);
    SCOPED_TRACE(toHex(a) + " " + toHex(b));
    const Bytes32 canonical = reference(BN_mod_add, a, small(0));
    EXPECT_EQ(toBytes(ea), canonical);
    EXPECT_EQ(parity(ea), canonical[0] & 1);
    EXPECT_EQ(toBytes(mul(ea, eb)), reference(BN_mod_mul, a, b));
    EXPECT_EQ(toBytes(square(ea)), reference(BN_mod_mul, a, a));
    EXPECT_EQ(toBytes(invert(ea)), reference(BN_mod_exp, a, nearP(-2)));
    EXPECT_EQ(toBytes(pow2523(ea)), reference(BN_mod_exp, a, exponent2523));
    for (uint32_t k : {1u, 121665u, 0xFFFFFFFFu})
      EXPECT_EQ(toBytes(mulSmall(ea, k)), reference(BN_mod_mul, a, small(k))) << k;
    // Sums and differences of two values are valid inputs of toBytes, parity and mul.
    const Bytes32 sum = reference(BN_mod_add, a, b), difference = reference(BN_mod_sub, a, b);
    EXPECT_EQ(toBytes(add(ea, eb)), sum);
    EXPECT_EQ(toBytes(sub(ea, eb)), difference);
    EXPECT_EQ(parity(sub(ea, eb)), difference[0] & 1);
    EXPECT_EQ(toBytes(mul(add(ea, eb), sub(ea, eb))), reference(BN_mod_mul, sum, difference));
    // Either root may come out of squareRoot; it squares back.
    const E squared = square(ea);
    EXPECT_EQ(toBytes(square(squareRoot(squared))), toBytes(squared));
  }
  const E root = squareRoot(element<E>(small(4)));
  EXPECT_TRUE(toBytes(root) == small(2) || toBytes(root) == nearP(-2));
}

TYPED_TEST(FieldElementForms, LadderMatchesX25519VectorsAndIterations) {
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
