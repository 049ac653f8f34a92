// pkgtool plan: what an upgrade would do to a router root, found by doing it. The
// real installer runs its upgrade on a throw-away overlay view of the root inside a
// mount namespace of a child process (dry_run.h, overlay_view.h); its console lines
// are passed on, and the plan is read back from the view: packages installed,
// enabled, disabled and uninstalled, files of "/flash" added, replaced and removed,
// and the room left on "/flash" and "/flash/boot". The root itself is not changed.
// The exit status is the installer's, or ExitUsage when the view cannot be laid.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "pkgtool/child_process.h"
#include "pkgtool/command.h"
#include "pkgtool/dry_run.h"
#include "pkgtool/printable_text.h"

namespace {

using json = nlohmann::ordered_json;

constexpr auto kOptions = std::to_array<OptionRule>({
    {"--json", "", "", "one JSON object: the installer's lines and the plan"},
    {"--installer", "", "PATH", "the installer to run (default: the one beside pkgtool)"},
});

constexpr std::string_view kNotes[] = {
    "Runs the installer's upgrade (installer -r VIEW, no mode option) on a throw-away\n"
    "view of the router root ROOT and shows what it did; ROOT itself stays as it is.\n"
    "The view is an overlay file system over each file system of ROOT, mounted in a\n"
    "private mount namespace, so this needs root. Each volume of the view has the free\n"
    "space of the one below it, so the installer's disk check judges as on the router.\n",
    "The PACKAGE files are offered in the view's rw/pckg/.download/ in place of what\n"
    "waits there; with none, the installer takes the package files already waiting in\n"
    "ROOT's download directories. The boot stage (/flash/bin/vemo) does not run: the\n"
    "view is mounted noexec, so no program of the root image is ever started.\n",
    "Exit status: the installer's; 2 also when the view cannot be laid.\n"};

// A directory of its own under TMPDIR or /tmp for the view. The view's mounts live in
// the planning child's mount namespace and end with it, so only the empty directory
// is left to remove.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pkgtool-plan-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    if (!path_.empty()) rmdir(path_.c_str());
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What changed between the installed sets before and after the run.
struct PackagePlan {
  std::vector<std::pair<const PackageState*, const PackageState*>> installed;  // old (or null), new
  std::vector<const PackageState*> enabled;
  std::vector<const PackageState*> disabled;
  std::vector<const PackageState*> uninstalled;
  bool empty() const {
    return installed.empty() && enabled.empty() && disabled.empty() && uninstalled.empty();
  }
};

std::map<std::string, const PackageState*> byName(const RootState& state) {
  std::map<std::string, const PackageState*> packages;
  for (const PackageState& package : state.packages) packages.emplace(package.name, &package);
  return packages;
}

PackagePlan comparePackages(const RootState& before, const RootState& after) {
  const auto old = byName(before);
  const auto now = byName(after);
  PackagePlan plan;
  for (const auto& [name, package] : now) {
    const auto was = old.find(name);
    if (was == old.end()) {
      plan.installed.emplace_back(nullptr, package);
      continue;
    }
    if (was->second->version != package->version || was->second->buildTime != package->buildTime)
      plan.installed.emplace_back(was->second, package);
    if (was->second->disabled && !package->disabled) plan.enabled.push_back(package);
    if (!was->second->disabled && package->disabled) plan.disabled.push_back(package);
  }
  for (const auto& [name, package] : old)
    if (!now.contains(name)) plan.uninstalled.push_back(package);
  return plan;
}

// Each volume ("/flash", "/flash/boot") as the root has it and as the view has it.
std::vector<std::pair<const VolumeState*, const VolumeState*>> volumePairs(
    const DryRunResult& result) {
  std::vector<std::pair<const VolumeState*, const VolumeState*>> pairs;
  for (size_t i = 0; i < result.before.volumes.size() && i < result.after.volumes.size(); ++i)
    pairs.emplace_back(&result.before.volumes[i], &result.after.volumes[i]);
  return pairs;
}

// The bytes a volume has left after the run: what the view reports, which counts
// every file the run wrote, less the view's headroom, and what the root's removed and
// rewritten files give back on the router.
uint64_t freeAfter(const DryRunResult& result, const VolumeState& before,
                   const VolumeState& after) {
  const auto bytes = [&](const std::map<dev_t, uint64_t>& byDevice) {
    const auto found = byDevice.find(before.device);
    return found == byDevice.end() ? 0 : found->second;
  };
  const uint64_t free = after.freeBytes + bytes(result.files.freedBytes);
  const uint64_t headroom = bytes(result.headroom);
  return free > headroom ? free - headroom : 0;
}

std::string kilobytes(uint64_t bytes) { return std::to_string(bytes >> 10) + " kB"; }

std::string line(std::string_view word, const std::string& text) {
  std::string start(word);
  start.resize(13, ' ');
  return start + text + '\n';
}

void printText(const DryRunResult& result) {
  const PackagePlan plan = comparePackages(result.before, result.after);
  std::string text = "--- plan (a dry run: the root is unchanged, the boot stage did not run)\n";
  for (const auto& [old, now] : plan.installed) {
    std::string what = printable(now->name) + " ";
    if (old != nullptr) what += std::string(versionText(old->version)) + " -> ";
    what += versionText(now->version);
    if (old == nullptr) what += " (new)";
    if (!now->bundle.empty()) what += " (bundle " + printable(now->bundle) + ")";
    text += line("installed", what);
  }
  const std::pair<const char*, const std::vector<const PackageState*>*> states[] = {
      {"enabled", &plan.enabled}, {"disabled", &plan.disabled}, {"uninstalled", &plan.uninstalled}};
  for (const auto& [word, packages] : states)
    for (const PackageState* package : *packages)
      text += line(word, printable(package->name) + " " + versionText(package->version));
  if (plan.empty()) text += line("packages", "no change");
  const std::pair<const char*, const std::vector<std::string>*> files[] = {
      {"added", &result.files.added},
      {"replaced", &result.files.replaced},
      {"removed", &result.files.removed}};
  for (const auto& [word, paths] : files)
    for (const std::string& path : *paths) text += line(word, printable(path));
  for (const auto& [before, after] : volumePairs(result)) {
    if (!before->examined || !after->examined)
      text += line("room", before->path + ": none (no such volume)");
    else
      text += line("room", before->path + ": " + kilobytes(before->freeBytes) + " free, " +
                               kilobytes(freeAfter(result, *before, *after)) + " after");
  }
  text += line("status", std::to_string(result.status) + " (the installer's exit status)");
  std::cout << text << std::flush;
}

json packageJson(const PackageState& package) {
  return {{"name", package.name},
          {"version", versionText(package.version)},
          {"buildTime", package.buildTime},
          {"bundle", package.bundle}};
}

void printJson(const DryRunResult& result) {
  const PackagePlan plan = comparePackages(result.before, result.after);
  json installed = json::array();
  for (const auto& [old, now] : plan.installed) {
    json entry = packageJson(*now);
    entry["from"] = old == nullptr ? json() : json(versionText(old->version));
    entry["fromBuildTime"] = old == nullptr ? json() : json(old->buildTime);
    installed.push_back(std::move(entry));
  }
  const auto list = [](const std::vector<const PackageState*>& packages) {
    json entries = json::array();
    for (const PackageState* package : packages) entries.push_back(packageJson(*package));
    return entries;
  };
  json volumes = json::array();
  for (const auto& [before, after] : volumePairs(result)) {
    const bool known = before->examined && after->examined;
    volumes.push_back({{"path", before->path},
                       {"freeBefore", before->examined ? json(before->freeBytes) : json()},
                       {"freeAfter", known ? json(freeAfter(result, *before, *after)) : json()}});
  }
  const json document = {{"status", result.status},
                         {"console", result.console},
                         {"installed", std::move(installed)},
                         {"enabled", list(plan.enabled)},
                         {"disabled", list(plan.disabled)},
                         {"uninstalled", list(plan.uninstalled)},
                         {"files",
                          {{"added", result.files.added},
                           {"replaced", result.files.replaced},
                           {"removed", result.files.removed}}},
                         {"volumes", std::move(volumes)}};
  std::cout << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n' << std::flush;
}

// The planning child: the dry run, then the plan; the installer's exit status.
int planInChild(const DryRunRequest& request, bool asJson) {
  const ConsoleLineSink passOn = [asJson](const std::string& text, bool error) {
    if (asJson) return;
    (error ? std::cerr : std::cout) << printable(text) << '\n' << std::flush;
  };
  DryRunResult result;
  std::string problem;
  if (const int failed = dryRun(request, passOn, result, problem); failed != ExitOk) {
    complain("%s", printable(problem).c_str());
    return failed;
  }
  if (asJson)
    printJson(result);
  else
    printText(result);
  return std::cout.good() ? result.status : ExitFailed;
}

// The installer built beside this program, or, for an installed tool, the one in
// the sbin directory next to its bin directory.
std::string installerBesideUs() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "installer";
  const std::string path(self, static_cast<size_t>(length));
  const std::string directory = path.substr(0, path.rfind('/') + 1);
  const std::string beside = directory + "installer";
  if (access(beside.c_str(), X_OK) == 0) return beside;
  const std::string installed = directory + "../sbin/installer";
  return access(installed.c_str(), X_OK) == 0 ? installed : beside;
}

int runPlan(const ParsedOptions& options) {
  if (options.operands.empty()) return usageError("plan", "a ROOT is needed");
  char resolved[PATH_MAX];
  if (realpath(options.operands[0].c_str(), resolved) == nullptr) {
    complain("%s: %s", printable(options.operands[0]).c_str(), strerror(errno));
    return ExitUsage;
  }
  DryRunRequest request;
  request.root = resolved;
  struct stat info;
  if (lstat((request.root + "/flash").c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    complain("%s has no flash/ directory", printable(request.root).c_str());
    return ExitUsage;
  }
  const std::string* installer = options.last("--installer");
  request.installer = installer != nullptr ? *installer : installerBesideUs();
  if (access(request.installer.c_str(), X_OK) != 0) {
    complain("no installer to run at %s: %s (name one with --installer)",
             printable(request.installer).c_str(), strerror(errno));
    return ExitUsage;
  }
  std::set<std::string> offered;
  for (size_t i = 1; i < options.operands.size(); ++i) {
    const std::string& package = options.operands[i];
    if (stat(package.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        access(package.c_str(), R_OK) != 0) {
      complain("%s is no readable package file", printable(package).c_str());
      return ExitUsage;
    }
    if (!offered.insert(offeredName(package)).second) {
      complain("two package files named %s", printable(offeredName(package)).c_str());
      return ExitUsage;
    }
    request.packages.push_back(package);
  }
  if (geteuid() != 0) {
    complain("plan needs root: it mounts a throw-away view of the root in a namespace of its own");
    return ExitUsage;
  }

  const ScratchDirectory scratch;
  if (scratch.path().empty()) {
    complain("cannot make a directory for the view: %s", strerror(errno));
    return ExitFailed;
  }
  request.scratch = scratch.path();
  const bool asJson = options.has("--json");
  return runInChild([&] { return planInChild(request, asJson); }, "the dry run");
}

}  // namespace

constinit const Command kPlanCommand = {
    "plan",
    "show what an upgrade would do to a router root, without changing it",
    "[--json] [--installer PATH] ROOT [PACKAGE...]",
    kOptions,
    kNotes,
    runPlan,
};
