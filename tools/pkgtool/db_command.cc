// pkgtool db: the installed packages of a router root as the installer's loader sees
// them (name, version, state, bundle, schedule, file count), or as a Graphviz graph of
// who needs whom. The loader works on the router's absolute paths, so it runs in a
// child process whose root is ROOT; the child's exit status is passed on. ExitUsage
// when ROOT has no "flash/var/pdb/".

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "pdb/repository.h"
#include "pkgtool/child_process.h"
#include "pkgtool/command.h"
#include "pkgtool/dot_graph.h"
#include "pkgtool/printable_text.h"

namespace {

using json = nlohmann::ordered_json;

constexpr auto kOptions = std::to_array<OptionRule>({
    {"--json", "", "", "one JSON object instead of the table"},
    {"--dot", "", "", "a Graphviz graph instead of the table"},
});

constexpr std::string_view kNotes[] = {
    "Lists the installed packages of the router root ROOT as the installer loads them.\n",
    "With --dot: packages as nodes (disabled ones grey), bundles as clusters, a\n"
    "requirement as an arrow to the package that answers it (or to a dashed \"missing\"\n"
    "node), a conflict as a dashed arrow. Render it with Graphviz:\n"
    "  pkgtool db --dot ROOT | dot -Tsvg > packages.svg\n"};

enum class Format { Table, Json, Dot };

std::string stateText(const InstalledPackage& package) {
  return std::string(package.disabled ? "disabled" : "enabled") +
         (package.userChosen ? " (user)" : " (auto)");
}

// text, padded with blanks to width, and one blank after it.
std::string column(const std::string& text, size_t width) {
  std::string cell = text;
  if (cell.size() < width) cell.resize(width, ' ');
  return cell + ' ';
}

void printTable(const Repository& repository) {
  std::cout << column("NAME", 16) << column("VERSION", 14) << column("STATE", 16)
            << column("BUNDLE", 16) << column("SCHEDULE", 9) << "FILES\n";
  for (const auto& package : repository.packages) {
    const std::string schedule = actionWord(package->scheduledAction);
    const std::string bundle = package->bundle.name.empty() ? "-" : package->bundle.name;
    std::cout << column(printable(package->name), 16)
              << column(versionText(package->version), 14) << column(stateText(*package), 16)
              << column(printable(bundle), 16)
              << column(schedule.empty() ? "-" : schedule, 9)
              << (package->isBundle ? std::string("bundle") : std::to_string(package->files.size()))
              << '\n';
  }
}

void printJson(const Repository& repository) {
  json packages = json::array();
  for (const auto& package : repository.packages)
    packages.push_back({{"name", package->name},
                        {"version", package->version},
                        {"versionText", versionText(package->version)},
                        {"buildTime", package->buildTime},
                        {"disabled", package->disabled},
                        {"userChosen", package->userChosen},
                        {"state", package->disabled ? "disabled" : "enabled"},
                        {"chosenBy", package->userChosen ? "user" : "auto"},
                        {"bundle", package->bundle.name},
                        {"isBundle", package->isBundle},
                        {"scheduledAction", static_cast<uint32_t>(package->scheduledAction)},
                        {"schedule", actionWord(package->scheduledAction)},
                        {"fileCount", package->files.size()}});
  const json document = {{"packages", std::move(packages)}};
  std::cout << document.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

bool writeProcFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(fd) == 0 && ok;
}

// Without root, a new user namespace (in which this process is root) and mount
// namespace let chroot work all the same.
bool gainChroot() {
  if (geteuid() == 0) return true;
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  return writeProcFile("/proc/self/setgroups", "deny") &&
         writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
         writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

// The child: changes root, loads the installed set and prints it.
int listInRoot(const std::string& root, Format format) {
  if (!gainChroot() || chroot(root.c_str()) != 0 || chdir("/") != 0) {
    complain("cannot change root to %s: %s", root.c_str(), strerror(errno));
    return ExitFailed;
  }
  const char* arch = getenv("arch");
  Repository& repository = Repository::instance();
  repository.open(arch != nullptr ? arch : "i386", true);
  if (format == Format::Json)
    printJson(repository);
  else if (format == Format::Dot)
    std::cout << dotGraph(repository);
  else
    printTable(repository);
  std::cout.flush();
  return std::cout.good() ? ExitOk : ExitFailed;
}

int runDb(const ParsedOptions& options) {
  if (options.operands.size() != 1) return usageError("db", "one ROOT is needed");
  if (options.has("--json") && options.has("--dot"))
    return usageError("db", "--json and --dot do not go together");
  const Format format = options.has("--json")  ? Format::Json
                        : options.has("--dot") ? Format::Dot
                                               : Format::Table;
  const std::string& root = options.operands[0];
  struct stat info;
  if (stat((root + "/flash/var/pdb/").c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    complain("%s has no flash/var/pdb/", root.c_str());
    return ExitUsage;
  }

  return runInChild([&] { return listInRoot(root, format); }, "the listing");
}

}  // namespace

constinit const Command kDbCommand = {
    "db",
    "list the installed packages of a router root",
    "[--json | --dot] ROOT",
    kOptions,
    kNotes,
    runDb,
};
