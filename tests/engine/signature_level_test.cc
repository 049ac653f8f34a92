#include "engine/signature_level.h"

#include <gtest/gtest.h>

#include "model/package.h"
#include "support/scratch_root.h"

namespace {

// Both sides of every edge of the version bands; "branding" is level 1 at any version.
const struct {
  const char* name;
  Version version;
  int level;
} kCases[] = {
    {"branding", 0x062E6609, 1}, {"branding", 0xFFFFFFFF, 1}, {"brandingx", 0x062E6609, 2},
    {"system", 0, 1},            {"system", 0x062E6608, 1},   {"system", 0x062E6609, 2},
    {"system", 0x062EFFFF, 2},   {"system", 0x062F0000, 1},   {"system", 0x06306600, 1},
    {"system", 0x06306601, 2},   {"system", 0x06FFFFFF, 2},   {"system", 0x07000000, 1},
    {"system", 0x07016203, 1},   {"system", 0x07016204, 2},   {"system", 0xFFFFFFFF, 2},
};

Package package(const char* name, Version version) {
  Package p(name);
  p.version = version;
  return p;
}

TEST(SignatureLevel, VersionBandsAndBranding) {
  for (const auto& c : kCases)
    EXPECT_EQ(signatureLevelFor(package(c.name, c.version)), c.level)
        << c.name << ' ' << std::hex << c.version;
}

// "/ram/SECURE" asks level 2 of every package, "branding" and old versions included.
TEST(SignatureLevel, SecureMarkerRequiresLevelTwo) {
  ScratchRoot plain, secure;
  secure.write("ram/SECURE", "");
  for (const ScratchRoot* root : {&plain, &secure}) {
    const bool marked = root == &secure;
    EXPECT_TRUE(inRoot(*root, [&] {
      for (const auto& c : kCases)
        EXPECT_EQ(requiredSignatureLevel(package(c.name, c.version)), marked ? 2 : c.level)
            << c.name << ' ' << std::hex << c.version << (marked ? " secure" : "");
    }));
  }
}

}  // namespace
