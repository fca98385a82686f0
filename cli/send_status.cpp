#include "cli/send_status.h"

#include "cli/commands.h"

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
