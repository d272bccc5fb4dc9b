// One device's transfer: VNloader's packets, byte for byte, judged per
// device. The event loop sends what it is told and feeds back replies and
// time-outs.
#pragma once

#include <cstdint>
#include <string>

#include "link/packets.h"

// Where an image's pages go on the device, and where they sit in the image.
struct TransferPlan {
    std::uint32_t base;  // first image byte sent
    std::uint32_t size;  // image bytes from base
    std::uint16_t firstPage;
    std::uint16_t endPage;
    std::uint16_t crc;  // of the finish packet
};

struct ImageView {
    const std::uint8_t* bytes;
    std::uint32_t length;  // bytes past it read as 0
    bool packaged;
    std::uint8_t fileType;
    std::uint32_t nMinHexAddress;  // as the loader left them
    std::uint32_t nMaxHexAddress;
};

// The plan VNloader would follow for this image; false with the reason in
// VNloader's words when it would send nothing.
bool planTransfer(const ImageView& image, TransferPlan* plan, std::string* reason);
int packetsOf(const TransferPlan& plan);  // code-update packets, finish not counted

enum SessionStep {
    STEP_NEXT,          // acknowledged: send the next packet (session.packet)
    STEP_RESEND,        // refused or unexpected: send the same packet again
    STEP_KEEP_WAITING,  // a stale reply, dropped: wait on
    STEP_DONE,          // completed, or failed with the reason in failure
};

struct DeviceSession {
    ImageView image;
    TransferPlan plan;
    bool partialEncrypt;
    std::uint8_t packet[PACKET_BUFFER_SIZE];
    int packetLength;
    std::uint16_t startPage;
    int pageCount;
    int headerBytes;
    std::uint8_t flags;
    std::uint32_t imageOffset;
    bool finishing;
    bool completed;
    std::string failure;  // empty while it goes on or after success
    std::uint32_t pagesAcknowledged;
};

// Builds the first packet; the plan must have come from planTransfer.
void startSession(DeviceSession* session, const ImageView& image, const TransferPlan& plan,
                  const std::string& password, bool partialEncrypt);
// A datagram that reached this device's socket.
SessionStep sessionReply(DeviceSession* session, const std::uint8_t* datagram, int length);
// Whether the packet to send is the finish packet; replies still queued
// for earlier packets are drained before it goes out.
inline bool sessionAtFinish(const DeviceSession& session)
{
    return session.finishing;
}
