#include "pkgtool/metadata_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "model/safe_names.h"
#include "pkgfile/package_format.h"
#include "pkgtool/command.h"
#include "pkgtool/file_io.h"
#include "pkgtool/printable_text.h"
#include "pkgtool/version_parse.h"

namespace {

int readMetadataOptions(std::string_view command, const ParsedOptions& options,
                        Package& meta) {
  const std::string* name = options.last("--name");
  if (name == nullptr) return usageError(command, "--name is required");
  // The name fills a 16-byte field and names the package's own database directory.
  if (name->size() > kNameFieldSize || !isSafePackageName(*name))
    return usageError(command,
                      "invalid name \"%s\": 1 to 16 bytes, no \"/\", blank or control "
                      "character, not \".\" or \"..\"",
                      printable(*name).c_str());
  meta.name = *name;

  const std::string* version = options.last("--version");
  if (version == nullptr) return usageError(command, "--version is required");
  if (!parseVersionText(*version, meta.version))
    return usageError(command, "invalid version \"%s\"", version->c_str());

  if (const std::string* buildTime = options.last("--build-time")) {
    if (!parseUnsigned32(*buildTime, meta.buildTime))
      return usageError(command, "invalid build time \"%s\"", buildTime->c_str());
  } else if (const char* epoch = getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch) {
    if (!parseUnsigned32(epoch, meta.buildTime))
      return usageError(command, "invalid SOURCE_DATE_EPOCH \"%s\"", epoch);
  } else {
    meta.buildTime = static_cast<uint32_t>(time(nullptr));
  }

  if (const std::string* flags = options.last("--flags")) {
    if (!parseUnsigned32(*flags, meta.flags))
      return usageError(command, "invalid flag word \"%s\"", flags->c_str());
  }
  if (const std::string* arch = options.last("--arch")) {
    if (arch->empty()) return usageError(command, "--arch needs a name");
    meta.architecture = *arch;
  }
  if (const std::string* note = options.last("--note")) meta.note = *note;
  if (const std::string* text = options.last("--text2")) meta.part2Text = *text;
  if (const std::string* text = options.last("--text24")) meta.part24Text = *text;
  return ExitOk;
}

}  // namespace

int readMakeOptions(std::string_view command, const ParsedOptions& options, MakeOptions& made) {
  if (const int status = readMetadataOptions(command, options, made.meta); status != ExitOk)
    return status;
  if (const int status = readSignRequest(command, options, made.signing); status != ExitOk)
    return status;
  if (const std::string* payload = options.last("--payload")) {
    made.hasPayload = true;
    if (!readWholeFile(*payload, made.payload)) {
      complain("cannot read %s: %s", payload->c_str(), strerror(errno));
      return ExitUsage;
    }
  }
  made.magic = options.has("--alt-magic") ? kAltPackageMagic : kPackageMagic;
  return ExitOk;
}

bool parseEntryText(std::string_view text, DependencyEntry& entry) {
  std::vector<std::string_view> fields;
  for (;;) {
    const size_t colon = text.find(':');
    fields.push_back(text.substr(0, colon));
    if (colon == std::string_view::npos) break;
    text.remove_prefix(colon + 1);
  }
  if (fields.size() > 4 || fields[0].size() > kNameFieldSize || !isSafeListName(fields[0]))
    return false;
  DependencyEntry parsed;
  parsed.name = std::string(fields[0]);
  if (fields.size() > 1 && !fields[1].empty() && !parseVersionText(fields[1], parsed.minVersion))
    return false;
  if (fields.size() > 2 && !fields[2].empty() && !parseVersionText(fields[2], parsed.maxVersion))
    return false;
  if (fields.size() > 3 && !fields[3].empty() && !parseSigned32(fields[3], parsed.priority))
    return false;
  entry = parsed;
  return true;
}

int readEntryOptions(std::string_view command, const ParsedOptions& options,
                     std::string_view option, std::vector<DependencyEntry>& entries) {
  for (const std::string& text : options.all(option)) {
    DependencyEntry entry;
    if (!parseEntryText(text, entry))
      return usageError(command,
                        "invalid %s entry \"%s\": NAME[:MIN[:MAX[:PRIORITY]]], NAME 1 to 16 "
                        "bytes without blank or control character",
                        std::string(option).c_str(), printable(text).c_str());
    entries.push_back(entry);
  }
  if (entries.size() > UINT16_MAX)
    return usageError(command, "too many %s entries", std::string(option).c_str());
  return ExitOk;
}

int writeMadeFile(const std::string& path, std::string& file, const SignRequest& signing) {
  if (signing.sign) {
    const SignStatus status = signPackageFile(file, signing.keys, signing.options);
    if (status != SignStatus::Signed) {
      complain("cannot sign %s: %s", path.c_str(), signStatusText(status));
      return ExitFailed;
    }
  }
  if (!writeWholeFile(path, file)) {
    complain("cannot write %s: %s", path.c_str(), strerror(errno));
    return ExitFailed;
  }
  return ExitOk;
}
