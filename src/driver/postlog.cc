#include "driver/postlog.h"

#include <unistd.h>

#include <fstream>
#include <string>

#include "pdb/repository.h"

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
  std::ios::openmode mode = std::ios::binary;
  if (postlogConsumed)
    mode |= std::ios::trunc;
  else if (repository.messageLog.empty())
    return;
  else
    mode |= std::ios::app;
  std::ofstream out(kPostlog, mode);
  sync();
  for (const std::string& message : repository.messageLog) out << message << '\n';
}
