#pragma once
// How `matrixctl send` to several ports shows them: one live line per port on a terminal, the
// table of the ports at the end, and the same as JSON. Pure policy; cli/gang_send.cpp writes it.

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/record_transfer.h"

// What one port's live line tells.
struct CGangLineFacts {
    int nPort = 0;
    uint64_t nDone = 0;  // records handled
    uint64_t nTotal = 0; // records in the file
    uint32_t nResends = 0;
    std::string strState; // "sending", "no reply", "complete", ...
    int nPortWidth = 0;   // columns of the widest port name among the lines, so that they align
};

// The live line of one port for a terminal nColumns wide (0: taken as 80): "COM3   [#####.....]
// 120/500  resends 2  sending". It never takes more than nColumns - 1 columns. As room runs out
// the bar goes first, then the resends; the port, the count and the state stay as long as they
// fit. ASCII only: one byte is one column.
std::string FormatGangLine(const CGangLineFacts& facts, int nColumns);

// One port's part of the end.
struct CGangPortResult {
    int nPort = 0;
    std::string strDevice;    // the device the port stands for, or empty when not known
    CTransferOutcome outcome; // bStarted false: the port could not be opened (or nothing was sent)
    double dSeconds = 0.0;    // from the start of its transfer to its end
    int nExitStatus = 0;      // the status a send to this port alone would have ended with
};

// One word (or two) for how a port ended: "complete", "no reply", "cancelled", "link lost",
// "stopped", "not opened".
std::string DescribeGangOutcome(const CTransferOutcome& outcome);

// The table of the ports: a header, then one row per port in the order given.
std::string FormatGangSummary(const std::vector<CGangPortResult>& aResults);

// The same as JSON (an object with the file, its records, the exit status and one object per
// port), without a line end after it.
std::string FormatGangJson(const std::vector<CGangPortResult>& aResults, const std::string& strFile,
                           uint32_t nRecords, int nExitStatus);
