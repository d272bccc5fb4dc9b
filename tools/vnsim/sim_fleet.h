// A fleet of emulated devices in one process: one socket on port 69 per
// loopback address, all served by one thread with one poll loop, each
// device with its own state, checks and verdict.
#pragma once

// Runs the fleet that --devices names until every device has had its
// finish packet (and a second of quiet for repeated ones), or --idle-ms
// passes without a packet; returns the exit status.
int runFleet();
