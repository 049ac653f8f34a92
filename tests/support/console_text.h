#pragma once

#include <string>
#include <vector>

// What a run printed on the console, taken apart: every drawing of the status line
// ("\x1b[?25l\r", the text, blanks over the rest of the old line, "\r\x1b[?25h") is
// taken out into statuses (the text without its padding), and the rest, the
// message lines, stays in lines.
struct ConsoleText {
  std::string lines;
  std::vector<std::string> statuses;
};

// The header row and rule of the installed-package listing: "Name" in 16 columns, four
// blanks, "Version" in 13, a blank, "Built" in 20, "Note" in 40.
inline const std::string kListingHeader = "Name" + std::string(16, ' ') + "Version" +
                                          std::string(7, ' ') + "Built" + std::string(15, ' ') +
                                          "Note" + std::string(36, ' ') + "\n" +
                                          std::string(94, '-') + "\n";

inline ConsoleText splitConsole(const std::string& out) {
  static const std::string kOpen = "\x1b[?25l\r";
  static const std::string kClose = "\r\x1b[?25h";
  ConsoleText text;
  size_t at = 0;
  for (;;) {
    const size_t open = out.find(kOpen, at);
    if (open == std::string::npos) break;
    const size_t close = out.find(kClose, open + kOpen.size());
    if (close == std::string::npos) break;
    text.lines += out.substr(at, open - at);
    std::string status = out.substr(open + kOpen.size(), close - open - kOpen.size());
    while (!status.empty() && status.back() == ' ') status.pop_back();
    text.statuses.push_back(status);
    at = close + kClose.size();
  }
  text.lines += out.substr(at);
  return text;
}
