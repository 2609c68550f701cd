// Start-up and saving of the session: program folder, registry.reg, options, Defaults
// Project and the tree store, and what happens with damaged files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "app/session.h"
#include "platform/program_folder.h"
#include "platform/registry.h"
#include "store/options.h"
#include "store/options_store.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::app {
namespace {

int Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

TEST(Session, FirstStartFillsRegistryAndSaveWritesTheStore) {
    std::string home = test::MakeTempDir("sess") + "/new/home";
    Session s;
    std::string error;
    ASSERT_TRUE(s.Open(home, error)) << error;
    EXPECT_EQ(s.Warnings(), "");
    EXPECT_EQ(s.ProgramFolder(), home);
    EXPECT_EQ(platform::ProgramFolder(), home);
    ASSERT_TRUE(fs::exists(home + "/registry.reg"));
    EXPECT_EQ(Mode(home + "/registry.reg"), 0600);
    const std::string reg = test::ReadFile(home + "/registry.reg");
    EXPECT_NE(reg.find("[HKEY_CURRENT_USER\\SOFTWARE\\Brantforge\\Quillmoor\\Parameters\\Defaults]"),
              std::string::npos);
    EXPECT_NE(reg.find("\"UAgent\"=\"Quillmoor/1.0\""), std::string::npos);
    EXPECT_EQ(store::Options().UAgent, "Quillmoor/1.0");
    ASSERT_EQ(s.Tree().Folders.size(), 1u);
    EXPECT_EQ(s.Tree().Folders[0]->Caption, "Default");
    EXPECT_FALSE(fs::exists(home + "/Orrinal.dat"));  // nothing saved before Save
    store::Options().HTTPCount = 4;
    s.Defaults().Lev = 6;
    ASSERT_TRUE(s.Save(error)) << error;
    EXPECT_EQ(Mode(home + "/Orrinal.dat"), 0600);

    store::Options().Reset();
    Session again;
    ASSERT_TRUE(again.Open(home, error)) << error;
    EXPECT_EQ(store::Options().HTTPCount, 4);
    EXPECT_EQ(again.Defaults().Lev, 6);
}

TEST(Session, HomeFromEnvironment) {
    std::string home = test::MakeTempDir("sessenv");
    ::setenv("QUILLMOOR_HOME", home.c_str(), 1);
    Session s;
    std::string error;
    ASSERT_TRUE(s.Open("", error)) << error;
    EXPECT_EQ(s.ProgramFolder(), home);
    ::unsetenv("QUILLMOOR_HOME");
}

TEST(Session, HomeDefaultsToTheUsersDataFolder) {
    std::string fakeHome = test::MakeTempDir("sesshome");
    const char* oldHome = std::getenv("HOME");
    std::string saved = oldHome ? oldHome : "";
    ::setenv("HOME", fakeHome.c_str(), 1);
    ::unsetenv("QUILLMOOR_HOME");
    Session s;
    std::string error;
    EXPECT_TRUE(s.Open("", error)) << error;
    EXPECT_EQ(s.ProgramFolder(), fakeHome + "/.local/share/quillmoor");
    EXPECT_EQ(store::Options().PathPrefix, fakeHome + "/Quillmoor/");
    if (oldHome)
        ::setenv("HOME", saved.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST(Session, UnusableProgramFolderFails) {
    std::string file = test::MakeTempDir("sessbad") + "/plainfile";
    test::WriteFile(file, "x");
    Session s;
    std::string error;
    EXPECT_FALSE(s.Open(file + "/sub", error));
    EXPECT_FALSE(error.empty());
}

TEST(Session, DamagedRegistryIsKeptAsideAndDefaultsUsed) {
    std::string home = test::MakeTempDir("sessreg");
    test::WriteFile(home + "/registry.reg",
                    "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"broken\r\n");
    Session s;
    std::string error;
    ASSERT_TRUE(s.Open(home, error)) << error;
    EXPECT_NE(s.Warnings().find("registry.reg is damaged"), std::string::npos);
    EXPECT_EQ(test::ReadFile(home + "/registry.reg.damaged"),
              "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"broken\r\n");
    EXPECT_EQ(store::Options().HTTPPort, 800);
    EXPECT_NE(test::ReadFile(home + "/registry.reg").find("\"HTTPPort\"=dword:00000320"), std::string::npos);
}

TEST(Session, DamagedStoreIsReportedKeptAsideAndNotLost) {
    std::string home = test::MakeTempDir("sesstree");
    const std::string store =
        "Stream 1.1 "
        "File\r\nCount=0\r\n[Object]\r\nType=1\r\nText=Mine\r\n[Object]\r\nType=0\r\nIID=4\r\nCaption=kept\r\n"
        "[Object]\r\nType=0\r\nIID=oops\r\n";
    test::WriteFile(home + "/Orrinal.dat", store);
    Session s;
    std::string error;
    ASSERT_TRUE(s.Open(home, error)) << error;
    EXPECT_NE(s.Warnings().find("Orrinal.dat"), std::string::npos);
    EXPECT_NE(s.Warnings().find("oops"), std::string::npos);
    ASSERT_EQ(s.Tree().Folders.size(), 1u);
    ASSERT_EQ(s.Tree().Folders[0]->Children.size(), 1u);
    EXPECT_EQ(s.Tree().Folders[0]->Children[0]->Caption, "kept");
    ASSERT_TRUE(s.Save(error)) << error;
    EXPECT_EQ(test::ReadFile(home + "/Orrinal.dat.damaged"), store);
}

}  // namespace
}  // namespace qm::app
