#include "verify/field_element.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <cstdlib>
#include <memory>
#include <random>

#include "verify/test_vectors.h"

namespace {

// The independent model of the field: OpenSSL big numbers modulo p.
class Reference {
 public:
  using Number = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
  static Number number() { return Number(BN_new(), BN_free); }

  Reference() {
    BN_set_bit(p_.get(), 255);
    BN_sub_word(p_.get(), 19);
  }
  Bytes32 canonical(Number n) const {
    BN_nnmod(n.get(), n.get(), p_.get(), context_.get());
    Bytes32 out{};
    BN_bn2lebinpad(n.get(), out.data(), 32);
    return out;
  }
  Number of(const Bytes32& bytes) const {
    return Number(BN_lebin2bn(bytes.data(), 32, nullptr), BN_free);
  }
  Bytes32 canonical(const Bytes32& a) const { return canonical(of(a)); }
  Bytes32 mul(const Bytes32& a, const Bytes32& b) const { return apply(BN_mod_mul, a, b); }
  Bytes32 add(const Bytes32& a, const Bytes32& b) const { return apply(BN_mod_add, a, b); }
  Bytes32 sub(const Bytes32& a, const Bytes32& b) const { return apply(BN_mod_sub, a, b); }
  // a^(2^bit - subtrahend).
  Bytes32 power(const Bytes32& a, int bit, unsigned subtrahend) const {
    Number e = number(), r = number();
    BN_set_bit(e.get(), bit);
    BN_sub_word(e.get(), subtrahend);
    BN_mod_exp(r.get(), of(a).get(), e.get(), p_.get(), context_.get());
    return canonical(std::move(r));
  }

 private:
  template <typename Operation>
  Bytes32 apply(Operation operation, const Bytes32& a, const Bytes32& b) const {
    Number r = number(), x = of(a), y = of(b);
    operation(r.get(), x.get(), y.get(), p_.get(), context_.get());
    return canonical(std::move(r));
  }
  std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> context_{BN_CTX_new(), BN_CTX_free};
  Number p_ = number();
};

Bytes32 small(uint32_t k) {
  return Bytes32{uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
}

// p + delta for a small delta.
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

// Edges around 0, p, 2^255 and 2^256 (all 256 bits are taken), then random values.
std::vector<Bytes32> testValues(uint64_t seed) {
  Bytes32 all, top{};
  all.fill(0xFF);
  top[31] = 0x80;
  std::vector<Bytes32> values = {small(0), small(1), nearP(-1), nearP(0), nearP(1), all, top};
  std::mt19937_64 random(seed);
  while (values.size() < 80) {
    for (uint8_t& b : values.emplace_back()) b = static_cast<uint8_t>(random());
  }
  return values;
}

template <typename Element>
class FieldElementForms : public ::testing::Test {};

// p in limb form: every limb at its maximum, the lowest 19 below it.
FieldElement limbsOfP(FieldElement*) {
  return FieldElement{{0x3FFFFED, 0x1FFFFFF, 0x3FFFFFF, 0x1FFFFFF, 0x3FFFFFF, 0x1FFFFFF,
                       0x3FFFFFF, 0x1FFFFFF, 0x3FFFFFF, 0x1FFFFFF}};
}
#if defined(HAVE_FIELD_ELEMENT51)
FieldElement51 limbsOfP(FieldElement51*) {
  constexpr uint64_t max = (uint64_t{1} << 51) - 1;
  return FieldElement51{{max - 18, max, max, max, max}};
}
using Forms = ::testing::Types<FieldElement, FieldElement51>;
#else
using Forms = ::testing::Types<FieldElement>;
#endif
TYPED_TEST_SUITE(FieldElementForms, Forms);

TYPED_TEST(FieldElementForms, EdgeCases) {
  using E = TypeParam;
  E p = limbsOfP(static_cast<E*>(nullptr)), zero, one, two, four;
  zero.setSmall(0);
  one.setSmall(1);
  two.setSmall(2);
  four.setSmall(4);
  E pPlusOne = p, pMinusOne = p, pMinusTwo = p;
  pPlusOne.limb[0] += 1;
  pMinusOne.limb[0] -= 1;
  pMinusTwo.limb[0] -= 2;
  EXPECT_TRUE(needsFinalReduction(p));
  EXPECT_FALSE(needsFinalReduction(pMinusOne));
  EXPECT_EQ(toBytes(p), small(0));
  EXPECT_EQ(toBytes(pPlusOne), small(1));
  EXPECT_EQ(parity(pMinusOne), 0);
  EXPECT_EQ(parity(pMinusTwo), 1);
  EXPECT_EQ(toBytes(invert(zero)), small(0));
  EXPECT_EQ(toBytes(invert(one)), small(1));
  EXPECT_EQ(toBytes(mul(invert(two), two)), small(1));

  E root = squareRoot(four);
  EXPECT_TRUE(toBytes(root) == small(2) || toBytes(root) == nearP(-2));
  EXPECT_EQ(toBytes(parity(root) ? sub(zero, root) : root), small(2));
  for (const Bytes32& value : testValues(7)) {
    E squared = square(element<E>(value));
    EXPECT_EQ(toBytes(square(squareRoot(squared))), toBytes(squared));
  }
}

TYPED_TEST(FieldElementForms, OperationsAgreeWithBigNumbers) {
  using E = TypeParam;
  Reference reference;
  std::vector<Bytes32> values = testValues(1), others = testValues(2);
  for (size_t i = 0; i < values.size(); ++i) {
    const Bytes32 &a = values[i], &b = others[values.size() - 1 - i];
    E ea = element<E>(a), eb = element<E>(b);
    SCOPED_TRACE(toHex(a) + " " + toHex(b));
    EXPECT_EQ(toBytes(ea), reference.canonical(a));
    EXPECT_EQ(parity(ea), reference.canonical(a)[0] & 1);
    EXPECT_EQ(toBytes(mul(ea, eb)), reference.mul(a, b));
    EXPECT_EQ(toBytes(square(ea)), reference.mul(a, a));
    EXPECT_EQ(toBytes(invert(ea)), reference.power(a, 255, 21));
    EXPECT_EQ(toBytes(pow2523(ea)), reference.power(a, 252, 3));
    for (uint32_t k : {1u, 121665u, 0xFFFFFFFFu})
      EXPECT_EQ(toBytes(mulSmall(ea, k)), reference.mul(a, small(k))) << k;
    // Sums and differences of two values are valid inputs of mul.
    EXPECT_EQ(toBytes(mul(add(ea, eb), sub(ea, eb))),
              reference.mul(reference.add(a, b), reference.sub(a, b)));
    EXPECT_EQ(parity(sub(ea, eb)), reference.sub(a, b)[0] & 1);
  }
}

// Subtractions leave negative limbs, also a negative top limb that the lower limbs
// cannot make up for; the canonical forms must still come out right.
TEST(FieldElement, SignedLimbsReduceToCanonicalValue) {
  std::vector<FieldElement> cases = {{{5, 0, 0, 0, 0, 0, 0, 0, 0, -(1 << 25)}},  // p - 14
                                     {{-20, 0, 0, 0, 0, 0, 0, 0, 0, 1 << 25}}};  // p - 1
  std::mt19937 random(9);
  for (int n = 0; n < 200; ++n) {
    FieldElement& f = cases.emplace_back();
    for (int32_t& limb : f.limb) limb = static_cast<int32_t>(random() % (1u << 27)) - (1 << 26);
  }
  Reference reference;
  for (const FieldElement& f : cases) {
    Reference::Number sum = Reference::number(), term = Reference::number();
    for (int i = 0; i < 10; ++i) {
      BN_set_word(term.get(), static_cast<BN_ULONG>(std::abs(int64_t{f.limb[i]})));
      BN_lshift(term.get(), term.get(), 25 * i + (i + 1) / 2);  // limb i starts at bit ceil(25.5 i)
      BN_set_negative(term.get(), f.limb[i] < 0);
      BN_add(sum.get(), sum.get(), term.get());
    }
    Bytes32 expected = reference.canonical(std::move(sum));
    EXPECT_EQ(toBytes(f), expected) << f.limb[0] << " " << f.limb[9];
    EXPECT_EQ(parity(f), expected[0] & 1) << f.limb[0] << " " << f.limb[9];
  }
}

}  // namespace
