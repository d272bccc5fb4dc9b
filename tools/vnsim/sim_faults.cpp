#include "sim_faults.h"

#include "sim_options.h"

namespace {
long repliesDropped = 0;
bool lateHeld = false;  // an answer held back until the finish packet's
SimAnswer late;

bool endsLoaderRun(std::uint8_t reason)
{
    return reason == NACK_WRONG_PASSWORD || reason == NACK_BAD_CRC || reason == NACK_BAD_VERSION;
}
}  // namespace

void applyFaults(SimAnswer* answer)
{
    if (repliesDropped < simOptions.dropReplies) {
        ++repliesDropped;
        answer->copies = 0;
        answer->endsRun = answer->isFinish;
        appendLine(answer, ": no reply (dropped, %ld of %ld)", repliesDropped,
                   simOptions.dropReplies);
        return;
    }
    bool injected = false;
    bool wrongPage = false;
    bool holdBack = false;
    const bool refused = answer->replyCode == TFTP_NACK;
    for (int i = 0; i < simOptions.faultCount; ++i) {
        SimFault& fault = simOptions.faults[i];
        if (fault.used || fault.target != answer->target)
            continue;
        fault.used = true;
        switch (fault.kind) {
        case FAULT_DUPLICATE:
            answer->copies = 2;
            break;
        case FAULT_NACK:
            answer->replyCode = TFTP_NACK;
            answer->nackReason = static_cast<std::uint8_t>(fault.value);
            injected = true;
            break;
        case FAULT_WRONG_PAGE:
            answer->replyPage = static_cast<std::uint16_t>(answer->replyPage + 1);
            wrongPage = true;
            break;
        case FAULT_REPLY_LENGTH:
            answer->replyLength = fault.value;
            break;
        case FAULT_LATE:
            holdBack = true;
            break;
        }
    }
    // A device that refuses its finish packet is not updated, whoever asked.
    if (answer->isFinish && answer->replyCode == TFTP_NACK && simState->finishSeen) {
        simState->finishRefused = true;
        if (!refused)
            noteFailure("finish: refused (injected nack %d)", answer->nackReason);
    }
    // The loader stops after the finish packet and after a refusal it
    // cannot get past; anything else it answers by sending again.
    answer->endsRun = answer->isFinish ||
                      (answer->replyLength == REPLY_LENGTH && answer->replyCode == TFTP_NACK &&
                       endsLoaderRun(answer->nackReason));

    if (answer->replyCode == TFTP_ACK)
        appendLine(answer, ": ack %d", answer->replyPage);
    else if (answer->replyCode == TFTP_NACK)
        appendLine(answer, ": nack %d", answer->nackReason);
    else
        appendLine(answer, ": reply code %d", answer->replyCode);
    if (injected)
        appendLine(answer, " (injected)");
    if (wrongPage)
        appendLine(answer, " (wrong page, injected)");
    if (answer->replyLength != REPLY_LENGTH)
        appendLine(answer, " as %d bytes (injected)", answer->replyLength);
    if (answer->copies == 2)
        appendLine(answer, ", sent twice (injected)");
    if (holdBack) {
        late = *answer;
        lateHeld = true;
        answer->copies = 0;
        appendLine(answer, ", held back until the finish (injected)");
    }
    if (answer->isFinish && lateHeld)
        appendLine(answer, ", after the held-back %s %d", late.replyCode == TFTP_ACK ? "ack" : "reply",
                   late.replyPage);
}

bool takeLateAnswer(SimAnswer* answer)
{
    if (!lateHeld)
        return false;
    lateHeld = false;
    *answer = late;
    return true;
}

void saveFaultProgress(SimFaultProgress* progress)
{
    progress->repliesDropped = repliesDropped;
    progress->lateHeld = lateHeld;
    progress->late = late;
    for (int i = 0; i < SIM_MAX_FAULTS; ++i)
        progress->used[i] = simOptions.faults[i].used;
}

void restoreFaultProgress(const SimFaultProgress* progress)
{
    repliesDropped = progress->repliesDropped;
    lateHeld = progress->lateHeld;
    late = progress->late;
    for (int i = 0; i < SIM_MAX_FAULTS; ++i)
        simOptions.faults[i].used = progress->used[i];
}
