#include "support/signed_packages.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "support/console_text.h"
#include "support/scratch_root.h"

namespace fs = std::filesystem;

SigningKeys developmentKeys() {
  SigningKeys keys;
  EXPECT_TRUE(readSigningKeys(std::string(SOURCE_DIR) + "/keys/legacy.secret",
                              std::string(SOURCE_DIR) + "/keys/eddsa.secret", keys));
  return keys;
}

std::string signedPackageFile(const PackageLayout& layout, SignatureForms forms,
                              uint32_t magic) {
  std::string file = buildPackageFile(layout, magic);
  EXPECT_EQ(signPackageFile(file, developmentKeys(), {forms, false, 0}), SignStatus::Signed);
  return file;
}

std::string signedBundleFile(const BundleLayout& layout) {
  std::string file = buildBundleFile(layout);
  EXPECT_EQ(signPackageFile(file, developmentKeys(), {}), SignStatus::Signed);
  return file;
}

PackageLayout packageLayout(const std::string& name, Version version,
                            std::vector<ContainerEntry> files) {
  PackageLayout layout;
  layout.meta.name = name;
  layout.meta.version = version;
  layout.meta.buildTime = 1700000000;
  layout.files = std::move(files);
  return layout;
}

PackageLayout toolPackage(const std::string& name, Version version, const std::string& text) {
  return packageLayout(name, version, {{"bin/" + name, 0100755, text.empty() ? name : text}});
}

BundleLayout bundleLayout(const std::string& name, Version version,
                          std::vector<PackageLayout> members) {
  BundleLayout bundle;
  bundle.meta = packageLayout(name, version).meta;
  bundle.members = std::move(members);
  return bundle;
}

std::string withPart(std::string file, uint16_t type, const std::string& payload) {
  PartWriter writer;
  writer.part(type, payload);
  file += writer.body();
  writeLe32(reinterpret_cast<uint8_t*>(file.data()) + 4,
            static_cast<uint32_t>(file.size() - kFileHeaderSize));
  return file;
}

std::string treeSnapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string path = it->path().string().substr(root.size());
    if (path == "/proc" || path.rfind("/proc/", 0) == 0) continue;
    const fs::file_status status = it->symlink_status();
    std::string line;
    if (fs::is_symlink(status)) {
      line = " -> ";
      line += fs::read_symlink(it->path(), error).string();
    } else if (fs::is_directory(status)) {
      line = "/";
    } else {
      line = " ";
      line += std::to_string(static_cast<unsigned>(status.permissions()) & 07777);
      line += ' ';
      for (const char c : readFile(it->path().string())) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
          line += c;
        } else {
          line += '\\';
          line += std::to_string(static_cast<unsigned char>(c));
        }
      }
    }
    entries[path] = line;
  }
  std::string text;
  for (const auto& [path, line] : entries) text += path + line + "\n";
  return text;
}

std::vector<std::string> leftoverTemporaries(const std::string& root) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    if ((name.size() == 9 && name.rfind("tmp", 0) == 0) || name.ends_with(".copying"))
      found.push_back(it->path().string());
  }
  return found;
}

void writeEntry(const ScratchRoot& root, const std::string& name, Version version,
                std::map<std::string, std::string> files) {
  files.emplace("deps", "");
  files.emplace("files", "");
  files["version"] = std::to_string(version) + " 1700000000\n";
  for (const auto& [file, content] : files)
    root.write("flash/var/pdb/" + name + "/" + file, content);
}

void installThroughStdin(const ScratchRoot& root, const std::string& file) {
  const RunResult run = runInstaller(root, {"-"}, file);
  EXPECT_EQ(run.status, 0) << run.out;
  unlink(root.at("flash/PCKGS_CHANGED").c_str());
  unlink(root.at("flash/postlog").c_str());
}

void expectUnchangedRun(const ScratchRoot& root, const std::vector<std::string>& arguments,
                        int status, const std::string& lines, const std::string& stdinData,
                        const std::vector<std::string>& environment) {
  const std::string before = treeSnapshot(root.path());
  const RunResult run = runInstaller(root, arguments, stdinData, environment);
  EXPECT_EQ(run.status, status) << lines;
  EXPECT_EQ(splitConsole(run.out).lines, lines);
  EXPECT_EQ(root.read("flash/postlog"), lines);
  unlink(root.at("flash/postlog").c_str());
  EXPECT_EQ(treeSnapshot(root.path()), before) << lines;
  EXPECT_EQ(leftoverTemporaries(root.path()), std::vector<std::string>{}) << lines;
}
