#include "engine/signature_level.h"

#include <gtest/gtest.h>

#include "model/package.h"
#include "support/scratch_root.h"

namespace {

// Both sides of every edge of the version bands; "branding" is level 1 at any version.
const std::tuple<const char*, Version, int> kCases[] = {
    {"branding", 0x062E6609, 1}, {"branding", 0xFFFFFFFF, 1}, {"brandingx", 0x062E6609, 2},
    {"system", 0, 1},            {"system", 0x062E6608, 1},   {"system", 0x062E6609, 2},
    {"system", 0x062EFFFF, 2},   {"system", 0x062F0000, 1},   {"system", 0x06306600, 1},
    {"system", 0x06306601, 2},   {"system", 0x06FFFFFF, 2},   {"system", 0x07000000, 1},
    {"system", 0x07016203, 1},   {"system", 0x07016204, 2},   {"system", 0xFFFFFFFF, 2},
};

// "/ram/SECURE" asks level 2 of every package, "branding" and old versions included.
TEST(SignatureLevel, VersionBandsBrandingAndTheSecureMarker) {
  ScratchRoot plain, secure;
  secure.write("ram/SECURE", "");
  for (const ScratchRoot* root : {&plain, &secure}) {
    const bool marked = root == &secure;
    EXPECT_TRUE(inRoot(*root, [&] {
      for (const auto& [name, version, level] : kCases) {
        Package package(name);
        package.version = version;
        EXPECT_EQ(requiredSignatureLevel(package), marked ? 2 : level)
            << name << ' ' << std::hex << version << (marked ? " secure" : "");
        EXPECT_EQ(signatureLevelFor(package), level) << name << ' ' << std::hex << version;
      }
    }));
  }
}

}  // namespace
