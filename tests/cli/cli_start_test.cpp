// quillmoor-cli get and start against nginx: stored files, statistics, saved store and site
// map, a second run counting "not modified", bad words, and stopping by signal.
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

std::string FindFile(const std::string& root, const std::string& name) {
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(root, ec))
        if (e.path().filename() == name) return e.path().string();
    return {};
}

class CliStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir("clistart");
        home_ = dir_ + "/home";
        store_ = dir_ + "/store";
        site_ = dir_ + "/site";
        fs::create_directories(home_);
        fs::create_directories(store_);
        ASSERT_TRUE(WriteFile(site_ + "/index.html", "<html>start page</html>"));
        ASSERT_TRUE(WriteFile(site_ + "/slow.bin", std::string(400000, 'z')));
        nginx_ = std::make_unique<NginxPeer>(site_, "location /slow { limit_rate 40k; }\n");
        ASSERT_TRUE(nginx_->Ok()) << nginx_->Error();
        RunResult r = RunCli({"--home", home_, "options", "PathPrefix=" + store_ + "/"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    RunResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--home", home_});
        return RunCli(args, 120000);
    }
    std::string dir_, home_, store_, site_;
    std::unique_ptr<NginxPeer> nginx_;
};

TEST_F(CliStartTest, GetStoresTheStartPageAndStartRunsItAgain) {
    RunResult r = Cli({"get", nginx_->Url("/index.html"), "--level", "1", "--folder", "Sites"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S200=1 S304=0 S400=0 SErr=0 SAbr=0"), std::string::npos) << r.out;
    std::string page = FindFile(store_, "index.html");
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(ReadFile(page), "<html>start page</html>");
    EXPECT_TRUE(fs::exists(page + ".primary"));
    EXPECT_TRUE(fs::exists(fs::path(page).parent_path() / "Descr.QV3"));
    std::string stored = ReadFile(home_ + "/Orrinal.dat");
    EXPECT_NE(stored.find("S200=1"), std::string::npos);
    // The site map lists the stored page.
    bool mapped = false;
    for (auto& e : fs::directory_iterator(home_))
        if (e.path().extension() == ".map" && ReadFile(e.path().string()).find(page) != std::string::npos)
            mapped = true;
    EXPECT_TRUE(mapped);

    // The same address again reuses the Project and counts "not modified".
    r = Cli({"get", nginx_->Url("/index.html"), "--folder", "sites"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S200=0 S304=1"), std::string::npos) << r.out;
    RunResult list = Cli({"list"});
    int lines = 0;
    std::size_t at = 0;
    for (std::size_t nl; (nl = list.out.find('\n', at)) != std::string::npos; at = nl + 1)
        if (list.out.substr(at, nl - at).find(nginx_->Url("/index.html")) != std::string::npos) ++lines;
    EXPECT_EQ(lines, 1) << list.out;

    r = Cli({"start", "SITES/all"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S304=1"), std::string::npos) << r.out;
    // Progress went to standard error, not to the result lines.
    EXPECT_EQ(r.out.find("Downloaded"), std::string::npos);
}

TEST_F(CliStartTest, WordsThatStartNothing) {
    RunResult r = Cli({"start"});
    EXPECT_EQ(r.exitCode, 2);
    r = Cli({"start", "NoSuchFolder/all"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("NoSuchFolder"), std::string::npos) << r.err;
    r = Cli({"start", "Default/7"});
    EXPECT_EQ(r.exitCode, 1);
    r = Cli({"get"});
    EXPECT_EQ(r.exitCode, 2);
    r = Cli({"get", nginx_->Url("/"), "--level", "x"});
    EXPECT_EQ(r.exitCode, 2);
}

TEST_F(CliStartTest, TerminationStopsSavesAndLeavesNoPartFile) {
    RunResult r = Cli({"add", "Slow", nginx_->Url("/slow.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string errFile = dir_ + "/err.txt", outFile = dir_ + "/out.txt";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* e = std::freopen(errFile.c_str(), "w", stderr);
        FILE* o = std::freopen(outFile.c_str(), "w", stdout);
        (void)e;
        (void)o;
        std::string cli = CliPath();
        ::execl(cli.c_str(), cli.c_str(), "--home", home_.c_str(), "start", "--log", "Slow/0",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the transfer runs (the progress lines show received kilobytes).
    bool running = false;
    for (int i = 0; i < 100 && !running; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::string err = ReadFile(errFile);
        running = err.find("Size: ") != std::string::npos && err.find("Size: 0 bytes") == std::string::npos;
    }
    EXPECT_TRUE(running) << ReadFile(errFile);
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(ReadFile(outFile).find("SAbr=1"), std::string::npos) << ReadFile(outFile);
    EXPECT_NE(ReadFile(errFile).find("HTTP0: "), std::string::npos);
    EXPECT_TRUE(FindFile(store_, "slow.bin").empty());
    EXPECT_NE(ReadFile(home_ + "/Orrinal.dat").find("SAbr=1"), std::string::npos);
}

}  // namespace
}  // namespace qm::test
