#include "driver/listing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/console_capture.h"
#include "support/scratch_root.h"

namespace {

std::string blanks(size_t count) { return std::string(count, ' '); }

const std::string kHeader = "Name" + blanks(12) + "    Version" + blanks(6) + " Built" + blanks(15) +
                            "Note" + blanks(36) + "\n" + std::string(94, '-') + "\n";

TEST(Listing, ColumnsMarkersAndTimesInArrayOrder) {
  Repository& repository = freshRepository();
  const struct {
    const char* name;
    Version version;
    uint32_t buildTime;
    bool disabled;
    const char* bundle;
    std::string note;
  } rows[] = {{"system", 0x062A6603, 0, false, "", ""},
              {"wireless", 0x062A6201, 1700000000, true, "core", "radio drivers"},
              {"ntp", 0x06296305, 951782400, true, "", ""},
              {"a-very-long-package-name", 0x062A6600, 4294967295u, false, "r", std::string(45, 'n')}};
  for (const auto& row : rows) {
    auto package = std::make_unique<InstalledPackage>(row.name);
    package->version = row.version;
    package->buildTime = row.buildTime;
    package->disabled = row.disabled;
    package->bundle.name = row.bundle;
    package->note = row.note;
    repository.packages.push_back(std::move(package));
  }
  std::ostringstream out;
  out << std::right;
  printListing(repository, out);
  EXPECT_EQ(out.str(), kHeader +
      "system          " " " " " "  " "6.42.3       " " " "Jan/01/1970 00:00:00" " " + blanks(40) + "\n"
      "wireless        " " " "X" "B " "6.42beta1    " " " "Nov/14/2023 22:13:20" " " "radio drivers" +
      blanks(27) + "\n"
      "ntp             " " " "X" "  " "6.41rc5      " " " "Feb/29/2000 00:00:00" " " + blanks(40) + "\n"
      "a-very-long-package-name" " " " " "B " "6.42         " " " "Feb/07/2106 06:28:15" " " +
      std::string(45, 'n') + "\n");
  EXPECT_EQ(out.flags() & std::ios::adjustfield, std::ios::right);
  freshRepository();
}

TEST(Listing, ShowModeOfTheProgram) {
  ScratchRoot bare;
  EXPECT_EQ(runInstaller(bare, {"--show"}).out, "WARNING: could not open repo\n" + kHeader);
  EXPECT_EQ(runInstaller(bare, {"-q", "--show"}).out, kHeader);
  ScratchRoot root;
  root.makeDirectory("flash/var/pdb");
  EXPECT_EQ(runInstaller(root, {"--show"}).out, kHeader);
  root.write("flash/var/pdb/wireless/version", "103441920 0\n");
  root.write("flash/var/pdb/wireless/bundle", "core\n");
  root.write("flash/var/pdb/wireless/disabled", "auto\n");
  const RunResult result = runInstaller(root, {"-q", "--show"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, kHeader + "wireless        " " " "X" "B " "6.42         " " " +
                            "Jan/01/1970 00:00:00" " " + blanks(40) + "\n");
}

}  // namespace
