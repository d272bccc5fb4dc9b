#include "sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "diag/console.h"
#include "platform/platform.h"
#include "platform/text_names.h"
#include "sim_usage.h"

SimOptions simOptions;

const char simUsageText[] =
    "usage: VNsim [options]\n"
    "Emulates the device for VNloader: answers code-update and finish packets on\n"
    "UDP port 69, checks them and reports one line per packet.\n"
    "  -a <address>               address to bind (default 127.0.0.1)\n"
    "  -P <password>              Set Password the device expects (default: any)\n"
    "  -K <key>                   DES key: decipher a packaged image, check its page header\n"
    "  -o <file>                  write the received image to <file>\n"
    "  -n <count>                 stop after <count> packets\n"
    "  --idle-ms <ms>             give up after <ms> without a packet (default: never)\n"
    "  --drop <n>                 drop the first <n> replies\n"
    "  --dup-at <page>            answer packet <page> twice\n"
    "  --nack-at <page>:<reason>  refuse packet <page> with NACK <reason>, once\n"
    "  --wrong-page-at <page>     acknowledge packet <page> with a wrong page, once\n"
    "  --reply-length <n>@<page>  answer packet <page> with <n> bytes, once\n"
    "  --late-at <page>           hold the answer to packet <page> back, once, and send\n"
    "                             it just before the finish packet's\n"
    "  -h, --help                 print this text\n"
    "<page> is a packet's start page, or \"finish\" for the finish packet.\n"
    "A fleet of devices, each with its own state, checks and verdict:\n"
    "  --devices <first>-<last>   one device on each 127.x.y.z address of the range;\n"
    "                             -o names a folder that gets <address>.bin\n"
    "  --loss <fraction>          lose datagrams at random, each way (e.g. 0.01)\n"
    "  --dup <fraction>           send replies twice at random\n"
    "  --ack-delay-ms <ms>        time a device takes to write a packet's pages\n"
    "  --seed <n>                 seed of the random losses and duplicates (default 1)\n"
    "Pings: the devices answer ICMP echo requests themselves (a raw ICMP socket:\n"
    "root or CAP_NET_RAW; turn the kernel's echo off: icmp_echo_ignore_all=1):\n"
    "  --reboot-ms <ms>           silent for <ms> after accepting a finish packet\n"
    "  --never-back <fraction>    that share of the devices never answers again after\n"
    "                             its finish packet (drawn from --seed)\n"
    "  --never-back-at <address>  this device never answers again after its finish\n"
    "                             packet (repeatable)\n";

namespace {
bool parseTarget(const char* text, int* target)
{
    if (std::strcmp(text, "finish") == 0) {
        *target = SIM_TARGET_FINISH;
        return true;
    }
    long page = 0;
    if (!parseWholeNumber(text, 0, 0xFFFF, &page))
        return false;
    *target = static_cast<int>(page);
    return true;
}

// "<left><separator><right>" split into two texts; false without the separator.
bool splitPair(const char* text, char separator, char* left, std::size_t size, const char** right)
{
    const char* at = std::strchr(text, separator);
    if (!at || static_cast<std::size_t>(at - text) >= size)
        return false;
    std::memcpy(left, text, static_cast<std::size_t>(at - text));
    left[at - text] = '\0';
    *right = at + 1;
    return true;
}

bool addFault(SimFaultKind kind, int target, long value)
{
    if (simOptions.faultCount >= SIM_MAX_FAULTS)
        return false;
    simOptions.faults[simOptions.faultCount++] =
        SimFault{kind, target, static_cast<int>(value), false};
    return true;
}

bool parseFraction(const char* text, double* value)
{
    if (!text || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    double parsed = std::strtod(text, &end);
    if (*end != '\0' || !(parsed >= 0.0 && parsed < 1.0))
        return false;
    *value = parsed;
    return true;
}

// A loopback address in host byte order.
bool parseLoopback(const char* text, std::uint32_t* host)
{
    std::uint32_t ip = platformParseIPv4(text);
    std::uint8_t octets[4];
    std::memcpy(octets, &ip, sizeof octets);  // network order: first octet first
    if (ip == PLATFORM_BAD_ADDRESS || octets[0] != 127)
        return false;
    *host = (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
            (std::uint32_t{octets[2]} << 8) | octets[3];
    return true;
}

bool parseDevices(const char* text)
{
    char first[32];
    const char* last = nullptr;
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!splitPair(text, '-', first, sizeof first, &last) || !parseLoopback(first, &low) ||
        !parseLoopback(last, &high) || high < low || high - low >= SIM_MAX_DEVICES)
        return false;
    simOptions.firstDevice = low;
    simOptions.deviceCount = static_cast<int>(high - low + 1);
    return true;
}

// The fleet's options: true when name is one, with *valid 1 when its value
// is good and 0 when not.
bool takeFleetOption(const char* name, const char* value, long* valid)
{
    long number = 0;
    bool good = false;
    if (std::strcmp(name, "--devices") == 0)
        good = parseDevices(value);
    else if (std::strcmp(name, "--loss") == 0)
        good = parseFraction(value, &simOptions.loss);
    else if (std::strcmp(name, "--dup") == 0)
        good = parseFraction(value, &simOptions.dup);
    else if (std::strcmp(name, "--ack-delay-ms") == 0)
        good = parseWholeNumber(value, 0, 60000, &simOptions.ackDelayMs);
    else if (std::strcmp(name, "--reboot-ms") == 0)
        good = parseWholeNumber(value, 0, 3600000, &simOptions.rebootMs);
    else if (std::strcmp(name, "--never-back") == 0)
        good = parseFraction(value, &simOptions.neverBack);
    else if (std::strcmp(name, "--never-back-at") == 0) {
        std::uint32_t host = 0;
        good = parseLoopback(value, &host) && simOptions.neverBackCount < SIM_MAX_FAULTS;
        if (good)
            simOptions.neverBackAt[simOptions.neverBackCount++] = host;
    } else if (std::strcmp(name, "--seed") == 0) {
        good = parseWholeNumber(value, 0, 0x7FFFFFFF, &number);
        simOptions.seed = static_cast<unsigned long>(number);
    } else {
        return false;
    }
    *valid = good ? 1 : 0;
    return true;
}

// One option with its value; false when either is bad.
bool takeOption(const char* name, const char* value)
{
    char left[32];
    const char* right = nullptr;
    int target = 0;
    long number = 0;
    if (std::strcmp(name, "-P") == 0) {
        // The bytes VNloader's -P sends on this system.
        std::string bytes;
        if (!platformPasswordBytes(value, &bytes))
            return false;
        std::memset(simOptions.password, 0, sizeof simOptions.password);
        std::size_t length = bytes.size();
        std::memcpy(simOptions.password, bytes.data(),
                    length < SIM_PASSWORD_SIZE ? length : SIM_PASSWORD_SIZE);
        simOptions.passwordGiven = true;
        return true;
    }
    if (std::strcmp(name, "-K") == 0) {
        if (*value == '\0')
            return false;
        std::memset(simOptions.key, 0, sizeof simOptions.key);
        std::size_t length = std::strlen(value);
        std::memcpy(simOptions.key, value, length < SIM_KEY_SIZE ? length : SIM_KEY_SIZE);
        simOptions.keyGiven = true;
        return true;
    }
    if (std::strcmp(name, "-o") == 0) {
        if (*value == '\0' || std::strlen(value) >= SIM_PATH_SIZE)
            return false;
        std::strcpy(simOptions.outputPath, value);
        return true;
    }
    if (std::strcmp(name, "-a") == 0) {
        std::uint32_t ip = platformParseIPv4(value);
        if (ip == PLATFORM_BAD_ADDRESS || std::strlen(value) >= sizeof simOptions.bindText)
            return false;
        simOptions.bindIp = ip;
        simOptions.bindGiven = true;
        std::strcpy(simOptions.bindText, value);
        return true;
    }
    if (std::strcmp(name, "-n") == 0)
        return parseWholeNumber(value, 1, 0x7FFFFFFF, &simOptions.packetLimit);
    if (std::strcmp(name, "--idle-ms") == 0)
        return parseWholeNumber(value, 1, 0x7FFFFFFF, &simOptions.idleMs);
    if (std::strcmp(name, "--drop") == 0)
        return parseWholeNumber(value, 0, 0x7FFFFFFF, &simOptions.dropReplies);
    if (takeFleetOption(name, value, &number))
        return number != 0;
    if (std::strcmp(name, "--dup-at") == 0)
        return parseTarget(value, &target) && addFault(FAULT_DUPLICATE, target, 0);
    if (std::strcmp(name, "--late-at") == 0)
        return parseTarget(value, &target) && target >= 0 && addFault(FAULT_LATE, target, 0);
    if (std::strcmp(name, "--wrong-page-at") == 0)
        return parseTarget(value, &target) && addFault(FAULT_WRONG_PAGE, target, 0);
    if (std::strcmp(name, "--nack-at") == 0)
        return splitPair(value, ':', left, sizeof left, &right) && parseTarget(left, &target) &&
               parseWholeNumber(right, 0, 255, &number) && addFault(FAULT_NACK, target, number);
    if (std::strcmp(name, "--reply-length") == 0)
        return splitPair(value, '@', left, sizeof left, &right) &&
               parseWholeNumber(left, 0, SIM_MAX_REPLY_LENGTH, &number) &&
               parseTarget(right, &target) && addFault(FAULT_REPLY_LENGTH, target, number);
    return false;
}

bool knownOption(const char* name)
{
    static const char* const names[] = {"-P",       "-K",          "-o",
                                        "-a",       "-n",          "--idle-ms",
                                        "--drop",   "--dup-at",    "--wrong-page-at",
                                        "--nack-at", "--reply-length", "--late-at"};
    for (const char* known : names)
        if (std::strcmp(name, known) == 0)
            return true;
    for (const char* known : {"--devices", "--loss", "--dup", "--ack-delay-ms", "--seed",
                              "--reboot-ms", "--never-back", "--never-back-at"})
        if (std::strcmp(name, known) == 0)
            return true;
    return false;
}
}  // namespace

int parseSimOptions(int argc, char** argv)
{
    std::memset(&simOptions, 0, sizeof simOptions);
    std::strcpy(simOptions.bindText, "127.0.0.1");
    simOptions.bindIp = platformParseIPv4(simOptions.bindText);
    simOptions.seed = 1;

    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (std::strcmp(name, "-h") == 0 || std::strcmp(name, "--help") == 0)
            return SIM_ARGS_HELP;
        if (!knownOption(name)) {
            companionError("VNsim: unknown option: %s\n", name);
            return SIM_ARGS_BAD;
        }
        if (i + 1 >= argc) {
            companionError("VNsim: %s needs a value\n", name);
            return SIM_ARGS_BAD;
        }
        const char* value = argv[++i];
        if (!takeOption(name, value)) {
            companionError("VNsim: bad argument: %s %s\n", name, value);
            return SIM_ARGS_BAD;
        }
    }
    if (simOptions.deviceCount != 0 && (simOptions.bindGiven || simOptions.packetLimit != 0)) {
        companionError("VNsim: --devices cannot go with -a or -n\n");
        return SIM_ARGS_BAD;
    }
    bool fleetOnly = simOptions.loss != 0 || simOptions.dup != 0 || simOptions.ackDelayMs != 0;
    if (simOptions.deviceCount == 0 && fleetOnly) {
        companionError("VNsim: --loss, --dup and --ack-delay-ms need --devices\n");
        return SIM_ARGS_BAD;
    }
    return SIM_ARGS_RUN;
}
