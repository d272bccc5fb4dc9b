// VNloader's words for how a transfer ended, and the status its process
// ends with: one table for VNloader and for VNinfo, which reports them.
#pragma once

#include <cstddef>

#include "link/transfer_session.h"

// The message, its line end included ("transferFile sendto error" has none:
// it goes through logMessage). fileName is the input's name.
void transferEndText(const SessionOutcome& outcome, const char* fileName, char* text,
                     std::size_t size);
int transferExitStatus(const SessionOutcome& outcome);

// "Wrong receive length from Code Update Packet %d wanted %d, got %d\n"
#define WRONG_LENGTH_TEXT "Wrong receive length from Code Update Packet %d wanted %d, got %d\n"
