// pkgtool inspect: a readable summary of a package or bundle file, or the same as
// one JSON object. ExitOk for a file that reads whole, ExitFailed for a damaged one
// (what could be read is still shown), ExitUsage for bad usage or a file that is no
// package file.

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>

#include "pkgfile/package_format.h"
#include "pkgtool/command.h"
#include "pkgtool/package_report.h"
#include "pkgtool/printable_text.h"
#include "pkgtool/signing_options.h"
#include "pkgtool/signature_report.h"

namespace {

using json = nlohmann::ordered_json;

constexpr auto kOptions = joinRules(
    std::to_array<OptionRule>({
        {"--json", "", "", "one JSON object instead of the readable summary"},
    }),
    kPublicKeysOption);

std::string hex32(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

std::string octal(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "%06o", value);
  return text;
}

std::string timeText(uint32_t seconds) {
  const time_t when = seconds;
  struct tm parts;
  char text[64];
  if (gmtime_r(&when, &parts) == nullptr ||
      strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts) == 0)
    return "?";
  return text;
}

const char* partName(uint16_t type) {
  switch (type) {
    case PackageHeaderPart: return "package header";
    case Text2Part: return "text 2";
    case DependenciesPart: return "dependencies";
    case FileContainerPart: return "file container";
    case SignaturePart: return "signature";
    case ArchitecturePart: return "architecture";
    case ConflictsPart: return "conflicts";
    case BundleHeaderPart: return "bundle header";
    case ProvidesPart: return "provides";
    case BundleEntryTablePart: return "bundle entry table";
    case OpaquePayloadPart: return "opaque payload";
    case NotePart: return "note";
    case Text24Part: return "text 24";
    case DigestSwitchPart: return "digest switch";
    default: return "unknown";
  }
}

std::string entryText(const DependencyEntry& entry) {
  std::string text = printable(entry.name) + " " + versionText(entry.minVersion) + " - ";
  text += entry.maxVersion == 0 ? std::string("any") : std::string(versionText(entry.maxVersion));
  text += ", priority " + std::to_string(entry.priority);
  return text;
}

json entriesJson(const std::vector<DependencyEntry>& entries) {
  json list = json::array();
  for (const DependencyEntry& entry : entries)
    list.push_back({{"name", entry.name},
                    {"minVersion", entry.minVersion},
                    {"maxVersion", entry.maxVersion},
                    {"priority", entry.priority}});
  return list;
}

// The identity and texts shared by packages and the bundle header.
json identityJson(const PackageInfo& info) {
  const Package& meta = info.meta;
  return {{"name", meta.name},
          {"version", meta.version},
          {"versionText", versionText(meta.version)},
          {"buildTime", meta.buildTime},
          {"flags", meta.flags},
          {"architecture", meta.architecture},
          {"note", meta.note},
          {"part2Text", meta.part2Text},
          {"part24Text", meta.part24Text},
          {"hasOpaquePayload", meta.hasOpaquePayload},
          {"payloadLength", info.payloadLength}};
}

json signatureJson(const PackageSignatureReport* report) {
  if (report == nullptr) return nullptr;
  return {{"present", report->hasSignature},
          {"length", report->signatureLength},
          {"digest", report->sha256 ? "sha256" : "sha1"},
          {"legacy", {{"present", report->hasLegacy}, {"valid", report->legacyValid}}},
          {"eddsa", {{"present", report->hasEddsa}, {"valid", report->eddsaValid}}},
          {"acceptedLevel1", report->acceptedLevel1},
          {"acceptedLevel2", report->acceptedLevel2}};
}

json packageJson(const PackageInfo& info, const PackageSignatureReport* report) {
  json package = identityJson(info);
  package["dependencies"] = entriesJson(info.meta.dependencies);
  package["provides"] = entriesJson(info.meta.provides);
  package["conflicts"] = entriesJson(info.meta.conflicts);
  json files = json::array();
  for (const ContainerFileInfo& file : info.files) {
    json entry = {{"name", file.name},
                  {"mode", file.mode},
                  {"size", file.size},
                  {"passOver", file.passOver}};
    if (file.isSymlink()) entry["target"] = file.linkTarget;
    files.push_back(std::move(entry));
  }
  package["hasFileContainer"] = info.hasContainer;
  package["files"] = std::move(files);
  package["signatureLength"] = info.signatureLength;
  package["hasSignature"] = info.hasSignature;
  package["signature"] = signatureJson(report);
  return package;
}

void printJson(const FileInspection& inspection,
               const std::vector<PackageSignatureReport>& reports) {
  json parts = json::array();
  for (const PartInfo& part : inspection.parts)
    parts.push_back({{"type", part.type}, {"offset", part.offset}, {"length", part.length}});
  json packages = json::array();
  for (size_t i = 0; i < inspection.packages.size(); ++i)
    packages.push_back(
        packageJson(inspection.packages[i], i < reports.size() ? &reports[i] : nullptr));
  json document = {{"magic", inspection.magic},
                   {"declaredSize", inspection.declaredSize},
                   {"size", inspection.size},
                   {"parts", std::move(parts)},
                   {"packages", std::move(packages)},
                   {"problems", inspection.problems}};
  if (inspection.isBundle) {
    json bundle = identityJson(inspection.bundle);
    bundle["entryTable"] = entriesJson(inspection.bundleTable);
    document["bundle"] = std::move(bundle);
  }
  // Texts from a file need not be UTF-8; replace what is not rather than fail.
  std::cout << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

// The start of a line of a package's summary: the label in a column of its own.
std::string heading(const char* label) {
  char text[24];
  snprintf(text, sizeof text, "  %-13s ", label);
  return text;
}

void printIdentity(const PackageInfo& info) {
  const Package& meta = info.meta;
  std::cout << heading("build time") << meta.buildTime << " (" << timeText(meta.buildTime)
            << ")\n"
            << heading("flags") << hex32(meta.flags) << '\n'
            << heading("architecture") << printable(meta.architecture) << '\n';
  for (const auto& [label, text] : {std::pair{"note", &meta.note},
                                    {"text 2", &meta.part2Text},
                                    {"text 24", &meta.part24Text}})
    if (!text->empty()) std::cout << heading(label) << printable(*text) << '\n';
  if (meta.hasOpaquePayload)
    std::cout << heading("payload") << info.payloadLength << " bytes\n";
}

void printEntries(const char* label, const std::vector<DependencyEntry>& entries) {
  for (const DependencyEntry& entry : entries)
    std::cout << heading(label) << entryText(entry) << '\n';
}

void printReadable(const std::string& path, const FileInspection& inspection,
                   const std::vector<PackageSignatureReport>& reports) {
  std::cout << path << ": " << (inspection.isBundle ? "bundle file" : "package file")
            << ", magic " << hex32(inspection.magic) << ", " << inspection.size
            << " bytes (declared " << inspection.declaredSize << ")\n";
  std::cout << "parts:\n";
  for (const PartInfo& part : inspection.parts) {
    char line[96];
    snprintf(line, sizeof line, "  at %10u  type %2u  %10u bytes  %s\n", part.offset,
             part.type, part.length, partName(part.type));
    std::cout << line;
  }
  if (inspection.isBundle) {
    std::cout << "bundle " << printable(displayName(inspection.bundle.meta)) << '\n';
    printIdentity(inspection.bundle);
    printEntries("table", inspection.bundleTable);
  }
  for (size_t i = 0; i < inspection.packages.size(); ++i) {
    const PackageInfo& info = inspection.packages[i];
    std::cout << "package " << printable(displayName(info.meta)) << '\n';
    printIdentity(info);
    printEntries("depends", info.meta.dependencies);
    printEntries("provides", info.meta.provides);
    printEntries("conflicts", info.meta.conflicts);
    std::cout << heading("files") << info.files.size() << '\n';
    for (const ContainerFileInfo& file : info.files) {
      std::cout << "    " << octal(file.mode) << ' ';
      char size[16];
      snprintf(size, sizeof size, "%10u", file.size);
      std::cout << size << "  " << printable(file.name);
      if (file.isSymlink()) std::cout << " -> " << printable(file.linkTarget);
      if (file.passOver != 0) std::cout << " (passed over)";
      std::cout << '\n';
    }
    std::cout << heading("signature");
    if (!info.hasSignature)
      std::cout << "none\n";
    else if (i < reports.size())
      std::cout << info.signatureLength << " bytes: " << describeSignature(reports[i]) << '\n';
    else
      std::cout << info.signatureLength << " bytes\n";
  }
  for (const std::string& problem : inspection.problems)
    std::cout << "damaged: " << printable(problem) << '\n';
  std::cout << std::flush;
}

int runInspect(const ParsedOptions& options) {
  if (options.operands.size() != 1) return usageError("inspect", "one FILE is needed");
  const std::string& path = options.operands[0];
  PublicKeySet keys;
  if (const int status = readPublicKeyOption(options, keys); status != ExitOk) return status;

  std::string bytes;
  FileInspection inspection;
  if (!loadPackageFile(path, bytes, inspection)) return ExitUsage;
  std::vector<PackageSignatureReport> reports;
  verifyPackageFile(bytes, keys, reports);
  if (options.has("--json"))
    printJson(inspection, reports);
  else
    printReadable(path, inspection, reports);
  return inspection.problems.empty() ? ExitOk : ExitFailed;
}

}  // namespace

constinit const Command kInspectCommand = {
    "inspect",
    "describe a package or bundle file",
    "[--json] [--keys DIRECTORY] FILE",
    kOptions,
    {},
    runInspect,
};
