#include "platform/folders.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/registry.h"
#include "support/test_support.h"

namespace tallowick::platform {
namespace {

// Sets an environment variable for one scope and restores it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Folders, ProgramFolderFollowsTallowickHome) {
    test::TempDir dir;
    ScopedEnv home("TALLOWICK_HOME", dir.path().string());
    EXPECT_EQ(program_folder(), dir.path());
}

TEST(Folders, UserDataFolderIsCreatedOnFirstUse) {
    test::TempDir dir;
    ScopedEnv data("XDG_DATA_HOME", (dir / "share").string());
    auto folder = user_data_folder();
    // The default report lives there, not in the program folder.
    EXPECT_EQ(default_output_path(), (folder / "Report" / "Webreport.html").string());
    EXPECT_EQ(folder, dir / "share" / "Brisvale-Tallowick");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(Folders, DocumentsFromUserDirsElseHomeDocuments) {
    test::TempDir dir;
    ScopedEnv home("HOME", dir.path().string());
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "cfg").string());
    EXPECT_EQ(documents_folder(), dir / "Documents");
    std::filesystem::create_directories(dir / "cfg");
    test::write_file(dir / "cfg" / "user-dirs.dirs",
                     "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    EXPECT_EQ(documents_folder(), dir / "Papers");
}

TEST(Paths, BothSeparatorsAreAccepted) {
    EXPECT_EQ(normalise_path("C:\\logs\\access.log"), "C:/logs/access.log");
    const std::pair<const char*, const char*> cases[] = {
        {"/var/www/Report/Webreport.html", "/var/www/Report"},
        {"Report\\Webreport.html", "Report"},
        {"Webreport.html", "."},
        {"/Webreport.html", "/"},
    };
    for (auto [path, folder] : cases) EXPECT_EQ(folder_of(path), folder) << path;
}

TEST(RegistryStore, ValuesPersistAndStayOnOneLine) {
    test::TempDir dir;
    auto path = dir / "registry.txt";
    {
        Registry reg(path);
        EXPECT_FALSE(reg.get("lastsettings"));
        ASSERT_TRUE(reg.set("lastsettings", "/home/u/site.tkp"));
        ASSERT_TRUE(reg.set("service/params", "line one\nline=two"));
    }
    Registry again(path);
    EXPECT_EQ(again.get("lastsettings"), "/home/u/site.tkp");
    EXPECT_EQ(again.get("service/params"), "line one line=two");
    ASSERT_TRUE(again.erase("lastsettings"));
    EXPECT_FALSE(Registry(path).get("lastsettings"));
}

TEST(RegistryStore, UnwritableStoreReportsFailure) {
    Registry reg("/nonexistent-folder/registry.txt");
    EXPECT_FALSE(reg.set("k", "v"));
    EXPECT_EQ(reg.get("k"), "v");   // kept in memory for this process
}

}  // namespace
}  // namespace tallowick::platform
