#pragma once
// The exit status of `matrixctl send`, decided in one place from how the transfer ended, and
// the sentences that say on stderr what went wrong on one port.

#include <string>
#include <vector>

#include "app/update_log.h"
#include "transfer/record_transfer.h"

// 0 every record confirmed; 2 nothing sent (the file or the port could not be used) or the link
// lost; 4 cancelled, whatever else happened; 3 records given up or the transfer stopped by
// --give-up-after; 5 a complete update whose standard output was closed on the way.
int SendExitStatus(const CTransferOutcome& outcome, bool bOutputLost);

// The most serious of several ports' exit statuses, for a send to all of them: 0 when every
// one is 0; else 2 before 3 before 4 (a port that could not be used outweighs one that was
// cancelled), and 5 only when all else completed.
int CombineSendExitStatuses(const std::vector<int>& anStatuses);

// What a send to one port says on stderr about how it ended (each sentence without the program's
// prefix or a line end): a lost link, a trailing piece, records without a reply or given up
// after wrong replies, a stop after silent records. strFile is printable already; the limits
// are the transfer's (0: none).
std::vector<std::string> DescribeSendOutcome(const CTransferOutcome& outcome, const std::string& strFile,
                                             uint32_t nMaxWrongReplies, uint32_t nGiveUpAfterRecords);

// Every transfer matrixctl ran, one per port (also one refused before a byte was sent), passes
// through here once it has ended: its line in the update log, from the recorder that noted its
// start and port. data: the file's bytes as checked (empty for a file that was refused);
// strReason: why nothing was sent, if so; dSeconds: the transfer's own time, or below 0 for the
// time since the recorder began. app is the program's own application object (its folders say
// where the log is); its port is set to the transfer's for the line and given back after. The log is the bench's record, not part of the update: a log
// that cannot be written is said once on stderr and changes neither output nor exit status.
void RecordFinishedTransfer(CMatrixApp& app, CUpdateRecorder& recorder, const CTransferOutcome& outcome,
                            const std::vector<uint8_t>& data, const std::string& strReason, double dSeconds);
