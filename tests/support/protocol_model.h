// The code-update protocol as the device sees VNloader's transfer follow
// it, stated apart from the transfer: which datagram must go out next, and
// how the transfer must end after each answer. The soak test and the
// transfer fuzzer drive the transfer through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A device's 23-byte reply.
std::vector<std::uint8_t> replyDatagram(std::uint8_t code, std::uint8_t reason, int page);

// The image as the transfer must see it.
struct ModelImage {
    bool packaged;
    bool partialEncrypt;
    int fileType;
    int firstPage;
    int endPage;
    const char* password;
};

// How the run must end: transferFile's result and status, and its last line.
struct ModelEnd {
    int result;
    int status;
    std::string lastLine;
};

class ProtocolModel {
public:
    explicit ProtocolModel(const ModelImage& sent) : image(sent) {}

    // A datagram the transfer sends: empty when it is the one due, else
    // what is wrong with it.
    std::string checkSend(const std::uint8_t* datagram, int length);
    // One wait's answer to what went out last: the datagram received, or
    // nullptr when the wait or the receive failed.
    void judge(const std::uint8_t* datagram, std::size_t length);
    // A wait that ended without a datagram: timed out or failed.
    void waitEnded();
    // The transfer drops what is queued: only just before the finish packet.
    std::string checkDrain();
    void sendFailed();

    bool ended() const { return hasEnded; }
    const ModelEnd& end() const { return ending; }
    bool finishSent() const { return finishing; }
    // The start page of the packet outstanding (0 for the finish packet).
    int outstanding() const { return outstandingPage; }
    bool isFirstPacket() const { return outstandingPage == image.firstPage && !finishing; }

private:
    enum class Next { FIRST, SAME, FOLLOWING, NOTHING };
    std::string checkNewPacket(const std::uint8_t* datagram, int length);
    bool lateCodeUpdateAck(int replyCode, int page) const;
    void finish(int result, int status, std::string lastLine);

    ModelImage image;
    Next next = Next::FIRST;
    std::string last;  // the datagram sent last
    int outstandingPage = 0;
    int pageCount = 0;
    bool finishing = false;
    bool behind = false;   // a packet was sent again
    bool drained = false;  // the queue was dropped
    int pageZeroSends = 0; // copies of the packet at page 0
    bool held = false;     // an ACK 0 at the finish waits for the wait's end
    bool hasEnded = false;
    ModelEnd ending{};
};
