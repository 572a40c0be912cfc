// Text from input files shown to the user: file names, quoted numbers and
// names may hold any byte, and a control byte on a terminal can move the
// cursor, rewrite lines or change the title (escape injection).
#pragma once

#include <string>

// Text with every byte below 32 except the tab, and 127, written as \xNN
// (lower-case hex). Other bytes, UTF-8 among them, stay as they are.
std::string Printable(const std::string& Text);
