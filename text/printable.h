#pragma once
// Names from outside (files, ports, links, archive entries) and text from files, shown to a
// person: a line break in them would forge a line of output, and an escape sequence would
// reach the terminal (retitle it, clear it, ring it). Every message that shows such a name
// passes it through here. Names are worded into sentences in every part above the system layer
// (the port and file sentences of the core, the dialogs' and matrixctl's own), so the escaping
// sits beneath all of them, in text/.

#include <string>
#include <string_view>

// The text as it can be shown safely. Text with nothing to escape comes back unchanged (a
// Windows path keeps its single backslashes). Otherwise control characters (below 0x20, DEL
// 0x7F) become \n, \r, \t or \xHH, the C1 controls U+0080 to U+009F become \u0080 to \u009f,
// bytes that are no UTF-8 become \xHH, and each backslash is doubled, so that the escapes
// can be told from the name's own characters. Other UTF-8 characters are kept.
std::string EscapeForTerminal(std::string_view svText);
