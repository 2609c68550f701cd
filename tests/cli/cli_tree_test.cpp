// quillmoor-cli project, defaults, due, new-folder, rename, delete, move and browse against a
// program folder of their own; serve refusing a second instance of the same folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/peers.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

struct Home {
    std::string dir = MakeTempDir("clitree");
    RunResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--home", dir});
        return RunCli(args);
    }
};

TEST(CliTree, ProjectAndDefaultsSettings) {
    Home h;
    ASSERT_EQ(h.Cli({"add", "Sites", "docs.test/a/", "--caption", "Docs"}).exitCode, 0);
    RunResult r = h.Cli({"project", "sites/docs"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("IID=1\nCaption=Docs\nURL=http://docs.test/a/\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nWhen=0\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nS200=0\n"), std::string::npos);

    r = h.Cli({"project", "Sites/0", "When=1", "Hour=6", "Minute=30", "RSrvsIn=a\\nb"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = h.Cli({"project", "Sites/Docs"});
    EXPECT_NE(r.out.find("\nWhen=1\nHour=6\nMinute=30\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nRSrvsIn=a\\nb\n"), std::string::npos) << r.out;
    // An unknown key, a bad value or the identifier: exit 2 and nothing changes.
    const std::string before = ReadFile(h.dir + "/Orrinal.dat");
    EXPECT_EQ(h.Cli({"project", "Sites/Docs", "Hour=7", "Nope=1"}).exitCode, 2);
    r = h.Cli({"project", "Sites/Docs", "Hour=7", "Lev=deep"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("deep"), std::string::npos) << r.err;
    EXPECT_EQ(h.Cli({"project", "Sites/Docs", "IID=5"}).exitCode, 2);
    EXPECT_EQ(h.Cli({"project", "Sites/Docs", "Hour"}).exitCode, 2);
    r = h.Cli({"project", "Sites/Docs", "LimBNumber=yes"});  // a yes/no setting says which
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("not True or False for \"LimBNumber\""), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(h.dir + "/Orrinal.dat"), before);
    ASSERT_EQ(h.Cli({"project", "Sites/Docs", "LimBNumber=1", "LimBSize=true"}).exitCode, 0);
    r = h.Cli({"project", "Sites/Docs"});
    EXPECT_NE(r.out.find("\nLimBSize=True\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nLimBNumber=True\n"), std::string::npos) << r.out;
    ASSERT_EQ(h.Cli({"project", "Sites/Docs", "LimBNumber=False", "LimBSize=0"}).exitCode, 0);
    EXPECT_EQ(ReadFile(h.dir + "/Orrinal.dat"), before);
    // The latest addition is the last setting shown, and is set like the others.
    ASSERT_EQ(h.Cli({"project", "Sites/Docs", "RenderPages=True"}).exitCode, 0);
    r = h.Cli({"project", "Sites/Docs"});
    EXPECT_NE(r.out.find("\nLoginFields=\nRenderPages=True\n"), std::string::npos) << r.out;
    ASSERT_EQ(h.Cli({"project", "Sites/Docs", "RenderPages=False"}).exitCode, 0);
    EXPECT_EQ(ReadFile(h.dir + "/Orrinal.dat"), before);
    EXPECT_EQ(h.Cli({"project", "Sites/Nothing"}).exitCode, 1);

    // The schedule is what due reports.
    r = h.Cli({"due", "--at", "2026-12-10 06:30"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Sites/Docs\n");
    EXPECT_EQ(h.Cli({"due", "--at", "2026-12-10 06:31"}).out, "");
    EXPECT_EQ(h.Cli({"due", "--at", "2026-02-30 06:30"}).exitCode, 2);

    ASSERT_EQ(h.Cli({"defaults", "Lev=4", "Img=No"}).exitCode, 0);
    r = h.Cli({"defaults"});
    EXPECT_NE(r.out.find("\nLev=4\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nImg=No\n"), std::string::npos) << r.out;
    EXPECT_EQ(h.Cli({"defaults", "Lev=x"}).exitCode, 2);
    ASSERT_EQ(h.Cli({"add", "Sites", "new.test"}).exitCode, 0);
    EXPECT_NE(h.Cli({"project", "Sites/1"}).out.find("\nLev=4\n"), std::string::npos);
}

TEST(CliTree, FolderCommandsRefusalsAndBrowse) {
    Home h;
    ASSERT_EQ(h.Cli({"options", "PathPrefix=" + h.dir + "/dl/", "HTTPStart=0"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"add", "Sites", "a.test/x/", "--caption", "A"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"add", "Sites", "b.test", "--caption", "B"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"new-folder", "Archive"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"rename", "archive", "Old Sites"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"move", "Sites/B", "Old Sites"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"move", "Sites/A", "Old Sites/B"}).exitCode, 0);
    RunResult r = h.Cli({"move", "Old Sites", "Old Sites/B"});
    EXPECT_EQ(r.exitCode, 1);
    r = h.Cli({"list"});
    EXPECT_NE(r.out.find("Old Sites\n  1\tA\thttp://a.test/x/\n  2\tB\thttp://b.test\n"), std::string::npos) << r.out;

    r = h.Cli({"delete", "Old Sites"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Please delete all Projects first."), std::string::npos) << r.err;
    r = h.Cli({"browse", "Old Sites/A", "--print"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "file://" + h.dir + "/dl/a.test/x/default.htm\n");

    ASSERT_EQ(h.Cli({"delete", "Old Sites/A"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"delete", "Old Sites/0"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"delete", "Old Sites"}).exitCode, 0);
    ASSERT_EQ(h.Cli({"delete", "Sites"}).exitCode, 0);
    r = h.Cli({"delete", "Default"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("At least one folder should remain."), std::string::npos) << r.err;
    EXPECT_EQ(h.Cli({"delete", "Nowhere"}).exitCode, 1);
    EXPECT_EQ(h.Cli({"rename", "Default", ""}).exitCode, 2);
    EXPECT_EQ(h.Cli({"new-folder"}).exitCode, 2);
}

TEST(CliTree, ServeRefusesASecondInstanceOfTheSameFolder) {
    Home h;
    ASSERT_EQ(h.Cli({"options", "HTTPPort=7999"}).exitCode, 0);
    const std::string log = h.dir + "/serve.log";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* o = std::freopen(log.c_str(), "w", stdout);
        FILE* e = std::freopen(log.c_str(), "a", stderr);
        (void)o;
        (void)e;
        const std::string cli = CliPath();
        ::execl(cli.c_str(), cli.c_str(), "--home", h.dir.c_str(), "serve", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool serving = false;
    for (int i = 0; i < 100 && !serving; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        serving = ReadFile(log).find("Serving stored sites at") != std::string::npos;
    }
    EXPECT_TRUE(serving) << ReadFile(log);
    RunResult second = h.Cli({"serve"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.err.find("already runs"), std::string::npos) << second.err;
    bool shown = false;
    for (int i = 0; i < 50 && !shown; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        shown = ReadFile(log).find("asked this one to show itself") != std::string::npos;
    }
    EXPECT_TRUE(shown) << ReadFile(log);
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::exists(h.dir + "/Orrinal.dat"));  // saved on the way out

    // The folder is free again once it has ended.
    pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* o = std::freopen(log.c_str(), "w", stdout);
        (void)o;
        const std::string cli = CliPath();
        ::execl(cli.c_str(), cli.c_str(), "--home", h.dir.c_str(), "serve", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    serving = false;
    for (int i = 0; i < 100 && !serving; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        serving = ReadFile(log).find("Serving stored sites at") != std::string::npos;
    }
    EXPECT_TRUE(serving);
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
}

// quillmoor-cli serve on h's folder in a child process, its output in log; the child's id.
pid_t StartServe(Home& h, const std::string& log) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        FILE* o = std::freopen(log.c_str(), "w", stdout);
        FILE* e = std::freopen(log.c_str(), "a", stderr);
        (void)o;
        (void)e;
        const std::string cli = CliPath();
        ::execl(cli.c_str(), cli.c_str(), "--home", h.dir.c_str(), "serve", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 100 && pid > 0; ++i) {
        if (ReadFile(log).find("Serving stored sites at") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return pid;
}

TEST(CliTree, CommandsThatSaveAreRefusedWhileServeRunsAndReadersGoOn) {
    Home h;
    ASSERT_EQ(h.Cli({"options", "HTTPPort=" + std::to_string(FreePort())}).exitCode, 0);
    ASSERT_EQ(h.Cli({"add", "Sites", "http://docs.test/", "--caption", "Docs"}).exitCode, 0);
    const std::string log = h.dir + "/serve.log";
    const pid_t pid = StartServe(h, log);
    ASSERT_GT(pid, 0);
    ASSERT_NE(ReadFile(log).find("Serving stored sites at"), std::string::npos) << ReadFile(log);

    const std::vector<std::vector<std::string>> changes = {{"add", "Sites", "http://lost.test/"},
                                                           {"new-folder", "Lost"},
                                                           {"rename", "Sites", "Renamed"},
                                                           {"options", "TimeOut=77"},
                                                           {"project", "Sites/Docs", "Lev=4"},
                                                           {"defaults", "Lev=5"},
                                                           {"delete", "Sites/Docs"},
                                                           {"get", "http://127.0.0.1:9/"}};
    for (const auto& change : changes) {
        const RunResult r = h.Cli(change);
        EXPECT_EQ(r.exitCode, 1) << change[0] << ": " << r.err;
        EXPECT_NE(r.err.find("is in use by quillmoor-cli serve (process " + std::to_string(pid) + ")"),
                  std::string::npos)
            << r.err;
    }
    // Reading goes on alongside.
    RunResult r = h.Cli({"list"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Docs"), std::string::npos);
    EXPECT_EQ(h.Cli({"options"}).exitCode, 0);
    EXPECT_EQ(h.Cli({"project", "Sites/Docs"}).exitCode, 0);
    EXPECT_EQ(h.Cli({"defaults"}).exitCode, 0);
    EXPECT_EQ(h.Cli({"due"}).exitCode, 0);
    EXPECT_EQ(h.Cli({"explain", "Sites/Docs", "http://docs.test/a.htm"}).exitCode, 0);
    EXPECT_EQ(h.Cli({"browse", "Sites/Docs", "--print"}).exitCode, 0);

    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(log);
    // Serve's own save on the way out kept the tree as it was; no refused change slipped in.
    r = h.Cli({"list"});
    EXPECT_EQ(r.out.find("lost.test"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Lost"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Sites"), std::string::npos) << r.out;
    // The folder is free again.
    EXPECT_EQ(h.Cli({"new-folder", "After"}).exitCode, 0);
}

TEST(CliTree, CommandsSavingAtOnceWaitForEachOtherAndLoseNothing) {
    Home h;
    ASSERT_EQ(h.Cli({"list"}).exitCode, 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 6; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            FILE* o = std::freopen("/dev/null", "w", stdout);
            (void)o;
            const std::string cli = CliPath();
            const std::string caption = "Folder" + std::to_string(i);
            ::execl(cli.c_str(), cli.c_str(), "--home", h.dir.c_str(), "new-folder", caption.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const RunResult r = h.Cli({"list"});
    for (int i = 0; i < 6; ++i) EXPECT_NE(r.out.find("Folder" + std::to_string(i)), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qm::test
