#pragma once
// Text from files, archives and directories shown to a person: a line break in it would forge
// a line of output, and an escape sequence would reach the terminal.

#include <string>
#include <string_view>

// The text with every control character (below 0x20, and 0x7F) written as an escape:
// \n, \r, \t, \\ for the backslash itself, \xHH for the others. Other bytes (UTF-8 included)
// are kept as they are.
std::string EscapeForTerminal(std::string_view svText);
