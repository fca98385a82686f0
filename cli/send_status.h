#pragma once
// The exit status of `matrixctl send`, decided in one place from how the transfer ended.

#include "transfer/record_transfer.h"

// 0 every record confirmed; 2 nothing sent (the file or the port could not be used) or the link
// lost; 4 cancelled, whatever else happened; 3 records given up or the transfer stopped by
// --give-up-after; 5 a complete update whose standard output was closed on the way.
int SendExitStatus(const CTransferOutcome& outcome, bool bOutputLost);
