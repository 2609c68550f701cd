// Scratch files beside stored names: the names, the lock a writer holds, and the sweep of
// what a killed run left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <filesystem>

#include "engine/scratch_files.h"
#include "engine/stored_files.h"
#include "support/peers.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(ScratchFiles, NamesAreTheirOwnAndNeverAStoredName) {
    EXPECT_TRUE(engine::IsScratchName("index.html.qm%part"));
    EXPECT_TRUE(engine::IsScratchName("pic.gif.qm%aZ09xY"));
    // What the address mapping can make ("%" never survives it) and near misses.
    for (const char* name : {"index.html", "a.qm-part", "a.qm_part", "a.qm%par", "a.qm%abcdefg", "a.qm%ab-def",
                             ".qm%part", "a.qm%partx", "qm%part"})
        EXPECT_FALSE(engine::IsScratchName(name)) << name;
}

TEST(ScratchFiles, SweepRemovesOnlyWhatNoWriterHolds) {
    const std::string dir = test::MakeTempDir("scratch-sweep");
    const std::string outside = test::MakeTempDir("scratch-outside");
    auto old = [](const std::string& path, const std::string& text) {
        ASSERT_TRUE(test::WriteFile(path, text));
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    };
    old(dir + "/page.html", "stored");
    old(dir + "/page.html.qm%part", "left by a killed run");
    old(dir + "/pic.gif.qm%Ab12Cd", "left too");
    old(dir + "/empty.qm%part", "");
    old(dir + "/site-file.qm-part", "a name a site may have");
    old(outside + "/victim.qm%part", "outside");
    fs::create_symlink(outside + "/victim.qm%part", dir + "/link.qm%part");
    fs::create_directory(dir + "/folder.qm%part");

    // A writer that still runs: its scratch file is created locked and stays.
    std::string liveName;
    int live = engine::CreateScratchBeside(dir + "/live.bin", liveName, 0644);
    ASSERT_GE(live, 0);
    ASSERT_EQ(::write(live, "x", 1), 1);
    fs::last_write_time(liveName, fs::file_time_type::clock::now() - std::chrono::minutes(5));

    EXPECT_EQ(engine::RemoveStaleScratchFiles(dir), 3);
    EXPECT_FALSE(fs::exists(dir + "/page.html.qm%part"));
    EXPECT_FALSE(fs::exists(dir + "/pic.gif.qm%Ab12Cd"));
    EXPECT_FALSE(fs::exists(dir + "/empty.qm%part"));
    EXPECT_TRUE(fs::exists(dir + "/page.html"));
    EXPECT_TRUE(fs::exists(dir + "/site-file.qm-part"));
    EXPECT_TRUE(fs::is_symlink(dir + "/link.qm%part"));
    EXPECT_EQ(test::ReadFile(outside + "/victim.qm%part"), "outside");
    EXPECT_TRUE(fs::is_directory(dir + "/folder.qm%part"));
    EXPECT_TRUE(fs::exists(liveName));

    // Committed, the live file has its name; a failed one leaves nothing behind.
    EXPECT_TRUE(engine::CommitScratch(live, liveName, dir + "/live.bin", true));
    EXPECT_EQ(test::ReadFile(dir + "/live.bin"), "x");
    std::string failedName;
    int failed = engine::OpenFixedScratch(dir + "/failed.html", failedName, 0644);
    ASSERT_GE(failed, 0);
    EXPECT_FALSE(engine::CommitScratch(failed, failedName, dir + "/failed.html", false));
    EXPECT_FALSE(fs::exists(failedName));
    EXPECT_FALSE(fs::exists(dir + "/failed.html"));
    EXPECT_EQ(engine::RemoveStaleScratchFiles(dir), 0);
    EXPECT_EQ(engine::RemoveStaleScratchFiles(dir + "/missing"), 0);
}

// A second process's scratch file is held by its lock while that process runs.
TEST(ScratchFiles, LockHeldByAnotherProcessKeepsTheFile) {
    const std::string dir = test::MakeTempDir("scratch-child");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string name;
        int fd = engine::CreateScratchBeside(dir + "/held.bin", name, 0644);
        if (fd >= 0 && ::write(fd, "y", 1) == 1) {
            struct timespec past[2] = {{::time(nullptr) - 300, 0}, {::time(nullptr) - 300, 0}};
            ::futimens(fd, past);
        }
        char c = fd >= 0 ? '1' : '0';
        if (::write(ready[1], &c, 1) != 1) _exit(1);
        ::pause();  // until killed, as a run may be
        _exit(0);
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(c, '1');
    EXPECT_EQ(engine::RemoveStaleScratchFiles(dir), 0);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(engine::RemoveStaleScratchFiles(dir), 1);  // the killed writer's lock is gone
    EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
}  // namespace qm
