// The code-update packets judged against the finish packet that closes
// them, as the device judges them before it writes the image.
#pragma once

#include "sim_device.h"

// Every packet kept must lie in [first, end), carry min(4, pages left)
// pages, and carry flags that fit the image: no FLAG_ENCRYPTED in a plain
// one; in a packaged one, the same flags on every packet after the first.
// Each kind of misfit is reported once, in the line and as a failed check.
bool packetsFitFinish(int first, int end, bool packaged, SimAnswer* answer);
