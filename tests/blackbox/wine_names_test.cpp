// Windows operators name files in their own languages: under Wine with a
// Russian locale (ANSI code page 1251) and an English one (1252), the file
// named is the file read, and one password is one set of bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "fleet_runs.h"
#include "hex_text.h"

namespace {
// Locales built once into a folder of their own; "" when localedef fails.
const std::string& localeFolder()
{
    static const std::string folder = [] {
        std::string dir = makeTempDir();
        for (const char* name : {"ru_RU", "en_US"}) {
            std::string command = "localedef -i " + std::string(name) + " -f UTF-8 " + dir + "/" +
                                  name + ".UTF-8 >/dev/null 2>&1";
            if (std::system(command.c_str()) != 0)
                return std::string();
        }
        return dir;
    }();
    return folder;
}

// The Wine programs started in its scope run under this locale's code page.
struct CodePage {
    explicit CodePage(const char* locale)
    {
        setenv("LOCPATH", localeFolder().c_str(), 1);
        setenv("LANG", locale, 1);
    }
    ~CodePage()
    {
        unsetenv("LOCPATH");
        setenv("LANG", "C.UTF-8", 1);
    }
};
constexpr const char* CP1251 = "ru_RU.UTF-8";
constexpr const char* CP1252 = "en_US.UTF-8";

bool skipped()
{
    return !programsUnderWine() || localeFolder().empty();
}

// A main CPU HEX file of this many pages.
void writeHex(const std::string& path, unsigned pages)
{
    std::string text;
    for (unsigned at = 0; at < pages * 256; at += 16)
        text += hexRecord(0, at, std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(at >> 4)));
    writeTextFile(path, text + hexRecord(1, 0, {}));
}

// Packages hex (relative to dir) as main.enc and moves it to package.
void package(const std::string& dir, const std::string& hex, const std::string& packagePath)
{
    ProgramResult made = runProgram("VNloader", {"-NE", "-T", "M", "-f", hex, "-K", "k"}, startupMs(), dir);
    EXPECT_EQ(made.status, 1) << made.output;
    EXPECT_EQ(std::rename((dir + "/main.enc").c_str(), (dir + "/" + packagePath).c_str()), 0);
}
}  // namespace

TEST(WineNames, UnderCodePage1251TheNamedFileIsPackagedAndInspectedNotItsLookalike)
{
    if (skipped())
        GTEST_SKIP() << "Windows names under Wine, with localedef";
    CodePage cp(CP1251);
    const std::string dir = makeTempDir();
    writeHex(dir + "/münchen.hex", 6);
    writeHex(dir + "/munchen.hex", 40);
    package(dir, "münchen.hex", "münchen.enc");
    ProgramResult info = runProgram("VNinfo", {"--json", "münchen.enc"}, startupMs(), dir);
    EXPECT_TRUE(holds(info.output, "{\"file\":\"münchen.enc\"")) << info.output;
    EXPECT_TRUE(holds(info.output, "\"bodyPages\":6,")) << info.output;
    writeTextFile(dir + "/list.csv", "address\n127.0.0.2\n");
    ProgramResult plan = runProgram("VNfleet", {"-f", "münchen.enc", "--dry-run", "list.csv"}, startupMs(), dir);
    // Redirected, the name is in code page 1251, which has no ü.
    EXPECT_TRUE(holds(plan.output, "file m?nchen.enc: main CPU HEX from an update package, pages 0 to 5"))
        << plan.output << plan.errors;
    // VNloader names a file in the code page where its characters fit.
    ProgramResult missing = runProgram("VNloader", {"-NE", "-T", "M", "-f", "нет.hex", "-K", "k"}, startupMs(), dir);
    EXPECT_TRUE(holds(missing.output, "Could not open: \xED\xE5\xF2.hex")) << missing.output;
}

TEST(WineNames, UnderCodePage1252ACyrillicFolderAndNameGoThroughEveryProgram)
{
    if (skipped())
        GTEST_SKIP() << "Windows names under Wine, with localedef";
    CodePage cp(CP1252);
    const std::string dir = makeTempDir();
    mkdir((dir + "/Прошивка").c_str(), 0700);
    writeHex(dir + "/Прошивка/прошивка.hex", 6);
    package(dir, "Прошивка\\прошивка.hex", "Прошивка/прошивка.enc");
    ProgramResult info = runProgram("VNinfo", {"--json", "Прошивка\\прошивка.enc"}, startupMs(), dir);
    EXPECT_EQ(info.status, 0) << info.errors;
    EXPECT_TRUE(holds(info.output, "{\"file\":\"Прошивка\\\\прошивка.enc\"")) << info.output;
    writeTextFile(dir + "/list.csv", "\xEF\xBB\xBF" "address;file\n127.0.0.2;Прошивка\\прошивка.enc\n");
    ProgramResult plan = runProgram("VNfleet", {"--dry-run", "list.csv"}, startupMs(), dir);
    EXPECT_EQ(plan.status, 0) << plan.errors;
    EXPECT_TRUE(holds(plan.output, "file ????????\\????????.enc: main CPU HEX from an update package, "
                                   "pages 0 to 5")) << plan.output;
}

TEST(WineNames, APasswordFromAListCellOrAFileIsSentInTheBytesOfMinusP)
{
    if (skipped())
        GTEST_SKIP() << "Windows names under Wine, with localedef";
    const std::string dir = fleetFolder();
    writeTextFile(dir + "/pw.txt", "\xEF\xBB\xBFPaßwort\r\n");
    writeTextFile(dir + "/cell.csv", "address,password\n127.0.6.2,Paßwort\n");
    writeTextFile(dir + "/list.csv", "address\n127.0.6.3\n");
    {
        CodePage cp(CP1252);
        // The device's Set Password as code page 1252 has it.
        RunningProgram sim = startDevices({"--devices", "127.0.6.1-127.0.6.3", "-P", "Pa\xDFwort", "-K",
                                           "fleet-key", "-o", dir, "--idle-ms", "3000"}, dir);
        ASSERT_TRUE(waitForOutput(sim, "listening on", startupMs())) << sim.output;
        ProgramResult loader = runProgram("VNloader", {"-IP", "127.0.6.1", "-P", "Paßwort", "-f", "java.enc"},
                                          startupMs() * 2, dir);
        EXPECT_TRUE(holds(loader.output, "File Transfered")) << loader.output;
        ProgramResult cell = runProgram("VNfleet", {"-f", "java.enc", "cell.csv"}, startupMs() * 2, dir);
        EXPECT_EQ(cell.status, 0) << cell.output << cell.errors;
        ProgramResult file = runProgram("VNfleet", sendingJava({"--password-file", "pw.txt"}), startupMs() * 2, dir);
        EXPECT_EQ(file.status, 0) << file.output << file.errors;
        stopProgram(sim);
    }
    CodePage cp(CP1251);  // no ß: refused, never a lookalike
    ProgramResult cell = runProgram("VNfleet", {"-f", "java.enc", "--dry-run", "cell.csv"}, startupMs(), dir);
    EXPECT_EQ(cell.status, 2);
    EXPECT_EQ(cell.errors, "VNfleet: cell.csv line 2: the password has a character that code page 1251 "
                           "cannot hold\n");
    ProgramResult loader = runProgram("VNloader", {"-IP", "127.0.6.1", "-P", "Paßwort", "-f", "java.enc"},
                                      startupMs(), dir);
    EXPECT_EQ(loader.status, 1);
    EXPECT_EQ(loader.output, "The Password has a character that code page 1251 cannot hold\n");
}

TEST(WineNames, WildcardsInFileArgumentsAreExpandedAsWindowsProgramsDo)
{
    if (!programsUnderWine())
        GTEST_SKIP() << "the shell expands them elsewhere";
    const std::string dir = fleetFolder();
    mkdir((dir + "/reports").c_str(), 0700);
    const std::string line = ledgerRunLine("a", "\"127.0.0.2\"") +
                             ledgerLine("127.0.0.2", sha256sumOf(dir + "/java.enc")) +
                             "{\"line\":\"end\",\"run\":\"r0\",\"ended\":\"completed\"}\n";
    writeTextFile(dir + "/reports/a.jsonl", line);
    writeTextFile(dir + "/reports/b.jsonl", line);
    ProgramResult summary = runProgram("VNfleet", {"--summary", "reports\\*.jsonl"}, startupMs(), dir);
    EXPECT_EQ(summary.status, 0) << summary.errors;
    EXPECT_TRUE(holds(summary.output, "report reports\\a.jsonl: 1 device")) << summary.output;
    EXPECT_TRUE(holds(summary.output, "report reports\\b.jsonl: 1 device")) << summary.output;
    ProgramResult none = runProgram("VNfleet", {"--summary", "reports\\*.none"}, startupMs(), dir);
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.errors, "VNfleet: cannot read the report: reports\\*.none\n");
    ProgramResult info = runProgram("VNinfo", {"*.enc"}, startupMs(), dir);
    EXPECT_EQ(info.status, 0) << info.errors;
    EXPECT_TRUE(holds(info.output, "File: java.enc")) << info.output;
}

TEST(WineNames, ADebugLogSpelledOtherwiseThanANewReportIsThatReport)
{
    if (!programsUnderWine())
        GTEST_SKIP() << "names differing in case only are one file on Windows";
    const std::string dir = fleetFolder();
    writeTextFile(dir + "/list.csv", "address\n127.0.0.2\n");
    ProgramResult r = runProgram("VNfleet", sendingJava({"-P", "pw", "--report", "run.jsonl", "--debug-log",
                                                         "RUN.JSONL"}), startupMs(), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.errors, "VNfleet: the report run.jsonl is also the other output\n");
    EXPECT_EQ(readText(dir + "/run.jsonl"), "");
}
