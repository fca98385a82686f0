#include "cli/progress_line.h"

#include <cstdio>

namespace {

constexpr int UNKNOWN_WIDTH = 80;
constexpr int MAX_BAR = 40;
constexpr int MIN_BAR = 10;

} // namespace

COutputChoice ChooseOutputMode(bool bQuiet, bool bVerbose, bool bOutputIsTerminal, bool bErrorIsTerminal)
{
    COutputChoice choice;
    choice.bShowBar = !bQuiet && bErrorIsTerminal;
    if (bQuiet)
        choice.eMode = EOutputMode::Quiet;
    else if (!bVerbose && bOutputIsTerminal && choice.bShowBar)
        choice.eMode = EOutputMode::Important;
    else
        choice.eMode = EOutputMode::Every;
    return choice;
}

bool ShouldPrintStatus(EOutputMode eMode, EStatusTextKind eKind)
{
    switch (eMode) {
    case EOutputMode::Quiet: return false;
    case EOutputMode::Every: return true;
    case EOutputMode::Important:
        // The bar says these: the start, which record goes out, a record answered well.
        return eKind != EStatusTextKind::Starting && eKind != EStatusTextKind::Sending
               && eKind != EStatusTextKind::Answered;
    }
    return true;
}

std::string FormatProgressLine(const CProgressFacts& facts, int nColumns)
{
    const int nRoom = (nColumns > 0 ? nColumns : UNKNOWN_WIDTH) - 1;
    if (nRoom <= 0)
        return std::string();
    const uint64_t nTotal = facts.nTotal;
    const uint64_t nDone = facts.nDone < nTotal ? facts.nDone : nTotal;
    const int nPercent = nTotal > 0 ? static_cast<int>(nDone * 100 / nTotal) : 0;

    char szCount[48];
    std::snprintf(szCount, sizeof szCount, "%llu/%llu", static_cast<unsigned long long>(nDone),
                  static_cast<unsigned long long>(nTotal));
    char szPercent[16];
    std::snprintf(szPercent, sizeof szPercent, "  %3d%%", nPercent);
    char szRate[32] = "  -- rec/s";
    if (facts.dRecordsPerSecond > 0.0)
        std::snprintf(szRate, sizeof szRate, "  %.1f rec/s", facts.dRecordsPerSecond);
    char szLeft[32] = "  --:-- left";
    if (facts.nSecondsLeft >= 0)
        std::snprintf(szLeft, sizeof szLeft, "  %ld:%02ld left", facts.nSecondsLeft / 60, facts.nSecondsLeft % 60);

    // The parts after the bar, and the order in which they are given up when room runs out.
    const std::string astrParts[5] = {std::string(" ") + szCount, " records", szPercent, szLeft, szRate};
    const int anDropOrder[4] = {4, 3, 1, 2};
    bool abKept[5] = {true, true, true, true, true};
    auto compose = [&astrParts, &abKept]() {
        std::string strTail;
        for (int i = 0; i < 5; ++i) {
            if (abKept[i])
                strTail += astrParts[i];
        }
        return strTail;
    };
    auto barRoom = [&]() { return nRoom - 2 - static_cast<int>(compose().size()); };
    int nDropped = 0;
    while (nDropped < 4 && barRoom() < MIN_BAR)
        abKept[anDropOrder[nDropped++]] = false;
    std::string strLine;
    if (barRoom() >= MIN_BAR) {
        const int nWidth = barRoom() < MAX_BAR ? barRoom() : MAX_BAR;
        const int nFilled = nTotal > 0 ? static_cast<int>(nDone * static_cast<uint64_t>(nWidth) / nTotal) : 0;
        strLine.push_back('[');
        strLine.append(static_cast<size_t>(nFilled), '#').append(static_cast<size_t>(nWidth - nFilled), '.');
        strLine.push_back(']');
        strLine += compose();
    } else {
        // No room for a bar: the count leads, with what else fits beside it.
        while (nDropped > 0 && static_cast<int>(compose().size()) - 1 + static_cast<int>(
                                   astrParts[anDropOrder[nDropped - 1]].size()) <= nRoom)
            abKept[anDropOrder[--nDropped]] = true;
        strLine = compose().substr(1);
    }
    // A terminal too narrow even for the count gets what fits.
    if (strLine.size() > static_cast<size_t>(nRoom))
        strLine.resize(static_cast<size_t>(nRoom));
    return strLine;
}
