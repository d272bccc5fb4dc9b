// The device's debug datagrams on the debug port, printed as Dbg> lines.
#pragma once

#include <cstddef>

#include "platform/platform.h"

constexpr int DEBUG_DATAGRAM_SIZE = 256;
// A line: prefix, address and every datagram byte escaped to four characters.
constexpr std::size_t DEBUG_LINE_SIZE = 4 * DEBUG_DATAGRAM_SIZE + 64;

// Thread entry: returns only when the socket cannot be created or bound.
void DbgMsgThread(void* unused);

// One Dbg> line for a datagram text (up to its first zero byte). Control
// bytes but TAB, LF and CR, DEL, and the UTF-8 forms of the C1 controls
// (C2 80 to C2 9F, as \xc2\xNN) come out as \xNN: the text is anyone's on
// the network and must not steer the operator's terminal. Other bytes of
// 0x80 and above pass unchanged. senderText nullptr leaves the address
// out. Returns the line's length.
std::size_t formatDebugLine(char* out, std::size_t size, const PlatformTime& when,
                            const char* senderText, const char* text);

// Receives one datagram on sock and makes its Dbg> line, stamped now.
// Returns the line's length, or -1 when the receive failed.
int receiveDebugLine(PlatformSocket sock, char* line, std::size_t size);
