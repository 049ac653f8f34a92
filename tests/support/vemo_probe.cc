// Stands in for the boot-stage program "/bin/vemo" in whole-program tests. It is
// linked statically, so that it runs inside the "/flash" root, where no shared
// library is found. It says on standard output how it was started and what it
// sees, and ends with status 3, which the installer must not pass on.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* presence(const char* path) {
  struct stat info;
  return lstat(path, &info) == 0 ? "present" : "absent";
}

// The post-install log as the installer leaves it while the boot stage runs.
std::string describePostlog() {
  const int fd = open("/postlog", O_RDONLY);
  if (fd < 0) return "absent";
  size_t size = 0;
  size_t nonZero = 0;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    size += static_cast<size_t>(n);
    nonZero += static_cast<size_t>(n - std::count(buffer, buffer + n, '\0'));
  }
  close(fd);
  return std::to_string(size) + " bytes, " +
         (nonZero == 0 ? std::string("all zero") : std::to_string(nonZero) + " not zero");
}

}  // namespace

int main(int argc, char** argv) {
  char cwd[256] = "?";
  if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '?';
  printf("vemo: argc=%d argv0=%s cwd=%s\n", argc, argv[0], cwd);
  printf("vemo: /bin/vemo %s, /flash %s, /PCKGS_CHANGED %s\n", presence("/bin/vemo"),
         presence("/flash"), presence("/PCKGS_CHANGED"));

  std::vector<std::string> names;
  if (DIR* bin = opendir("/bin")) {
    while (const dirent* entry = readdir(bin))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    closedir(bin);
  }
  std::sort(names.begin(), names.end());
  std::string listing;
  for (const std::string& name : names) listing += " " + name;
  printf("vemo: /bin holds%s\n", listing.c_str());
  printf("vemo: /postlog %s\n", describePostlog().c_str());
  return 3;
}
