#pragma once

#include <string>
#include <string_view>

// Names and texts from package files, router roots and the command line as the
// tool's readable output shows them: a control character must not move the cursor,
// recolour the terminal or forge a line of its own. Line feed and tab become "\n"
// and "\t", any other byte below 0x20 and 0x7F "\xNN" (lowercase hex), and a
// backslash "\\" so that the escapes stay unambiguous. Bytes from 0x80 up are kept.
std::string printable(std::string_view text);
