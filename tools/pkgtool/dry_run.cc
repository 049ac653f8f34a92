#include "pkgtool/dry_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "changes/change_set.h"
#include "pdb/repository.h"
#include "pkgtool/child_process.h"
#include "pkgtool/command_line.h"
#include "pkgtool/overlay_view.h"
#include "platform/file_handles.h"

namespace {

const char* const kVolumes[] = {"/flash", "/flash/boot"};

// The lines of one console stream. The installer draws its status line in place:
// "\r" starts the line again and escape sequences only hide or show the cursor, so
// what is left at a line end is a message line.
class ConsoleLines {
 public:
  // Hands each finished line to sink.
  void feed(std::string_view bytes, const std::function<void(const std::string&)>& sink) {
    for (const char c : bytes) {
      if (escape_ == Escape::Start) {
        escape_ = c == '[' ? Escape::Sequence : Escape::None;
      } else if (escape_ == Escape::Sequence) {
        if (c >= 0x40 && c <= 0x7E) escape_ = Escape::None;
      } else if (c == '\x1b') {
        escape_ = Escape::Start;
      } else if (c == '\r') {
        line_.clear();
      } else if (c == '\n') {
        sink(line_);
        line_.clear();
      } else {
        line_ += c;
      }
    }
  }
  // A last line without its line end, unless only blanks are left of it.
  void finish(const std::function<void(const std::string&)>& sink) {
    if (line_.find_first_not_of(' ') != std::string::npos) sink(line_);
    line_.clear();
  }

 private:
  enum class Escape { None, Start, Sequence };
  std::string line_;
  Escape escape_ = Escape::None;
};

// The installer on the view, with its standard output and error read through pipes.
int runInstaller(const DryRunRequest& request, const std::string& view, const ConsoleLineSink& sink,
                 DryRunResult& result, std::string& problem) {
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    problem = std::string("pipe: ") + strerror(errno);
    return ExitFailed;
  }
  const FileDescriptor outRead(out[0]);
  FileDescriptor outWrite(out[1]);
  if (pipe2(err, O_CLOEXEC) != 0) {
    problem = std::string("pipe: ") + strerror(errno);
    return ExitFailed;
  }
  const FileDescriptor errRead(err[0]);
  FileDescriptor errWrite(err[1]);

  std::cout.flush();
  const pid_t child = fork();
  if (child < 0) {
    problem = std::string("fork: ") + strerror(errno);
    return ExitFailed;
  }
  if (child == 0) {
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(outWrite.get(), 1) < 0 ||
        dup2(errWrite.get(), 2) < 0)
      _exit(127);
    execl(request.installer.c_str(), "installer", "-r", view.c_str(), static_cast<char*>(nullptr));
    const std::string failed = "cannot run " + request.installer + ": " + strerror(errno) + "\n";
    [[maybe_unused]] const ssize_t written = write(2, failed.data(), failed.size());
    _exit(127);
  }
  outWrite.close();
  errWrite.close();

  ConsoleLines lines[2];
  pollfd streams[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
  for (int openStreams = 2; openStreams > 0;) {
    if (poll(streams, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(streams[i].fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      const auto keep = [&, i](const std::string& line) {
        result.console.push_back(line);
        sink(line, i == 1);
      };
      if (got <= 0) {
        lines[i].finish(keep);
        streams[i].fd = -1;
        --openStreams;
      } else {
        lines[i].feed(std::string_view(buffer, static_cast<size_t>(got)), keep);
      }
    }
  }

  int status = 0;
  if (!waitForChild(child, status)) {
    problem = std::string("waitpid: ") + strerror(errno);
    return ExitFailed;
  }
  if (!WIFEXITED(status)) {
    problem = "the installer ended abnormally";
    return ExitFailed;
  }
  result.status = WEXITSTATUS(status);
  return ExitOk;
}

std::string hexText(std::string_view text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex = "x";  // never empty, so that it is always one word
  for (const char c : text) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

std::string fromHex(const std::string& hex) {
  std::string text;
  for (size_t i = 1; i + 1 < hex.size(); i += 2)
    text += static_cast<char>(hexDigit(hex[i]) << 4 | hexDigit(hex[i + 1]));
  return text;
}

// The installed set and the volumes, as the installer loads and measures them, one
// record a line with the names in hex.
std::string describeThisRoot() {
  const char* arch = getenv("arch");
  Repository& repository = Repository::instance();
  repository.open(arch != nullptr ? arch : "i386", true);
  std::ostringstream text;
  for (const auto& package : repository.packages)
    text << "package " << hexText(package->name) << ' ' << package->version << ' '
         << package->buildTime << ' ' << package->disabled << ' ' << hexText(package->bundle.name)
         << '\n';
  for (const char* path : kVolumes) {
    struct statfs volume;
    struct stat directory;
    const bool examined = statfs(path, &volume) == 0 && stat(path, &directory) == 0;
    text << "volume " << examined << ' '
         << (examined ? static_cast<uint64_t>(volume.f_bfree) * volume.f_bsize : 0) << ' '
         << (examined ? directory.st_dev : 0) << '\n';
  }
  return text.str();
}

bool parseRootState(const std::string& text, RootState& state) {
  std::istringstream lines(text);
  size_t volume = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string kind;
    words >> kind;
    if (kind == "package") {
      PackageState package;
      std::string name;
      std::string bundle;
      if (!(words >> name >> package.version >> package.buildTime >> package.disabled >> bundle))
        return false;
      package.name = fromHex(name);
      package.bundle = fromHex(bundle);
      state.packages.push_back(std::move(package));
    } else if (kind == "volume" && volume < std::size(kVolumes)) {
      VolumeState entry;
      entry.path = kVolumes[volume++];
      if (!(words >> entry.examined >> entry.freeBytes >> entry.device)) return false;
      state.volumes.push_back(std::move(entry));
    } else {
      return false;
    }
  }
  return volume == std::size(kVolumes);
}

// The loader works on the router's absolute paths: it runs in a child whose root
// is the directory, and hands its records back through a pipe.
bool readRootState(const std::string& directory, RootState& state, std::string& problem) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    problem = std::string("pipe: ") + strerror(errno);
    return false;
  }
  const FileDescriptor reader(ends[0]);
  FileDescriptor writer(ends[1]);
  std::cout.flush();
  const pid_t child = fork();
  if (child < 0) {
    problem = std::string("fork: ") + strerror(errno);
    return false;
  }
  if (child == 0) {
    if (chroot(directory.c_str()) != 0 || chdir("/") != 0) _exit(ExitFailed);
    const std::string text = describeThisRoot();
    _exit(writeAll(writer.get(), text.data(), text.size()) ? ExitOk : ExitFailed);
  }
  writer.close();
  std::string text;
  char buffer[65536];
  for (ssize_t got; (got = read(reader.get(), buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  int status = 0;
  if (!waitForChild(child, status) || !WIFEXITED(status) || WEXITSTATUS(status) != ExitOk ||
      !parseRootState(text, state)) {
    problem = "cannot load the installed set of " + directory;
    return false;
  }
  return true;
}

bool copyInto(int directory, const std::string& name, const std::string& source) {
  const FileDescriptor from(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  const FileDescriptor to(
      openat(directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!from.valid() || !to.valid()) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(from.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (!writeAll(to.get(), buffer, static_cast<size_t>(got))) return false;
  }
}

// With package files given, the view's download directory holds exactly those: the
// package files waiting there and an IGNORE marker are removed from the view, so
// that the installer takes the offered files. Directories are made as needed, and
// a symbolic link on the way is refused: it would lead the copies out of the view.
bool offerPackages(const std::string& view, const std::vector<std::string>& packages,
                   std::string& problem) {
  int directory = open(view.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (const char* name : {"rw", "pckg", ".download"}) {
    const FileDescriptor parent(directory);
    if (mkdirat(parent.get(), name, 0755) != 0 && errno != EEXIST)
      directory = -1;
    else
      directory = openat(parent.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directory < 0) {
      problem = std::string("cannot use the root's rw/pckg/.download/ for the offered packages: ") +
                strerror(errno);
      return false;
    }
  }
  const FileDescriptor download(directory);
  const int copy = fcntl(download.get(), F_DUPFD_CLOEXEC, 0);
  if (const DirectoryHandle listing(copy >= 0 ? fdopendir(copy) : nullptr); listing) {
    std::vector<std::string> waiting;
    while (const dirent* entry = readdir(listing.get())) {
      const std::string name = entry->d_name;
      if (name == "IGNORE" || offeredName(name) == name) waiting.push_back(name);
    }
    for (const std::string& name : waiting) unlinkat(download.get(), name.c_str(), 0);
  } else if (copy >= 0) {
    close(copy);
  }
  for (const std::string& package : packages) {
    if (!copyInto(download.get(), offeredName(package), package)) {
      problem = "cannot offer " + package + " in the view: " + strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace

std::string offeredName(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  const auto endsWith = [&](std::string_view tail) {
    return name.size() > tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  return endsWith(".zpk") || endsWith(".wpk") ? name : name + ".zpk";
}

int dryRun(const DryRunRequest& request, const ConsoleLineSink& sink, DryRunResult& result,
           std::string& problem) {
  if (!enterPrivateMountNamespace(problem)) return ExitUsage;
  OverlayView view;
  if (!view.build(request.root, request.scratch, problem)) return ExitUsage;
  if (!request.packages.empty() && !offerPackages(view.path(), request.packages, problem))
    return ExitFailed;
  // The root is measured next to the laying of the view, whose volumes take their
  // size from it: on a busy file system the free space moves.
  if (!readRootState(request.root, result.before, problem)) return ExitFailed;
  if (const int failed = runInstaller(request, view.path(), sink, result, problem);
      failed != ExitOk)
    return failed;
  if (!readRootState(view.path(), result.after, problem)) return ExitFailed;
  for (const ViewLayer& layer : view.layers()) {
    collectFlashChanges(layer, view.layers(), result.files);
    result.headroom[layer.device] += layer.headroom;
  }
  return ExitOk;
}
