// Loaded with LD_PRELOAD into a run of the installer: makes the n-th call of the
// chosen file operations fail with an error of our choosing, or ends the process
// with SIGKILL there, as a full disk, a failing flash or a power cut would.
//
// Environment:
//   FAULT_CALLS  the operations counted, separated by commas: write (writev too),
//                close (fclose too), rename, unlink, symlink, fsync (fdatasync too),
//                sync_file_range
//   FAULT_AT     which counted call fails, from 1; unset or 0: none
//   FAULT_ERROR  the errno value it fails with, or "kill"
//   FAULT_AFTER  "sync": count only from the first call of sync() on
//   FAULT_TALLY  a file that receives the number of counted calls when the process
//                exits (opened at start, so that a change of root does not matter)
//   FAULT_NO_SYNC  when set, sync() does not reach the disks: nothing a test can see
//                depends on it, and each call waits for every disk of the machine
//
// Writes, closes and syncs count only for descriptors other than 0, 1 and 2, and
// closes only for descriptors open for writing, so that console output and reading
// files do not shift the count.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

namespace {

enum Kind : unsigned {
  Write = 1,
  Close = 2,
  Rename = 4,
  Unlink = 8,
  Symlink = 16,
  Fsync = 32,
  SyncRange = 64,
};

unsigned counted = 0;
unsigned long failAt = 0;
int failError = EIO;
bool killing = false;
bool syncing = true;
bool started = true;
unsigned long calls = 0;
int tallyFd = -1;

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void configure() {
  const struct {
    const char* name;
    Kind kind;
  } names[] = {{"write", Write},   {"close", Close}, {"rename", Rename},
               {"unlink", Unlink}, {"symlink", Symlink}, {"fsync", Fsync},
               {"sync_file_range", SyncRange}};
  if (const char* list = getenv("FAULT_CALLS")) {
    char copy[256];
    snprintf(copy, sizeof copy, "%s", list);
    char* state = nullptr;
    for (char* word = strtok_r(copy, ",", &state); word; word = strtok_r(nullptr, ",", &state))
      for (const auto& entry : names)
        if (strcmp(word, entry.name) == 0) counted |= entry.kind;
  }
  if (const char* at = getenv("FAULT_AT")) failAt = strtoul(at, nullptr, 10);
  if (const char* error = getenv("FAULT_ERROR"); error && *error != '\0') {
    killing = strcmp(error, "kill") == 0;
    if (!killing) failError = atoi(error);
  }
  syncing = getenv("FAULT_NO_SYNC") == nullptr;
  if (const char* after = getenv("FAULT_AFTER")) started = strcmp(after, "sync") != 0;
  if (const char* tally = getenv("FAULT_TALLY"))
    tallyFd = open(tally, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

__attribute__((destructor)) void report() {
  if (tallyFd < 0) return;
  char text[32];
  const int length = snprintf(text, sizeof text, "%lu\n", calls);
  static auto realWrite = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (realWrite(tallyFd, text, static_cast<size_t>(length)) < 0) {
    // Nothing to report to: the test then finds no count.
  }
}

// Counts a call of kind; true when this is the one that fails (errno is then set).
// A call chosen for the kill does not come back.
bool strikes(Kind kind) {
  if ((counted & kind) == 0 || !started) return false;
  if (++calls != failAt) return false;
  if (killing) kill(getpid(), SIGKILL);
  errno = failError;
  return true;
}

bool writable(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
  static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  if (fd > 2 && strikes(Write)) return -1;
  return real(fd, data, size);
}

ssize_t writev(int fd, const struct iovec* vectors, int count) {
  static auto real = next<ssize_t (*)(int, const struct iovec*, int)>("writev");
  if (fd > 2 && strikes(Write)) return -1;
  return real(fd, vectors, count);
}

// A failed close still releases the descriptor, as the kernel's does.
int close(int fd) {
  static auto real = next<int (*)(int)>("close");
  if (fd > 2 && writable(fd) && strikes(Close)) {
    const int code = errno;
    real(fd);
    errno = code;
    return -1;
  }
  return real(fd);
}

int fclose(FILE* file) {
  static auto real = next<int (*)(FILE*)>("fclose");
  const int fd = fileno(file);
  if (fd > 2 && writable(fd) && strikes(Close)) {
    const int code = errno;
    real(file);
    errno = code;
    return EOF;
  }
  return real(file);
}

int rename(const char* from, const char* to) {
  static auto real = next<int (*)(const char*, const char*)>("rename");
  if (strikes(Rename)) return -1;
  return real(from, to);
}

int unlink(const char* path) {
  static auto real = next<int (*)(const char*)>("unlink");
  if (strikes(Unlink)) return -1;
  return real(path);
}

int symlink(const char* target, const char* path) {
  static auto real = next<int (*)(const char*, const char*)>("symlink");
  if (strikes(Symlink)) return -1;
  return real(target, path);
}

int fsync(int fd) {
  static auto real = next<int (*)(int)>("fsync");
  if (fd > 2 && strikes(Fsync)) return -1;
  return real(fd);
}

int fdatasync(int fd) {
  static auto real = next<int (*)(int)>("fdatasync");
  if (fd > 2 && strikes(Fsync)) return -1;
  return real(fd);
}

int sync_file_range(int fd, off64_t offset, off64_t count, unsigned int flags) {
  static auto real = next<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
  if (fd > 2 && strikes(SyncRange)) return -1;
  return real(fd, offset, count, flags);
}

void sync() {
  static auto real = next<void (*)()>("sync");
  started = true;
  if (syncing) real();
}

}  // extern "C"
