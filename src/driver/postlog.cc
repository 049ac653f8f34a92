#include "driver/postlog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <fstream>
#include <string>

#include "pdb/repository.h"
#include "platform/file_handles.h"

namespace {

constexpr char kPostlog[] = "/flash/postlog";

}  // namespace

bool postlogConsumed = false;

void takeOverPostlog(Repository& repository) {
  {
    std::ifstream in(kPostlog, std::ios::binary);
    std::string line;
    // A last line without its line feed is not whole and is not taken.
    while (std::getline(in, line) && !in.eof()) repository.messageLog.push_back(line);
  }
  std::ofstream out(kPostlog, std::ios::binary | std::ios::trunc);
  out << std::string(4096, '\0');
  postlogConsumed = true;
}

void writePostlog(const Repository& repository) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (postlogConsumed)
    flags |= O_TRUNC;
  else if (repository.messageLog.empty())
    return;
  else
    flags |= O_APPEND;
  const FileDescriptor log(open(kPostlog, flags, 0666));
  if (!log.valid()) return;
  sync();
  std::string text;
  for (const std::string& message : repository.messageLog) text += message + '\n';
  for (size_t done = 0; done < text.size();) {
    const ssize_t written = write(log.get(), text.data() + done, text.size() - done);
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      return;
    }
    done += static_cast<size_t>(written);
  }
  // The log of a run is on the flash before the run ends.
  fsync(log.get());
}
