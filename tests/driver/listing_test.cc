#include "driver/listing.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "support/console_capture.h"
#include "support/console_text.h"

namespace {

std::string blanks(size_t count) { return std::string(count, ' '); }

TEST(Listing, ColumnsMarkersAndTimesInArrayOrder) {
  Repository& repository = freshRepository();
  // Name, version, build time, disabled, bundle, note.
  const std::tuple<const char*, Version, uint32_t, bool, const char*, std::string> rows[] = {
      {"system", 0x062A6603, 0, false, "", ""},
      {"wireless", 0x062A6201, 1700000000, true, "core", "radio drivers"},
      {"ntp", 0x06296305, 951782400, true, "", ""},
      {"a-very-long-package-name", 0x062A6600, 4294967295u, false, "r", std::string(45, 'n')}};
  for (const auto& [name, version, buildTime, disabled, bundle, note] : rows) {
    auto& package = repository.packages.emplace_back(new InstalledPackage(name));
    package->version = version;
    package->buildTime = buildTime;
    package->disabled = disabled;
    package->bundle.name = bundle;
    package->note = note;
  }
  std::ostringstream out;
  out << std::right;
  printListing(repository, out);
  EXPECT_EQ(out.str(), kListingHeader +
      "system          " " " " " "  " "6.42.3       " " " "Jan/01/1970 00:00:00" " " + blanks(40) + "\n"
      "wireless        " " " "X" "B " "6.42beta1    " " " "Nov/14/2023 22:13:20" " " "radio drivers" +
      blanks(27) + "\n"
      "ntp             " " " "X" "  " "6.41rc5      " " " "Feb/29/2000 00:00:00" " " + blanks(40) + "\n"
      "a-very-long-package-name" " " " " "B " "6.42         " " " "Feb/07/2106 06:28:15" " " +
      std::string(45, 'n') + "\n");
  EXPECT_EQ(out.flags() & std::ios::adjustfield, std::ios::right);
  freshRepository();
}

}  // namespace
