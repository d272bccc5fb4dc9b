// VNsim's command line: what the emulated device expects and which faults
// it puts into its answers.
#pragma once

#include <cstdint>

constexpr int SIM_EXIT_OK = 0;            // finish packet received, every check passed
constexpr int SIM_EXIT_CHECK_FAILED = 1;  // bad CRC, wrong password, bad layout, ...
constexpr int SIM_EXIT_USAGE = 2;
constexpr int SIM_EXIT_NO_BIND = 3;
constexpr int SIM_EXIT_NO_FINISH = 4;     // idle limit or packet count reached first

constexpr int SIM_ARGS_BAD = 0;
constexpr int SIM_ARGS_RUN = 1;
constexpr int SIM_ARGS_HELP = 2;

// Fault target meaning the finish packet rather than a start page.
constexpr int SIM_TARGET_FINISH = -1;
constexpr int SIM_MAX_FAULTS = 16;

enum SimFaultKind { FAULT_DUPLICATE, FAULT_NACK, FAULT_WRONG_PAGE, FAULT_REPLY_LENGTH, FAULT_LATE };

struct SimFault {
    SimFaultKind kind;
    int target;  // start page, or SIM_TARGET_FINISH
    int value;   // NACK reason or reply length
    bool used;   // each fault acts once
};

constexpr int SIM_PASSWORD_SIZE = 16;  // the packets' Set Password field
constexpr int SIM_KEY_SIZE = 8;        // the cipher reads 8 key bytes
constexpr int SIM_PATH_SIZE = 1024;
constexpr int SIM_MAX_REPLY_LENGTH = 4096;

struct SimOptions {
    bool passwordGiven;
    std::uint8_t password[SIM_PASSWORD_SIZE];  // as the field must hold it
    bool keyGiven;
    std::uint8_t key[SIM_KEY_SIZE];  // key text, zero-padded
    char outputPath[SIM_PATH_SIZE];  // empty: no image file
    long packetLimit;                // 0: no limit
    long idleMs;                     // 0: wait for ever
    std::uint32_t bindIp;            // network byte order
    char bindText[64];
    long dropReplies;
    SimFault faults[SIM_MAX_FAULTS];
    int faultCount;

    bool bindGiven;  // -a
    // A fleet (--devices): one device on each address from firstDevice to
    // firstDevice + deviceCount - 1 (host byte order); 0 devices: one on bindIp.
    std::uint32_t firstDevice;
    int deviceCount;
    double loss;      // chance of losing a datagram, each way
    double dup;       // chance of a reply sent twice
    long ackDelayMs;  // a device's time to write a packet's pages
    unsigned long seed;
    // Pings: silent for rebootMs after an accepted finish packet; never
    // again for the devices drawn with neverBack or named by neverBackAt.
    long rebootMs;
    double neverBack;
    std::uint32_t neverBackAt[SIM_MAX_FAULTS];  // host byte order
    int neverBackCount;
};

constexpr int SIM_MAX_DEVICES = 16384;

extern SimOptions simOptions;
extern const char simUsageText[];

// Fills simOptions from the command line (argument 0 is the program name).
// SIM_ARGS_RUN, SIM_ARGS_HELP, or SIM_ARGS_BAD after printing why.
int parseSimOptions(int argc, char** argv);
