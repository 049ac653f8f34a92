#pragma once

// Shared pieces of the package file benchmarks: scratch directories, measured child
// processes and medians.

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// A directory under /tmp removed with everything in it at the end.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char pattern[] = "/tmp/pkgfile-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      perror("mkdtemp");
      std::exit(1);
    }
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Wall-clock and processor time of the work between start() and stop(). The machines
// are shared, so processor time is the steadier of the two.
class Timer {
 public:
  void start() {
    wallStart_ = std::chrono::steady_clock::now();
    cpuStart_ = cpuNow();
  }
  void stop() {
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_).count();
    cpu = cpuNow() - cpuStart_;
  }
  double wall = 0;
  double cpu = 0;

 private:
  static double cpuNow() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
  }
  std::chrono::steady_clock::time_point wallStart_;
  double cpuStart_ = 0;
};

// What one measured child reported.
struct Sample {
  Timer time;                    // as timed by the child around its work
  long peakRssKb = 0;            // the child's peak resident set
  unsigned long long value = 0;  // a count the child reports (bytes read, ...)
  bool ok = false;
};

// Runs body in a forked child, so that its peak memory is its own. body times its
// work and returns the value to report; a false result (or a crash) marks the
// sample failed.
inline Sample measureInChild(
    const std::function<bool(Timer& time, unsigned long long& value)>& body) {
  int channel[2];
  if (pipe(channel) != 0) return {};
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    Sample sample;
    sample.ok = body(sample.time, sample.value);
    if (write(channel[1], &sample, sizeof sample) != sizeof sample) _exit(2);
    _exit(0);
  }
  close(channel[1]);
  Sample sample;
  const bool reported = read(channel[0], &sample, sizeof sample) == sizeof sample;
  close(channel[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  sample.ok = reported && sample.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  sample.peakRssKb = usage.ru_maxrss;
  return sample;
}

inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
