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

// The output name links to store/v1.enc, an old package or nothing yet.
void linkIntoStore(const std::string& output, bool oldOne)
{
    const fs::path store = fs::path(output).parent_path() / "store";
    fs::create_directory(store);
    if (oldOne)
        oldPackage((store / "v1.enc").string(), 0640);
    fs::create_symlink("store/v1.enc", output);
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

// A link as the package's name stays; the package replaces what it points
// at (keeping its mode), or creates it when it points at nothing yet.
TEST(PackageMode, LinkAsOutputNameWritesItsTarget)
{
    if (programsUnderWine())
        GTEST_SKIP() << "the Windows build takes the name as it is";
    const mode_t mask = umask(0);
    umask(mask);
    for (bool oldOne : {true, false}) {
        SCOPED_TRACE(oldOne ? "link to an old package" : "dangling link");
        std::string dir;
        ProgramResult r = packageOver(oldOne ? +[](const std::string& o) { linkIntoStore(o, true); }
                                             : +[](const std::string& o) { linkIntoStore(o, false); },
                                      dir);
        EXPECT_EQ(r.output, "Reading in the html file to encrypt\n");
        EXPECT_EQ(fs::read_symlink(dir + "/html.enc"), "store/v1.enc");
        EXPECT_EQ(readFile(dir + "/store/v1.enc").size(), 12u + 264u);
        EXPECT_EQ(fs::status(dir + "/store/v1.enc").permissions(),
                  fs::perms(oldOne ? 0640 : 0666 & ~mask));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/store"), fs::directory_iterator()), 1);
        fs::remove_all(dir);
    }
}
