#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "diag/console_capture.h"

namespace {
struct Parsed {
    RunMode mode;
    std::string output;
};

Parsed parse(std::vector<const char*> args)
{
    resetSettings();
    args.insert(args.begin(), "VNloader");
    ConsoleCapture capture;
    RunMode mode = parseCommandLine(static_cast<int>(args.size()), args.data());
    return {mode, ConsoleCapture::text()};
}

const std::string usage = usageText;
}  // namespace

TEST(CommandLine, UsageTextIsExact)
{
    EXPECT_EQ(usage,
              "usage: vexaNode Loader VNloader\n"
              "-IP <IP Address>       Set the ip address of the vexaNode that is being updated\n"
              "-P <Password>          The Password for the vexaNode\n"
              "-v                     Print the version\n"
              "-no                    Listen for debug messages only. No download\n"
              "-f <FileName>          The file name to download\n");
}

TEST(CommandLine, NoArgumentsPrintsUsage)
{
    Parsed p = parse({});
    EXPECT_EQ(p.mode, RUN_USAGE);
    EXPECT_EQ(p.output, usage);
}

TEST(CommandLine, OptionCaseRules)
{
    struct Case {
        std::vector<const char*> args;
        RunMode mode;
    };
    const Case cases[] = {
        {{"-ip", "10.0.0.1"}, RUN_TRANSFER}, {{"/IP", "10.0.0.1"}, RUN_TRANSFER},
        {{"-V"}, RUN_TRANSFER},              {{"-NO"}, RUN_LISTEN},
        {{"/no"}, RUN_LISTEN},               {{"-P", "pw"}, RUN_TRANSFER},
        {{"-f", "main.enc"}, RUN_TRANSFER},  {{"-k", "key"}, RUN_PACKAGE},
        {{"-p", "pw"}, RUN_USAGE},           {{"-t", "M"}, RUN_USAGE},
        {{"-F", "x"}, RUN_USAGE},            {{"-ne"}, RUN_USAGE},
        {{"-ea"}, RUN_USAGE},                {{"-X"}, RUN_USAGE},
        {{"IP"}, RUN_USAGE},                 {{"-"}, RUN_USAGE},
        {{"-IPX", "1"}, RUN_USAGE},          {{"--IP", "1"}, RUN_USAGE},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.args);
        EXPECT_EQ(p.mode, c.mode) << c.args[0];
        if (c.mode == RUN_USAGE) {
            EXPECT_EQ(p.output, usage) << c.args[0];
        }
    }
}

TEST(CommandLine, MissingValueIsUsageError)
{
    for (const char* option : {"-IP", "-P", "-T", "-f", "-K"}) {
        Parsed p = parse({"-no", option});
        EXPECT_EQ(p.mode, RUN_USAGE) << option;
        EXPECT_EQ(p.output, usage) << option;
    }
}

TEST(CommandLine, ValuesLandInTheirFields)
{
    Parsed p = parse({"-IP", "10.1.2.3", "-P", "secret", "-f", "dsp.enc", "-EA", "-v"});
    EXPECT_EQ(p.mode, RUN_TRANSFER);
    EXPECT_STREQ(settings.targetIp, "10.1.2.3");
    EXPECT_STREQ(settings.setPassword, "secret");
    EXPECT_STREQ(settings.fileName, "dsp.enc");
    EXPECT_EQ(settings.partialEncrypt, 0);
    EXPECT_EQ(settings.packagedInput, 1u);
    EXPECT_EQ(settings.debugPort, 9029);
    EXPECT_EQ(settings.updatePort, 69);
    EXPECT_EQ(p.output, "V2.2\n");
}

TEST(CommandLine, DefaultsAndVersionFirst)
{
    Parsed p = parse({"-v", "-bad"});
    EXPECT_EQ(p.output, "V2.2\n" + usage);
    p = parse({"-v"});
    EXPECT_EQ(p.mode, RUN_TRANSFER);
    EXPECT_STREQ(settings.targetIp, "192.168.1.100");
    EXPECT_EQ(settings.encryptKey[0], '\0');
}

TEST(CommandLine, LongValuesAreCutAndStayTerminated)
{
    std::string longText(300, 'x');
    parse({"-P", longText.c_str(), "-f", longText.c_str(), "-IP", longText.c_str()});
    EXPECT_EQ(std::string(settings.setPassword), std::string(256, 'x'));
    EXPECT_EQ(std::string(settings.fileName), std::string(256, 'x'));
    EXPECT_EQ(std::string(settings.targetIp), std::string(256, 'x'));
    // A name is cut at 256 characters, not bytes.
    std::string cyrillic;
    for (int i = 0; i < 300; ++i)
        cyrillic += "ж";
    parse({"-f", cyrillic.c_str()});
    EXPECT_EQ(std::string(settings.fileName), cyrillic.substr(0, 512));
    parse({"-K", "0123456789abcdefXYZ"});
    EXPECT_EQ(std::string(settings.encryptKey), "0123456789abcdef");
    std::string exact(256, 'y');
    parse({"-P", exact.c_str()});
    EXPECT_EQ(std::string(settings.setPassword), exact);
}

TEST(CommandLine, TypeLetters)
{
    struct Case {
        const char* letter;
        std::uint8_t type;
    };
    for (Case c : {Case{"M", TYPE_MAIN_HEX}, Case{"Main", TYPE_MAIN_HEX}, Case{"D", TYPE_DSP_HEX},
                   Case{"L", TYPE_LOGO}, Case{"J", TYPE_JAVA}, Case{"H", TYPE_HTML}}) {
        Parsed p = parse({"-NE", "-T", c.letter, "-f", "x"});
        EXPECT_EQ(p.mode, RUN_TRANSFER) << c.letter;
        EXPECT_EQ(settings.fileType, c.type) << c.letter;
        EXPECT_EQ(settings.packagedInput, 0u);
    }
}

TEST(CommandLine, UnavailableTypeShowsRawLetter)
{
    Parsed p = parse({"-NE", "-T", "m"});
    EXPECT_EQ(p.mode, RUN_USAGE);
    EXPECT_EQ(p.output, "You have chosen an unavailable file type:m" + usage);
    p = parse({"-NE"});
    EXPECT_EQ(p.output, std::string("You have chosen an unavailable file type:") + '\0' + usage);
    // With a package the letter is not mapped: the header gives the type.
    p = parse({"-T", "q", "-f", "main.enc"});
    EXPECT_EQ(p.mode, RUN_TRANSFER);
    EXPECT_EQ(settings.fileType, 'q');
}

TEST(CommandLine, RunModes)
{
    EXPECT_EQ(parse({"-no", "-f", "main.enc"}).mode, RUN_LISTEN);
    EXPECT_EQ(parse({"-K", "key"}).mode, RUN_PACKAGE);
    EXPECT_EQ(parse({"-NE", "-T", "J", "-f", "a.jar", "-K", "key", "-no"}).mode, RUN_PACKAGE);
    EXPECT_EQ(parse({"-NE", "-T", "x", "-K", "key"}).mode, RUN_USAGE);
}
