// VNloader's update transfer: drives a transfer session over the update
// socket with the settings record and imageBuffer, prints what happens and
// chooses the exit status.
#pragma once

#include <cstdint>

#include "link/transfer_session.h"

// The transport under the transfer, so the reply handling runs without
// sockets. `send` gives the bytes sent or -1; `wait` 1 when a datagram is
// ready, 0 after timeoutMs, -1 when the wait failed; `receive` reads one
// datagram of at most size bytes and gives its length or -1; `drain` drops
// every datagram already queued (nullptr: nothing to drop).
struct UpdateLink {
    void* context;
    int (*send)(void* context, const std::uint8_t* data, int length);
    int (*wait)(void* context, int timeoutMs);
    int (*receive)(void* context, std::uint8_t* buffer, int size);
    int replyTimeoutMs;
    int (*drain)(void* context);
};

constexpr int TRANSFER_COMPLETED = 1;    // "File Transfered" printed
constexpr int TRANSFER_SEND_FAILED = 0;  // "transferFile sendto error" logged
constexpr int TRANSFER_REFUSED = -1;     // refused or unusable: end with exitStatus

// How a transfer ended and the status the process must exit with.
struct TransferOutcome {
    int result;
    int exitStatus;
};

// Waits for one reply: its length (at least REPLY_LENGTH), or 0 when none
// usable arrived (the reason has been logged). The buffer is zero-filled
// before the receive.
int receiveReply(const UpdateLink* link, std::uint8_t* buffer, int size);

// The session VNloader runs: imageBuffer between its bounds as loaded, with
// the settings record's packagedInput, partialEncrypt and setPassword.
TransferSetup loaderTransferSetup(int fileType);

// Sends imageBuffer (between its bounds) as fileType: page range, code-update
// packets with resends, finish packet. Rewrites the bounds of a plain DSP
// image to byte offsets.
TransferOutcome transferFile(const UpdateLink* link, int fileType);

// Loads settings.fileName, announces and transfers it, and warns about the
// power. Returns the process exit status.
int runUpdate(const UpdateLink* link);

// Thread entry: opens the update socket and ends the process with the
// status of runUpdate. Returns (ending only this thread) when the socket
// cannot be created or bound.
void UpdateThread(void* argument);
