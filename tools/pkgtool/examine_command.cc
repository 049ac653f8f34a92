// pkgtool inspect: a readable summary of a package or bundle file, or the same as
// one JSON object. ExitOk for a file that reads whole, ExitFailed for a damaged or
// suspicious one (what could be read is still shown), ExitUsage for bad usage or a
// file that is no package file. Both forms are printed while the file is read, so
// that a file of any size, or a container that inflates to gigabytes, is never held.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "pkgfile/package_format.h"
#include "pkgtool/command.h"
#include "pkgtool/package_report.h"
#include "pkgtool/printable_text.h"
#include "pkgtool/signature_report.h"
#include "pkgtool/signing_options.h"

namespace {

using json = nlohmann::ordered_json;

constexpr auto kOptions = joinRules(
    std::to_array<OptionRule>({
        {"--json", "", "", "one JSON object instead of the readable summary"},
    }),
    kPublicKeysOption);

static_assert(kMostListedEntries == 100000, "the help below names the limit");
constexpr std::string_view kNotes[] = {
    "A file container lists at most 100000 entries: one that holds more is reported\n"
    "as suspicious and the rest of it is not read. A container whose zlib stream is\n"
    "damaged, is no zlib stream or ends before its check value is reported as damaged.\n",
    "Exit status: 0 the file reads whole, 1 damaged or suspicious (what could be read\n"
    "is still shown), 2 unreadable file, no package file or bad usage.\n"};

// Damage is shown after everything else; beyond this many problems only their number
// is kept, so that a file of a million broken packages costs no more memory than one.
constexpr size_t kMostKeptProblems = 100;

class ProblemList {
 public:
  void add(const std::string& text) {
    if (kept_.size() < kMostKeptProblems)
      kept_.push_back(text);
    else
      ++more_;
  }
  bool empty() const { return kept_.empty(); }
  // The problems kept, and a last line counting the rest.
  std::vector<std::string> lines() const {
    std::vector<std::string> lines = kept_;
    if (more_ != 0) lines.push_back("and " + std::to_string(more_) + " more problems");
    return lines;
  }

 private:
  std::vector<std::string> kept_;
  uint64_t more_ = 0;
};

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

// Writes one JSON document a piece at a time, laid out as nlohmann's dump(2) lays it
// out, so that lists of any length never have to be held whole. Texts from a file
// need not be UTF-8; what is not is replaced rather than refused.
class JsonStream {
 public:
  explicit JsonStream(std::ostream& out) : out_(out) {}

  void openMember(std::string_view key, char bracket) {
    startItem(key);
    open(bracket);
  }
  void openElement(char bracket) {
    startItem({});
    open(bracket);
  }
  void member(std::string_view key, const json& value) {
    startItem(key);
    write(value);
  }
  void element(const json& value) {
    startItem({});
    write(value);
  }
  void close() {
    const Level level = levels_.back();
    levels_.pop_back();
    if (!level.empty) out_ << '\n' << indent();
    out_ << level.closer;
    if (levels_.empty()) out_ << '\n';
  }

 private:
  struct Level {
    char closer;
    bool empty;
  };

  std::string indent() const { return std::string(2 * levels_.size(), ' '); }

  void startItem(std::string_view key) {
    if (!levels_.empty()) {
      out_ << (levels_.back().empty ? "\n" : ",\n") << indent();
      levels_.back().empty = false;
    }
    if (!key.empty()) out_ << json(key).dump() << ": ";
  }

  void open(char bracket) {
    out_ << bracket;
    levels_.push_back({bracket == '{' ? '}' : ']', true});
  }

  // A value's own lines are indented to its depth; strings carry no raw line feed.
  void write(const json& value) {
    const std::string text = value.dump(2, ' ', false, json::error_handler_t::replace);
    std::string indented;
    for (size_t start = 0, end; start <= text.size(); start = end + 1) {
      end = std::min(text.find('\n', start), text.size());
      if (start != 0) indented += '\n' + indent();
      indented.append(text, start, end - start);
    }
    out_ << indented;
  }

  std::ostream& out_;
  std::vector<Level> levels_;
};

// inspect --json: the document's keys in their fixed order, the parts, packages and
// file lists written as they are read; the bundle header, kept, comes last.
class JsonReport : public PackageObserver {
 public:
  explicit JsonReport(std::ostream& out) : out_(out) {}

  void frameBegins(const FileFrame& frame) override {
    out_.openElement('{');
    out_.member("magic", frame.magic);
    out_.member("declaredSize", frame.declaredSize);
    out_.member("size", frame.size);
    out_.openMember("parts", '[');
  }
  void part(const PartInfo& part) override {
    out_.element({{"type", part.type}, {"offset", part.offset}, {"length", part.length}});
  }
  // Between the parts and the packages.
  void packagesBegin() {
    out_.close();
    out_.openMember("packages", '[');
  }
  void bundle(const PackageInfo& info, const std::vector<DependencyEntry>& table) override {
    bundle_ = identityJson(info);
    (*bundle_)["entryTable"] = entriesJson(table);
  }
  void packageBegins(const PackageInfo& info) override {
    out_.openElement('{');
    const json identity = identityJson(info);
    for (const auto& item : identity.items()) out_.member(item.key(), item.value());
    out_.member("dependencies", entriesJson(info.meta.dependencies));
    out_.member("provides", entriesJson(info.meta.provides));
    out_.member("conflicts", entriesJson(info.meta.conflicts));
    filesOpen_ = false;
  }
  void containerBegins() override {
    out_.member("hasFileContainer", true);
    out_.openMember("files", '[');
    filesOpen_ = true;
  }
  void entry(const ContainerFileInfo& file) override {
    json entry = {{"name", file.name},
                  {"mode", file.mode},
                  {"size", file.size},
                  {"passOver", file.passOver}};
    if (file.isSymlink()) entry["target"] = file.linkTarget;
    out_.element(entry);
  }
  void packageEnds(const PackageInfo& info, const PackageSignatureReport* report) override {
    if (filesOpen_) {
      out_.close();
    } else {
      out_.member("hasFileContainer", false);
      out_.member("files", json::array());
    }
    out_.member("containerDamaged", info.containerDamaged);
    out_.member("entriesSuspicious", info.entriesSuspicious);
    out_.member("signatureLength", info.signatureLength);
    out_.member("hasSignature", info.hasSignature);
    out_.member("signature", signatureJson(report));
    out_.close();
  }
  void problem(const std::string& text) override { problems_.add(text); }

  // After the packages: the problems, the bundle, and the end of the document.
  void finish() {
    out_.close();
    out_.member("problems", problems_.lines());
    if (bundle_) out_.member("bundle", *bundle_);
    out_.close();
  }
  bool damaged() const { return !problems_.empty(); }

 private:
  JsonStream out_;
  std::optional<json> bundle_;
  bool filesOpen_ = false;
  ProblemList problems_;
};

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

// inspect without --json: a summary line, the parts, the bundle header, each package
// with its files (their count after them) and signature, and last the damage found.
class ReadableReport : public PackageObserver {
 public:
  ReadableReport(const std::string& path, const FileFrame& frame) {
    std::cout << path << ": " << (frame.isBundle ? "bundle file" : "package file")
              << ", magic " << hex32(frame.magic) << ", " << frame.size << " bytes (declared "
              << frame.declaredSize << ")\n";
  }

  void frameBegins(const FileFrame&) override { std::cout << "parts:\n"; }
  void part(const PartInfo& part) override {
    char line[96];
    snprintf(line, sizeof line, "  at %10u  type %2u  %10u bytes  %s\n", part.offset, part.type,
             part.length, partName(part.type));
    std::cout << line;
  }
  void bundle(const PackageInfo& info, const std::vector<DependencyEntry>& table) override {
    std::cout << "bundle " << printable(displayName(info.meta)) << '\n';
    printIdentity(info);
    printEntries("table", table);
  }
  void packageBegins(const PackageInfo& info) override {
    std::cout << "package " << printable(displayName(info.meta)) << '\n';
    printIdentity(info);
    printEntries("depends", info.meta.dependencies);
    printEntries("provides", info.meta.provides);
    printEntries("conflicts", info.meta.conflicts);
  }
  void entry(const ContainerFileInfo& file) override {
    char size[16];
    snprintf(size, sizeof size, "%10u", file.size);
    std::cout << "    " << octal(file.mode) << ' ' << size << "  " << printable(file.name);
    if (file.isSymlink()) std::cout << " -> " << printable(file.linkTarget);
    if (file.passOver != 0) std::cout << " (passed over)";
    std::cout << '\n';
  }
  void packageEnds(const PackageInfo& info, const PackageSignatureReport* report) override {
    std::cout << heading("files") << info.entries;
    if (info.containerDamaged) std::cout << ", then the container is damaged";
    if (info.entriesSuspicious) std::cout << " listed, more not read: suspicious";
    std::cout << '\n' << heading("signature");
    if (!info.hasSignature)
      std::cout << "none\n";
    else if (report != nullptr)
      std::cout << info.signatureLength << " bytes: " << describeSignature(*report) << '\n';
    else
      std::cout << info.signatureLength << " bytes\n";
  }
  void problem(const std::string& text) override { problems_.add(text); }

  void packagesBegin() {}
  void finish() {
    for (const std::string& problem : problems_.lines())
      std::cout << "damaged: " << printable(problem) << '\n';
    std::cout << std::flush;
  }
  bool damaged() const { return !problems_.empty(); }

 private:
  ProblemList problems_;
};

// Reads the frame again with report watching, then the packages.
template <typename Report>
void readInto(std::streambuf& source, FileFrame& frame, const WalkOptions& walk, Report& report) {
  readFrame(source, frame.size, frame, report);
  report.packagesBegin();
  readPackages(source, frame, walk, report);
  report.finish();
}

int runInspect(const ParsedOptions& options) {
  if (options.operands.size() != 1) return usageError("inspect", "one FILE is needed");
  const std::string& path = options.operands[0];
  PublicKeySet keys;
  if (const int status = readPublicKeyOption(options, keys); status != ExitOk) return status;

  // A first look at the frame tells whether this is a package file at all, and what
  // the summary line says.
  FileFrame frame;
  const std::unique_ptr<FileSource> source = openPackageFile(path, frame);
  if (source == nullptr) return ExitUsage;
  // Signatures are checked only in a file whose parts are whole.
  const WalkOptions walk{true, frame.whole ? &keys : nullptr};
  bool damaged;
  if (options.has("--json")) {
    JsonReport report(std::cout);
    readInto(*source, frame, walk, report);
    damaged = report.damaged();
  } else {
    ReadableReport report(path, frame);
    readInto(*source, frame, walk, report);
    damaged = report.damaged();
  }
  return damaged ? ExitFailed : ExitOk;
}

}  // namespace

constinit const Command kInspectCommand = {
    "inspect",
    "describe a package or bundle file",
    "[--json] [--keys DIRECTORY] FILE",
    kOptions,
    kNotes,
    runInspect,
};
