// Package mode over what the working directory already holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "programs.h"

namespace fs = std::filesystem;

namespace {
// Packages page.htm in a fresh folder whose html.enc was made by prepare.
ProgramResult packageOver(void (*prepare)(const std::string& output), std::string& dir)
{
    dir = makeTempDir();
    writeTextFile(dir + "/page.htm", "<p>new</p>");
    prepare(dir + "/html.enc");
    return runProgram("VNloader", {"-NE", "-T", "H", "-f", "page.htm", "-K", "key"},
                      programsUnderWine() ? 30000 : 5000, dir);
}

void oldPackage(const std::string& output, mode_t mode)
{
    writeFile(output, randomBytes(300, 7));
    chmod(output.c_str(), mode);
}

}  // namespace

// As creating the package itself would: refused, and nothing changes.
TEST(PackageMode, OutputThatMayNotBeWrittenIsLeftAlone)
{
    for (auto prepare : {+[](const std::string& output) { fs::create_directories(output + "/in"); },
                         +[](const std::string& output) { oldPackage(output, 0444); }}) {
        std::string dir;
        ProgramResult r = packageOver(prepare, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "Reading in the html file to encrypt\nCould not open: html.enc");
        EXPECT_TRUE(fs::is_directory(dir + "/html.enc/in") || readFile(dir + "/html.enc") == randomBytes(300, 7));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
        fs::remove_all(dir);
    }
}

TEST(PackageMode, ReplacedPackageKeepsItsPermissionBits)
{
    if (programsUnderWine())
        GTEST_SKIP() << "Windows files carry no POSIX permission bits";
    std::string dir;
    ProgramResult r = packageOver([](const std::string& output) { oldPackage(output, 0604); }, dir);
    EXPECT_EQ(readFile(dir + "/html.enc").size(), 12u + 264u) << r.output;
    EXPECT_EQ(fs::status(dir + "/html.enc").permissions(), fs::perms(0604));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    fs::remove_all(dir);
}

// A link as the package's name stays; its target is replaced, keeping its
// mode, or created when the link dangles.
TEST(PackageMode, LinkAsOutputNameWritesItsTarget)
{
    if (programsUnderWine())
        GTEST_SKIP() << "the Windows build takes the name as it is";
    for (bool old : {true, false}) {
        std::string dir;
        ProgramResult r = packageOver(old ? +[](const std::string& out) { fs::create_directory(out + ".d");
                                                oldPackage(out + ".d/v1", 0640); fs::create_symlink("html.enc.d/v1", out); }
                                          : +[](const std::string& out) { fs::create_directory(out + ".d");
                                                fs::create_symlink("html.enc.d/v1", out); }, dir);
        EXPECT_EQ(r.output, "Reading in the html file to encrypt\n");
        EXPECT_EQ(fs::read_symlink(dir + "/html.enc"), "html.enc.d/v1");
        EXPECT_EQ(readFile(dir + "/html.enc.d/v1").size(), 12u + 264u);
        EXPECT_EQ(fs::status(dir + "/html.enc.d/v1").permissions(),  // a new file's, as page.htm's
                  old ? fs::perms(0640) : fs::status(dir + "/page.htm").permissions());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/html.enc.d"), fs::directory_iterator()), 1);
        fs::remove_all(dir);
    }
}
