#pragma once
// Text for a person on the standard outputs: whether each one is a terminal (a console window
// on Windows), how wide it is, and writing UTF-8 text to it so that the terminal shows it as it
// is meant, whatever the terminal's own code page. Which lines to show and how a progress line
// is laid out is the front end's business; this is only what each system does with them.

#include <string_view>

enum class EConsoleStream {
    Output, // standard output
    Error,  // standard error
};

// For as long as it lives, the standard outputs are ready for text to a person: on Windows a
// console is asked to follow terminal sequences (its previous mode comes back afterwards). One
// per program, made before anything is written.
class CConsoleSession {
public:
    CConsoleSession();
    ~CConsoleSession();
    CConsoleSession(const CConsoleSession&) = delete;
    CConsoleSession& operator=(const CConsoleSession&) = delete;
};

// Whether the stream is a terminal (a console window on Windows), not a file or a pipe.
bool IsConsoleTerminal(EConsoleStream eStream);

// The terminal's width in columns; 0 when the stream is no terminal or does not tell.
int GetConsoleColumns(EConsoleStream eStream);

// Whether the terminal follows cursor sequences (erase to the end of the line): false for a
// Windows console that refused them and for a terminal that says it is dumb.
bool DoesConsoleFollowSequences(EConsoleStream eStream);

// Writes UTF-8 text. A console window gets it as wide characters, so that it shows whatever
// code page it has; a file or a pipe gets the UTF-8 bytes, with "\n" as the system's line end
// (CRLF on Windows). False when the text could not all be written (a reader that went away).
bool WriteConsoleText(EConsoleStream eStream, std::string_view svText);
