#include "driver/listing.h"

#include <ctime>
#include <iomanip>
#include <iostream>

#include "driver/run_modes.h"
#include "pdb/repository.h"
#include "platform/support_library.h"

namespace {

// "Jan/01/1970 00:00:00" in UTC; empty when the time cannot be converted.
std::string buildTimeText(uint32_t buildTime) {
  const time_t seconds = buildTime;
  struct tm broken;
  if (gmtime_r(&seconds, &broken) == nullptr) return {};
  char text[128];
  const size_t length = strftime(text, sizeof text, "%b/%d/%Y %H:%M:%S", &broken);
  return std::string(text, length);
}

}  // namespace

void printListing(const Repository& repository, std::ostream& out) {
  // Left-aligned columns: short items are padded on the right, long ones printed
  // whole, so the header lines up with the hyphen rule below it.
  const std::ios_base::fmtflags saved = out.flags();
  out << std::left;
  out << std::setw(16) << "Name" << "    " << std::setw(13) << "Version" << " "
      << std::setw(20) << "Built" << std::setw(40) << "Note" << '\n';
  out << std::string(94, '-') << '\n';
  for (const auto& package : repository.packages) {
    out << std::setw(16) << package->name << " " << (package->disabled ? "X" : " ")
        << (package->bundle.name.empty() ? "  " : "B ") << std::setw(13)
        << version2string(package->version) << " " << std::setw(20)
        << buildTimeText(package->buildTime) << " " << std::setw(40) << package->note << '\n';
  }
  out.flags(saved);
}

int runListing(Repository& repository) {
  printListing(repository, std::cout);
  return 0;
}
