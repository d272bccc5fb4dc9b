#include "sim_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "diag/console.h"
#include "platform/platform.h"
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
    "  -h, --help                 print this text\n"
    "<page> is a packet's start page, or \"finish\" for the finish packet.\n";

namespace {
bool parseNumber(const char* text, long low, long high, long* value)
{
    if (!text || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

bool parseTarget(const char* text, int* target)
{
    if (std::strcmp(text, "finish") == 0) {
        *target = SIM_TARGET_FINISH;
        return true;
    }
    long page = 0;
    if (!parseNumber(text, 0, 0xFFFF, &page))
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

// One option with its value; false when either is bad.
bool takeOption(const char* name, const char* value)
{
    char left[32];
    const char* right = nullptr;
    int target = 0;
    long number = 0;
    if (std::strcmp(name, "-P") == 0) {
        std::memset(simOptions.password, 0, sizeof simOptions.password);
        std::size_t length = std::strlen(value);
        std::memcpy(simOptions.password, value,
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
        std::strcpy(simOptions.bindText, value);
        return true;
    }
    if (std::strcmp(name, "-n") == 0)
        return parseNumber(value, 1, 0x7FFFFFFF, &simOptions.packetLimit);
    if (std::strcmp(name, "--idle-ms") == 0)
        return parseNumber(value, 1, 0x7FFFFFFF, &simOptions.idleMs);
    if (std::strcmp(name, "--drop") == 0)
        return parseNumber(value, 0, 0x7FFFFFFF, &simOptions.dropReplies);
    if (std::strcmp(name, "--dup-at") == 0)
        return parseTarget(value, &target) && addFault(FAULT_DUPLICATE, target, 0);
    if (std::strcmp(name, "--wrong-page-at") == 0)
        return parseTarget(value, &target) && addFault(FAULT_WRONG_PAGE, target, 0);
    if (std::strcmp(name, "--nack-at") == 0)
        return splitPair(value, ':', left, sizeof left, &right) && parseTarget(left, &target) &&
               parseNumber(right, 0, 255, &number) && addFault(FAULT_NACK, target, number);
    if (std::strcmp(name, "--reply-length") == 0)
        return splitPair(value, '@', left, sizeof left, &right) &&
               parseNumber(left, 0, SIM_MAX_REPLY_LENGTH, &number) &&
               parseTarget(right, &target) && addFault(FAULT_REPLY_LENGTH, target, number);
    return false;
}

bool knownOption(const char* name)
{
    static const char* const names[] = {"-P",       "-K",          "-o",
                                        "-a",       "-n",          "--idle-ms",
                                        "--drop",   "--dup-at",    "--wrong-page-at",
                                        "--nack-at", "--reply-length"};
    for (const char* known : names)
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

    for (int i = 1; i < argc; ++i) {
        const char* name = argv[i];
        if (std::strcmp(name, "-h") == 0 || std::strcmp(name, "--help") == 0)
            return SIM_ARGS_HELP;
        if (!knownOption(name)) {
            simError("VNsim: unknown option: %s\n", name);
            return SIM_ARGS_BAD;
        }
        if (i + 1 >= argc) {
            simError("VNsim: %s needs a value\n", name);
            return SIM_ARGS_BAD;
        }
        const char* value = argv[++i];
        if (!takeOption(name, value)) {
            simError("VNsim: bad argument: %s %s\n", name, value);
            return SIM_ARGS_BAD;
        }
    }
    return SIM_ARGS_RUN;
}
