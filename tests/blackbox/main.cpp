// Black-box tests: --bin-dir=DIR names the built programs, --wine runs the
// Windows build under Wine (VN_WINE names another wine program,
// VN_WINE_STDERR a file for Wine's own messages).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "programs.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::string binDir = ".";
    bool wine = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--bin-dir=", 10) == 0)
            binDir = argv[i] + 10;
        else if (std::strcmp(argv[i], "--wine") == 0)
            wine = true;
    }
    setProgramLocation(binDir, wine);
    return RUN_ALL_TESTS();
}
