#include "cli/send_status.h"

#include "app/matrix_app.h"

#include "cli/cli_output.h"
#include "cli/commands.h"
#include "text/printable.h"

int SendExitStatus(const CTransferOutcome& outcome, bool bOutputLost)
{
    if (!outcome.bStarted || outcome.bLinkLost)
        return EXIT_CANNOT_START;
    // A cancel is what the person did last: it is the ending, even after records were given up.
    if (outcome.bCancelled)
        return EXIT_CANCELLED;
    if (outcome.GetEnding() != ETransferEnding::Complete)
        return EXIT_UNANSWERED;
    return bOutputLost ? EXIT_OUTPUT_LOST : EXIT_OK;
}

int CombineSendExitStatuses(const std::vector<int>& anStatuses)
{
    for (int nStatus : {EXIT_CANNOT_START, EXIT_UNANSWERED, EXIT_CANCELLED, EXIT_OUTPUT_LOST}) {
        for (int nGiven : anStatuses) {
            if (nGiven == nStatus)
                return nStatus;
        }
    }
    return EXIT_OK;
}

std::vector<std::string> DescribeSendOutcome(const CTransferOutcome& outcome, const std::string& strFile,
                                             uint32_t nMaxWrongReplies, uint32_t nGiveUpAfterRecords)
{
    std::vector<std::string> astrSentences;
    if (!outcome.bStarted) {
        if (outcome.fileProblem.eKind == EPatternFileProblem::NoWholeRecord)
            astrSentences.push_back(FormatText("%s has only %u bytes, less than one record; nothing was sent.",
                                               strFile.c_str(), outcome.nTrailingBytes));
        return astrSentences;
    }
    if (outcome.bLinkLost)
        astrSentences.push_back(FormatText("the link to COM%d was lost after %u of %u records; the update is not complete.",
                                           outcome.nPort, outcome.nHandled, outcome.nRecords));
    if (outcome.nTrailingBytes > 0)
        astrSentences.push_back(FormatText("the last %u bytes of %s are less than one record and were not sent.",
                                           outcome.nTrailingBytes, strFile.c_str()));
    if (outcome.nUnanswered > outcome.nWrongGivenUp)
        astrSentences.push_back(
            FormatText("%u record(s) got no reply after five sends.", outcome.nUnanswered - outcome.nWrongGivenUp));
    if (outcome.nWrongGivenUp > 0)
        astrSentences.push_back(FormatText("%u record(s) were answered wrongly %u times in a row and given up.",
                                           outcome.nWrongGivenUp, nMaxWrongReplies));
    if (outcome.bGaveUp)
        astrSentences.push_back(
            FormatText("stopped after %u records in a row got no reply; %u of %u records were not sent.",
                       nGiveUpAfterRecords, outcome.nRecords - outcome.nHandled, outcome.nRecords));
    return astrSentences;
}

void RecordFinishedTransfer(CMatrixApp& app, CUpdateRecorder& recorder, const CTransferOutcome& outcome,
                            const std::vector<uint8_t>& data, const std::string& strReason, double dSeconds)
{
    const int nProgramPort = app.m_nComPort;
    app.m_nComPort = outcome.nPort;
    if (dSeconds >= 0.0)
        recorder.SetDurationMs(static_cast<uint32_t>(dSeconds * 1000.0 + 0.5));
    std::string strLogError;
    if (!recorder.Finish(app, outcome, data, strReason, &strLogError) && TakeUpdateLogWarning())
        PrintError("matrixctl send: warning: the update log was not written: %s\n", EscapeForTerminal(strLogError).c_str());
    app.m_nComPort = nProgramPort;
}
