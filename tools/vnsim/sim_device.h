// The emulated device: what it has received, how it checks each packet and
// what it answers.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "diag/console.h"
#include "link/packets.h"

constexpr std::uint8_t SIM_NACK_BAD_PACKET = 5;  // layout or range the device cannot use
constexpr int SIM_PAGE_SIZE = 256;
constexpr int SIM_PAGE_HEADER_SIZE = 8;
constexpr int SIM_LINE_SIZE = 512;
// Target of a datagram that is neither packet: no fault acts on it.
constexpr int SIM_TARGET_OTHER = -2;

struct SimPage {
    std::uint8_t bytes[SIM_PAGE_SIZE];
    bool enciphered;  // came in a packet flagged FLAG_ENCRYPTED
};

// A code-update packet as the device kept it: what the finish packet's
// range is checked against.
struct SimPacket {
    int pageCount;
    int flags;
};

enum SimHeaderCheck {
    HEADER_NONE,    // plain image: no page header
    HEADER_NO_KEY,  // enciphered and no key given
    HEADER_OK,
    HEADER_BAD,
};

struct SimState {
    std::map<int, SimPage> pages;  // by page number
    bool haveHeader;
    std::uint8_t header[SIM_PAGE_HEADER_SIZE];
    bool headerEnciphered;
    int headerPage;  // start page of the packet that carried it
    std::map<int, SimPacket> packetsByStart;  // the last one kept per start page

    long packets;  // datagrams handled
    bool started;  // a code-update packet has arrived
    int checksFailed;
    char firstFailure[160];

    bool finishArrived;  // a finish packet came, usable or not
    bool finishSeen;     // a usable one: its checks below
    bool finishRefused;  // and answered with a NACK: no image
    bool crcOk;
    int missingPages;
    SimHeaderCheck headerCheck;
    std::vector<std::uint8_t> image;  // what -o writes, set at the finish
};

// The device whose datagram is being handled: the only one, or in a fleet
// the one the datagram came to.
extern SimState* simState;

// The answer to one datagram, and the console line that reports it.
struct SimAnswer {
    int target;  // the packet's start page, or SIM_TARGET_FINISH
    std::uint8_t replyCode;
    std::uint8_t nackReason;
    std::uint16_t replyPage;
    int replyLength;
    int copies;    // 0 when dropped, 2 when answered twice
    bool endsRun;  // a refusal after which the loader sends nothing more
    bool isFinish;
    char line[SIM_LINE_SIZE];
};

// Checks one datagram, keeps what it carries and decides the answer. The
// line holds the packet's description; the answer is added to it later.
void handleDatagram(const std::uint8_t* data, int length, SimAnswer* answer);

// The reply datagram for the answer; returns its length.
int buildReply(const SimAnswer* answer, std::uint8_t* reply, int size);

// ", page header crc ok" and the like; empty for a plain image.
const char* headerCheckText(SimHeaderCheck check);

// Appends printf-style text to the answer's line.
void appendLine(SimAnswer* answer, const char* format, ...) VN_PRINTF(2, 3);

// Records a failed check (the first one is kept for the summary).
void noteFailure(const char* format, ...) VN_PRINTF(1, 2);

constexpr int SIM_MAX_DEBUG_MESSAGES = 3;

// The debug messages the device sends to the loader's port 9029 with this
// answer, in order; returns how many.
int debugMessagesFor(const SimAnswer& answer, bool firstCodeUpdate, const char** messages);
