// Package mode over what the working directory already holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "programs.h"

namespace fs = std::filesystem;

namespace {
int startupMs()
{
    return programsUnderWine() ? 30000 : 5000;
}

ProgramResult packageHtml(const std::string& dir)
{
    return runProgram("VNloader", {"-NE", "-T", "H", "-f", "page.htm", "-K", "key"}, startupMs(), dir);
}

std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

// As creating the package itself would: refused, and nothing changes.
TEST(PackageMode, OutputThatMayNotBeWrittenIsLeftAlone)
{
    const std::vector<unsigned char> old = randomBytes(300, 7);
    struct Case {
        const char* what;
        void (*prepare)(const std::string& output, const std::vector<unsigned char>& old);
    } cases[] = {
        {"directory", [](const std::string& output, const std::vector<unsigned char>&) {
             fs::create_directories(output + "/inside");
         }},
        {"read-only file", [](const std::string& output, const std::vector<unsigned char>& bytes) {
             writeFile(output, bytes);
             chmod(output.c_str(), 0444);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = makeTempDir();
        writeTextFile(dir + "/page.htm", "<p>new</p>");
        const std::string output = dir + "/html.enc";
        c.prepare(output, old);
        const std::vector<std::string> before = entries(dir);
        ProgramResult r = packageHtml(dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "Reading in the html file to encrypt\nCould not open: html.enc");
        EXPECT_EQ(entries(dir), before);
        if (fs::is_regular_file(output)) {
            EXPECT_EQ(readFile(output), old);
        }
        fs::remove_all(dir);
    }
}

TEST(PackageMode, ReplacedPackageKeepsItsPermissionBits)
{
    if (programsUnderWine())
        GTEST_SKIP() << "Windows files carry no POSIX permission bits";
    const std::string dir = makeTempDir();
    writeTextFile(dir + "/page.htm", "<p>new</p>");
    const std::string output = dir + "/html.enc";
    writeFile(output, randomBytes(300, 7));
    chmod(output.c_str(), 0604);
    ProgramResult r = packageHtml(dir);
    EXPECT_EQ(r.output, "Reading in the html file to encrypt\n");
    EXPECT_EQ(readFile(output).size(), 12u + 264u);
    EXPECT_EQ(fs::status(output).permissions(), fs::perms(0604));
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"html.enc", "page.htm"}));
    fs::remove_all(dir);
}
