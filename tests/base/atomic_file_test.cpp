#include "base/atomic_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tallowick {
namespace {

TEST(AtomicFile, ReplacesContentAndLeavesNoTemporaryFile) {
    test::TempDir dir;
    auto path = dir / "settings.tkp";
    test::write_file(path, "old content that is longer than the new one");
    std::string error;
    ASSERT_TRUE(write_file_atomically(path, "new", error)) << error;
    EXPECT_EQ(test::read_file(path), "new");
    int files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1);
}

TEST(AtomicFile, FailureNamesThePathAndKeepsTheOldFile) {
    test::TempDir dir;
    auto target = dir / "keep.txt";
    test::write_file(target, "precious");
    // A rename onto a folder fails after the temporary file was written.
    std::filesystem::create_directory(dir / "folder");
    std::string error;
    EXPECT_FALSE(write_file_atomically(dir / "folder", "x", error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_FALSE(write_file_atomically(dir / "missing" / "f.txt", "x", error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_EQ(test::read_file(target), "precious");
    int files = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2);   // keep.txt and folder: no temporary left behind
}

}  // namespace
}  // namespace tallowick
