// Writes the seed corpus of every fuzz target: a few package and bundle files made
// and signed with the package tool's own builder and signer (the development keys),
// and small inputs in each other target's own layout.
//
// usage: seed_corpus KEYDIR OUTDIR   (OUTDIR/<target>/<seed> for each target)

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "changes/change_set.h"
#include "model/package.h"
#include "pkgfile/package_format.h"
#include "pkgtool/file_io.h"
#include "pkgtool/key_files.h"
#include "pkgtool/package_builder.h"
#include "pkgtool/package_signer.h"

namespace {

constexpr Version kVersion6423 = 0x062A6603;  // 6.42.3
constexpr Version kVersion6410 = 0x06296600;  // 6.41

std::string outDir;
bool failed = false;

void writeSeed(const std::string& target, const std::string& name, const std::string& bytes) {
  const std::string directory = outDir + "/" + target;
  makeDirectories(directory);
  if (!writeWholeFile(directory + "/" + name, bytes)) {
    std::fprintf(stderr, "seed_corpus: cannot write %s/%s\n", directory.c_str(), name.c_str());
    failed = true;
  }
}

Package meta(const std::string& name, Version version) {
  Package package(name);
  package.version = version;
  package.buildTime = 1700000000;
  package.architecture = "i386";
  return package;
}

std::vector<ContainerEntry> sampleFiles() {
  return {
      {"bin/probe", kRegularFileType | 0755, "#!/bin/sh\necho probe\n", 0},
      {"etc", kDirectoryType | 0755, "", 0},
      {"etc/probe.conf", kRegularFileType | 0644, "level=3\n", 0},
      {"lib/libprobe.so", kSymlinkType | 0777, "libprobe.so.1", 0},
      {"/var/probe/state", kRegularFileType | 0600, std::string(300, 'x'), 0},
      {"skipped", kRegularFileType | 0644, "passed over", 1},
  };
}

PackageLayout plainLayout() {
  PackageLayout layout;
  layout.meta = meta("probe", kVersion6423);
  layout.files = sampleFiles();
  return layout;
}

PackageLayout richLayout() {
  PackageLayout layout;
  layout.meta = meta("wifi-pack", kVersion6410);
  layout.meta.flags = STATE_ONLY | 0x100;
  layout.meta.part24Text = "board";
  layout.meta.part2Text = "text";
  layout.meta.note = "wireless drivers";
  layout.meta.dependencies = {{"system", kVersion6410, kVersion6423, 0}};
  layout.meta.provides = {{"wireless", kVersion6410, 0, 5}};
  layout.meta.conflicts = {{"old-wifi", 0, kVersion6410, 0}};
  layout.files = {{"lib/modules/wifi.ko", kRegularFileType | 0644, std::string(2000, 'w'), 0}};
  return layout;
}

PackageLayout payloadLayout() {
  PackageLayout layout;
  layout.meta = meta("dude", kVersion6423);
  layout.hasPayload = true;
  layout.payload = "opaque payload";
  layout.digestSwitch = DigestSwitch::AfterHeader;
  return layout;
}

std::string signedFile(std::string file, const SigningKeys& keys, SignatureForms forms,
                       bool sha256) {
  SignOptions options;
  options.forms = forms;
  options.sha256 = sha256;
  if (signPackageFile(file, keys, options) != SignStatus::Signed) {
    std::fprintf(stderr, "seed_corpus: cannot sign a seed package\n");
    failed = true;
  }
  return file;
}

// The package and bundle files the reader, discovery and signature targets start from.
std::vector<std::pair<std::string, std::string>> packageFiles(const SigningKeys& keys) {
  BundleLayout bundle;
  bundle.meta = meta("routeros", kVersion6423);
  bundle.entryTable = {{"probe", kVersion6423, kVersion6423, 0}};
  bundle.members = {plainLayout(), richLayout()};
  return {
      {"plain.zpk", signedFile(buildPackageFile(plainLayout()), keys, SignatureForms::Both, false)},
      {"rich-sha256.zpk",
       signedFile(buildPackageFile(richLayout()), keys, SignatureForms::Both, true)},
      {"legacy-only.zpk",
       signedFile(buildPackageFile(plainLayout(), kAltPackageMagic), keys,
                  SignatureForms::LegacyOnly, false)},
      {"payload.zpk",
       signedFile(buildPackageFile(payloadLayout()), keys, SignatureForms::Both, false)},
      {"bundle.zpk", signedFile(buildBundleFile(bundle), keys, SignatureForms::Both, false)},
      {"unsigned.zpk", buildPackageFile(plainLayout())},
  };
}

void writeContainerSeeds() {
  const std::string container = encodeContainer(sampleFiles());
  writeSeed("file_container_fuzz", "inflated", std::string(1, '\x01') + container);
  writeSeed("file_container_fuzz", "inflated-disabled", std::string(1, '\x03') + container);
  writeSeed("file_container_fuzz", "deflated", std::string(1, '\x00') + deflateBytes(container));
  writeSeed("file_container_fuzz", "deflated-short",
            std::string(1, '\x04') + deflateBytes(container));
  const std::string oneFile = encodeContainer({{"a", kRegularFileType | 0644, "data", 0}});
  writeSeed("file_container_fuzz", "one-file", std::string(1, '\x01') + oneFile);
}

void writeManifestSeeds() {
  writeSeed("manifest_fuzz", "moves",
            "M /flash/bin/probe /flash/tmpA1b2C3\n"
            "L /flash/lib/libprobe.so libprobe.so.1\n"
            "U /flash/var/pdb/old\n");
  writeSeed("manifest_fuzz", "escapes",
            "M /flash/a\\040b /ram/tmp\\011x\n"
            "L /flash/c\\134d e\\012f\n"
            "\n"
            "U /flash/after-the-end\n");
  writeSeed("manifest_fuzz", "other-kinds", "X ignored line\nU /flash/x\n");
}

// Files in the database target's order: version, deps, provides, conflicts, bundle,
// files, disabled, enabled, schedule, image.
std::string databaseSeed(unsigned presence, unsigned nameIndex,
                         const std::vector<std::string>& files) {
  const unsigned control = presence | (nameIndex << 10);
  std::string out;
  out += static_cast<char>(control & 0xFF);
  out += static_cast<char>(control >> 8);
  for (size_t i = 0; i < files.size(); ++i) {
    if (i != 0) out += '\x1e';
    out += files[i];
  }
  return out;
}

void writeDatabaseSeeds(const std::string& plainImage, const std::string& bundleImage) {
  writeSeed("database_fuzz", "full",
            databaseSeed(0x0FF, 0,
                         {"103441923 1700000000\n", "base 0 0\n", "wireless 103376384 0 5\n",
                          "old-wifi 0 103376384\n", "", "bin/probe\n/etc/probe.conf\n\n",
                          "user\n", "", ""}));
  writeSeed("database_fuzz", "disabled-auto",
            databaseSeed(0x063, 1, {"103441923 1\n", "", "", "", "", "lib/x.ko\n", "auto\n"}));
  writeSeed("database_fuzz", "bundle-member",
            databaseSeed(0x1B1, 2,
                         {"103441923 1\n", "", "", "", "routeros\n", "a\n", "", "user\n",
                          "disable\n"}));
  writeSeed("database_fuzz", "scheduled",
            databaseSeed(0x121, 1, {"1 2\n", "", "", "", "", "f\n", "", "", "uninstall\n"}));
  writeSeed("database_fuzz", "image",
            databaseSeed(0x340, 3,
                         {"", "", "", "", "", "", "user\n", "", "enable\n", plainImage}));
  writeSeed("database_fuzz", "bundle-image",
            databaseSeed(0x200, 0, {"", "", "", "", "", "", "", "", "", bundleImage}));
}

// Installed sets for the schedule target: bytes from a fixed generator, so that the
// seeds stay the same from build to build.
void writeScheduleSeeds() {
  uint32_t state = 12345;
  for (int seed = 0; seed < 8; ++seed) {
    std::string bytes(1, static_cast<char>(4 + seed * 4));
    for (int i = 0; i < 240; ++i) {
      state = state * 1103515245 + 12345;
      bytes += static_cast<char>(state >> 16);
    }
    writeSeed("schedule_fuzz", "set" + std::to_string(seed), bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: seed_corpus KEYDIR OUTDIR\n");
    return 2;
  }
  const std::string keyDir = argv[1];
  outDir = argv[2];
  SigningKeys keys;
  if (!readSigningKeys(keyDir + "/legacy.secret", keyDir + "/eddsa.secret", keys)) {
    std::fprintf(stderr, "seed_corpus: cannot read the keys in %s\n", keyDir.c_str());
    return 1;
  }

  const auto files = packageFiles(keys);
  for (const auto& [name, bytes] : files) {
    writeSeed("package_reader_fuzz", name, bytes);
    writeSeed("signature_fuzz", name, bytes);
    writeSeed("signature_frame_fuzz", name, bytes);
    writeSeed("discovery_fuzz", name, std::string(1, '\x00') + bytes);
  }
  writeSeed("discovery_fuzz", "plain-fixed-length", std::string(1, '\x01') + files[0].second);
  writeContainerSeeds();
  writeManifestSeeds();
  writeDatabaseSeeds(files[3].second, files[4].second);
  writeScheduleSeeds();
  return failed ? 1 : 0;
}
