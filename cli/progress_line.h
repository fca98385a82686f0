#pragma once
// How `matrixctl send` shows a transfer: which status lines reach standard output, and the
// live progress line on a terminal. Pure policy; the host (cli/cli_host.cpp) writes them.

#include <cstdint>
#include <string>

#include "transfer/record_transfer.h"

enum class EOutputMode {
    Quiet,     // only the final text and what follows it
    Important, // a terminal with the progress bar: resends, missing replies, the end
    Every,     // every status line (--verbose, a file or a pipe, a terminal without a bar)
};

struct COutputChoice {
    EOutputMode eMode = EOutputMode::Every;
    bool bShowBar = false; // the live line, on standard error
};

// --quiet and --verbose as given, and which of the two outputs are terminals. The bar needs
// standard error on a terminal; the lines are cut down to the important ones only where the
// bar stands in for them and standard output is read by a person.
COutputChoice ChooseOutputMode(bool bQuiet, bool bVerbose, bool bOutputIsTerminal, bool bErrorIsTerminal);

// Whether a status text of the transfer is printed in that mode. The final text (and every
// text the transfer may add later, which counts as Other) is always kept.
bool ShouldPrintStatus(EOutputMode eMode, EStatusTextKind eKind);

// What the live line tells.
struct CProgressFacts {
    uint64_t nDone = 0;       // records handled
    uint64_t nTotal = 0;      // records in the file
    double dRecordsPerSecond = 0.0; // 0: not known yet
    long nSecondsLeft = -1;   // -1: not known yet
};

// The live line for a terminal nColumns wide (0: not known, taken as 80): "[####....] 12/300
// records  4%  9.8 rec/s  0:29 left". It never takes more than nColumns - 1 columns (a
// character in the last column makes many terminals wrap, and the next redraw would garble
// two lines). As the room runs out the speed goes first, then the time left, the word
// "records" and the percentage; then the bar itself, and what fits of the rest beside the
// count comes back. ASCII only: one byte is one column.
std::string FormatProgressLine(const CProgressFacts& facts, int nColumns);
