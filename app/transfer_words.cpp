#include "app/transfer_words.h"

#include <cstdio>

#include "image/image_kinds.h"

void transferEndText(const SessionOutcome& outcome, const char* fileName, char* text,
                     std::size_t size)
{
    const char* fixed = "";
    switch (outcome.reason) {
    case SessionReason::RUNNING: break;
    case SessionReason::COMPLETED: fixed = "File Transfered\n"; break;
    case SessionReason::SEND_FAILED: fixed = "transferFile sendto error"; break;
    case SessionReason::WRONG_PASSWORD: fixed = "You entered the wrong Set Password\n"; break;
    case SessionReason::BAD_CRC: fixed = "Received bad CRC, exiting\n"; break;
    case SessionReason::BAD_VERSION: fixed = "Received bad version, exiting\n"; break;
    case SessionReason::UNKNOWN_TYPE: fixed = "Unknown file type\n"; break;
    case SessionReason::FINISH_UNANSWERED:
        // The finish packet's number is 0.
        std::snprintf(text, size, WRONG_LENGTH_TEXT, 0, REPLY_LENGTH, outcome.detail);
        return;
    case SessionReason::FINISH_REFUSED:
        std::snprintf(text, size, "Received a NACK from packet %d\n", outcome.detail);
        return;
    case SessionReason::NOTHING_TO_SEND:
        std::snprintf(text, size, "Nothing to send: %s holds no image data\n", fileName);
        return;
    case SessionReason::DSP_TOO_LARGE:
        std::snprintf(text, size, DSP_OVER_ALLOTMENT_TEXT, outcome.detail);
        return;
    case SessionReason::IMAGE_TOO_LARGE:
        std::snprintf(text, size, IMAGE_OVER_ALLOTMENT_TEXT, outcome.detail, outcome.allotment);
        return;
    }
    std::snprintf(text, size, "%s", fixed);
}

int transferExitStatus(const SessionOutcome& outcome)
{
    switch (outcome.reason) {
    case SessionReason::WRONG_PASSWORD:
    case SessionReason::UNKNOWN_TYPE: return -1;
    case SessionReason::BAD_CRC:
    case SessionReason::BAD_VERSION:
    case SessionReason::FINISH_UNANSWERED:
    case SessionReason::FINISH_REFUSED:
    case SessionReason::DSP_TOO_LARGE:
    case SessionReason::IMAGE_TOO_LARGE: return 0;
    default: return 1;
    }
}
