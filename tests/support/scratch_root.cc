#include "support/scratch_root.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

ScratchRoot::ScratchRoot() {
  char pattern[] = "/tmp/router-root-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) {
    ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    return;
  }
  path_ = made;
  chmod(path_.c_str(), 0755);
  for (const char* directory : {"flash", "ram", "rw"}) makeDirectory(directory);
}

ScratchRoot::~ScratchRoot() {
  for (auto mount = mounts_.rbegin(); mount != mounts_.rend(); ++mount)
    umount2(mount->c_str(), MNT_DETACH);
  if (!path_.empty()) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
}

std::string ScratchRoot::at(const std::string& relative) const {
  if (!relative.empty() && relative[0] == '/') return path_ + relative;
  return path_ + "/" + relative;
}

void ScratchRoot::write(const std::string& relative, const std::string& content,
                        unsigned mode) const {
  const std::string target = at(relative);
  fs::create_directories(fs::path(target).parent_path());
  writeFile(target, content);
  chmod(target.c_str(), mode);
}

std::string ScratchRoot::read(const std::string& relative) const { return readFile(at(relative)); }

bool ScratchRoot::exists(const std::string& relative) const {
  struct stat info;
  return lstat(at(relative).c_str(), &info) == 0;
}

void ScratchRoot::makeDirectory(const std::string& relative) const {
  fs::create_directories(at(relative));
}

bool ScratchRoot::mountTmpfs(const std::string& relative, uint64_t sizeBytes) {
  const std::string target = at(relative);
  fs::create_directories(target);
  const std::string options = "size=" + std::to_string(sizeBytes);
  if (mount("tmpfs", target.c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
  mounts_.push_back(target);
  return true;
}

void ScratchRoot::installBinary() {
  const std::string binary = INSTALLER_BINARY;
  // A sanitizer build reads /proc while it starts; give the chrooted run one.
  const std::string proc = at("proc");
  fs::create_directories(proc);
  if (mount("proc", proc.c_str(), "proc", 0, nullptr) == 0) mounts_.push_back(proc);
  fs::copy_file(binary, at("installer"), fs::copy_options::overwrite_existing);
  // Copy every shared object the binary loads, under the same path.
  const RunResult listing = runProgram({"/usr/bin/ldd", binary});
  std::istringstream lines(listing.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      if (word.empty() || word[0] != '/') continue;
      const std::string target = at(word);
      fs::create_directories(fs::path(target).parent_path());
      std::error_code ignored;
      fs::copy_file(fs::canonical(word), target, fs::copy_options::overwrite_existing, ignored);
    }
  }
}

namespace {

// The contents of an unlinked temporary file, from its start.
std::string drain(FILE* file) {
  std::string text;
  rewind(file);
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  fclose(file);
  return text;
}

// Standard input, output and error go through unlinked temporary files, so that no
// size of input or output can block the program or the test.
RunResult run(const std::vector<std::string>& argv, const std::string& stdinData,
              const std::vector<std::string>& environment, const std::string& chrootTo) {
  FILE* in = tmpfile();
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  fwrite(stdinData.data(), 1, stdinData.size(), in);
  fflush(in);
  rewind(in);
  std::cout.flush();
  const pid_t child = fork();
  if (child == 0) {
    dup2(fileno(in), 0);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    // The programs change root, and LeakSanitizer cannot read /proc from inside a
    // scratch root; in a sanitizer build its exit check would fail every run.
    setenv("ASAN_OPTIONS", "detect_leaks=0", 0);
    for (const std::string& setting : environment) {
      const size_t equals = setting.find('=');
      if (equals == std::string::npos)
        unsetenv(setting.c_str());
      else
        setenv(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str(), 1);
    }
    if (!chrootTo.empty() && (chroot(chrootTo.c_str()) != 0 || chdir("/") != 0)) _exit(126);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  fclose(in);
  return RunResult{WIFEXITED(status) ? WEXITSTATUS(status) : -1, drain(out), drain(err)};
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& argv, const std::string& stdinData,
                     const std::vector<std::string>& environment) {
  return run(argv, stdinData, environment, "");
}

RunResult runInChroot(const ScratchRoot& root, const std::vector<std::string>& arguments,
                      const std::string& stdinData, const std::vector<std::string>& environment) {
  std::vector<std::string> argv = {"/installer"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run(argv, stdinData, environment, root.path());
}

RunResult runInstaller(const ScratchRoot& root, const std::vector<std::string>& arguments,
                       const std::string& stdinData, const std::vector<std::string>& environment) {
  std::vector<std::string> argv = {INSTALLER_BINARY, "-r", root.path()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return run(argv, stdinData, environment, "");
}

bool inRoot(const ScratchRoot& root, const std::function<void()>& body) {
  std::cout.flush();
  const pid_t child = fork();
  if (child == 0) {
    if (chroot(root.path().c_str()) != 0 || chdir("/") != 0) {
      ADD_FAILURE() << "chroot " << root.path() << ": " << strerror(errno);
      _exit(2);
    }
    body();
    std::cout.flush();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}
