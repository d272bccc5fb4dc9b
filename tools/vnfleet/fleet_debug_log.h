// The devices' debug datagrams (UDP port 9029) into a file, as VNloader
// prints them, when the port is free.
#pragma once

#include <cstdio>

#include "platform/platform.h"

struct DebugLog {
    PlatformSocket sock;  // PLATFORM_NO_SOCKET: no log
    std::FILE* file;
};

// Binds the debug port when file is given; says so on standard error when
// the port is taken, and the run goes on without the log.
DebugLog openDebugLog(std::FILE* file);
// Reads one datagram and writes its Dbg> line.
void copyDebugLine(DebugLog* log);
// A device's last words follow its last reply: listens on for
// DEBUG_LINGER_MS, unless an interrupt comes.
constexpr int DEBUG_LINGER_MS = 1000;
void lingerOnDebugLog(DebugLog* log);
void closeDebugLog(DebugLog* log);
