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
#include "platform/private_folder.h"
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
        if (hadOld)
            setenv("TMPDIR", saved.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    std::string Private() const { return tmp + "/quillmoor-" + std::to_string(getuid()); }
    std::string tmp, saved;
    bool hadOld = false;
};

TEST_F(TempFilesTest, FilesAreCreatedInAPrivateFolder) {
    const std::string a = engine::CreateTemporaryFile(), b = engine::CreateTemporaryFile();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(engine::TemporaryFolder(), Private());
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
    const std::string c = engine::CreateTemporaryFile();
    ASSERT_FALSE(c.empty());
    EXPECT_TRUE(fs::exists(c));
    ASSERT_EQ(stat(Private().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TempFilesTest, CleanUpDeletesOnlyLeftoverDownloadFiles) {
    const std::string a = engine::CreateTemporaryFile();
    ASSERT_FALSE(a.empty());
    const std::string keep = Private() + "/notes.txt";
    const std::string dir = Private() + "/htt1.tmp";
    std::ofstream(keep) << "x";
    fs::create_directory(dir);
    std::ofstream(tmp + "/htt2.tmp") << "someone else's";  // outside the private folder
    engine::CleanTemporaryFiles();
    EXPECT_FALSE(fs::exists(a));
    EXPECT_FALSE(fs::exists(Private() + "/htt--.tmp"));
    EXPECT_TRUE(fs::exists(keep));
    EXPECT_TRUE(fs::is_directory(dir));
    EXPECT_TRUE(fs::exists(tmp + "/htt2.tmp"));
}

TEST_F(TempFilesTest, AForeignOrOpenFolderIsNeverUsed) {
    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    unsetenv("XDG_RUNTIME_DIR");

    // A folder of that name that others may write to: another folder is made beside it.
    fs::create_directory(Private());
    fs::permissions(Private(), fs::perms::all);
    std::ofstream(Private() + "/htt3.tmp") << "x";
    const std::string a = engine::CreateTemporaryFile();
    ASSERT_FALSE(a.empty());
    const std::string made = fs::path(a).parent_path().string();
    EXPECT_EQ(made.rfind(Private() + "-", 0), 0u) << made;
    EXPECT_TRUE(platform::IsOwnPrivateFolder(made));
    EXPECT_EQ(engine::TemporaryFolder(), made);
    engine::CleanTemporaryFiles();
    EXPECT_FALSE(fs::exists(a));
    EXPECT_TRUE(fs::exists(Private() + "/htt3.tmp"));

    // A link planted there: the user's runtime folder is preferred when it is private.
    fs::remove_all(Private());
    const std::string target = test::MakeTempDir("elsewhere");
    std::ofstream(target + "/htt4.tmp") << "x";
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directory_symlink(target, Private());
    const std::string runtime = test::MakeTempDir("runtime");
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    EXPECT_EQ(engine::TemporaryFolder(), runtime + "/quillmoor");
    const std::string b = engine::CreateTemporaryFile();
    EXPECT_EQ(fs::path(b).parent_path().string(), runtime + "/quillmoor");
    engine::CleanTemporaryFiles();
    EXPECT_TRUE(fs::exists(target + "/htt4.tmp"));
    EXPECT_FALSE(fs::exists(b));

    // A runtime folder others may enter is not used either; nor is a private-looking folder
    // of another owner.
    const std::string openRuntime = test::MakeTempDir("open-runtime");
    fs::permissions(openRuntime, fs::perms::all);
    setenv("XDG_RUNTIME_DIR", openRuntime.c_str(), 1);
    fs::remove(Private());
    fs::create_directory(Private());
    fs::permissions(Private(), fs::perms::owner_all, fs::perm_options::replace);
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(Private().c_str(), 65534, 65534), 0);
        const std::string c = engine::TemporaryFolder();
        EXPECT_NE(c, Private());
        EXPECT_NE(c, openRuntime + "/quillmoor");
        EXPECT_EQ(c.rfind(Private() + "-", 0), 0u) << c;
    }
    if (oldRuntime)
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(TempFilesTest, NoFolderNothingToDo) {
    engine::CleanTemporaryFiles();
    EXPECT_FALSE(fs::exists(Private()));
}

}  // namespace
}  // namespace qm
