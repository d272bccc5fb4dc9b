// How many devices may be in flight: a socket each, within the open-file
// limit that remains after trying to raise it.
#pragma once

// Descriptors kept for the standard files, the report, the debug log and
// its socket, and the image file being loaded.
constexpr int FLEET_SPARE_DESCRIPTORS = 16;

// wanted, or fewer when the limit does not allow it (saying so once on
// standard error).
int devicesInFlightAllowed(int wanted);
// Sockets that may be open at once, up to wanted (devices waiting for a
// finish answer keep theirs beyond -j), raising the limit silently.
int socketsAllowed(int wanted);
