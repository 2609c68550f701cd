// Temporary download files: a private folder of this user, and a clean-up that only ever
// touches our own leftovers there.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "engine/local_path.h"
#include "support/peers.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

class TempFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp = test::MakeTempDir("tmpdir");
        const char* old = std::getenv("TMPDIR");
        saved = old ? old : "";
        hadOld = old != nullptr;
        setenv("TMPDIR", tmp.c_str(), 1);
    }
    void TearDown() override {
        if (hadOld) setenv("TMPDIR", saved.c_str(), 1);
        else unsetenv("TMPDIR");
    }
    std::string Private() const { return tmp + "/quillmoor-" + std::to_string(getuid()); }
    std::string tmp, saved;
    bool hadOld = false;
};

TEST_F(TempFilesTest, FilesAreCreatedInAPrivateFolder) {
    const std::string a = CreateTemporaryFile(), b = CreateTemporaryFile();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(TemporaryFolder(), Private());
    EXPECT_EQ(fs::path(a).parent_path().string(), Private());
    EXPECT_TRUE(std::regex_match(fs::path(a).filename().string(), std::regex("htt[0-9A-F]+\\.tmp")));
    struct stat st {};
    ASSERT_EQ(stat(Private().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
    // The folder vanished while the program ran: it is made (and checked) again.
    fs::remove_all(Private());
    const std::string c = CreateTemporaryFile();
    ASSERT_FALSE(c.empty());
    EXPECT_TRUE(fs::exists(c));
    ASSERT_EQ(stat(Private().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TempFilesTest, CleanUpDeletesOnlyLeftoverDownloadFiles) {
    const std::string a = CreateTemporaryFile();
    ASSERT_FALSE(a.empty());
    const std::string keep = Private() + "/notes.txt";
    const std::string dir = Private() + "/htt1.tmp";
    std::ofstream(keep) << "x";
    fs::create_directory(dir);
    std::ofstream(tmp + "/htt2.tmp") << "someone else's";  // outside the private folder
    CleanTemporaryFiles();
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(Private() + "/htt--.tmp"));
    EXPECT_TRUE(fs::exists(keep));
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_TRUE(fs::exists(tmp + "/htt2.tmp"));
}

TEST_F(TempFilesTest, AForeignOrOpenFolderIsNeverUsed) {
    // A folder of that name that others may write to, or a link planted there, is refused.
    fs::create_directory(Private());
    fs::permissions(Private(), fs::perms::all);
    std::ofstream(Private() + "/htt3.tmp") << "x";
    EXPECT_EQ(CreateTemporaryFile(), "");
    CleanTemporaryFiles();
    EXPECT_TRUE(fs::exists(Private() + "/htt3.tmp"));

    fs::remove_all(Private());
    const std::string target = test::MakeTempDir("elsewhere");
    std::ofstream(target + "/htt4.tmp") << "x";
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directory_symlink(target, Private());
    EXPECT_EQ(TemporaryFolder(), "");
    CleanTemporaryFiles();
    EXPECT_TRUE(fs::exists(target + "/htt4.tmp"));
}

TEST_F(TempFilesTest, NoFolderNothingToDo) {
    CleanTemporaryFiles();
    EXPECT_FALSE(fs::exists(Private()));
}

}  // namespace
}  // namespace qm
