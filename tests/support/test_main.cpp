// Every test process runs with TALLOWICK_HOME (the program folder) and the XDG
// folders pointing into a temporary folder, so no test touches the user's files.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/test_support.h"

int main(int argc, char** argv) {
    tallowick::test::TempDir home;
    setenv("TALLOWICK_HOME", (home / "program").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("HOME", (home / "home").c_str(), 1);
    std::filesystem::create_directories(home / "program");
    std::filesystem::create_directories(home / "home");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
