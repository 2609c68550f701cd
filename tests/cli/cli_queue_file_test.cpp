// quillmoor-cli start --suspend-to and resume against nginx: SIGTERM (or SIGHUP) writes the
// queue file instead of discarding the queue, and resume fetches the aborted transfer again.
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

TEST(CliQueueFile, TermWritesTheQueueAndResumeFinishesIt) {
    const std::string dir = MakeTempDir("cliqueue");
    const std::string home = dir + "/home", store = dir + "/store", site = dir + "/site";
    fs::create_directories(home);
    fs::create_directories(store);
    ASSERT_TRUE(WriteFile(site + "/slow.bin", std::string(120000, 'z')));
    NginxPeer nginx(site, "location /slow { limit_rate 40k; }\n");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();
    ASSERT_EQ(RunCli({"--home", home, "options", "PathPrefix=" + store + "/"}).exitCode, 0);
    ASSERT_EQ(RunCli({"--home", home, "add", "Slow", nginx.Url("/slow.bin")}).exitCode, 0);

    const std::string queueFile = dir + "/paused.queue", errFile = dir + "/err.txt", outFile = dir + "/out.txt";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* e = std::freopen(errFile.c_str(), "w", stderr);
        FILE* o = std::freopen(outFile.c_str(), "w", stdout);
        (void)e;
        (void)o;
        const std::string cli = CliPath();
        ::execl(cli.c_str(), cli.c_str(), "--home", home.c_str(), "start", "--suspend-to", queueFile.c_str(), "Slow/0",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool running = false;
    for (int i = 0; i < 100 && !running; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string err = ReadFile(errFile);
        running = err.find("Size: ") != std::string::npos && err.find("Size: 0 bytes") == std::string::npos;
    }
    EXPECT_TRUE(running) << ReadFile(errFile);
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(ReadFile(errFile).find("The queue was written to " + queueFile), std::string::npos) << ReadFile(errFile);
    EXPECT_NE(ReadFile(outFile).find("SAbr=1"), std::string::npos) << ReadFile(outFile);
    const std::string saved = ReadFile(queueFile);
    EXPECT_NE(saved.find("URL=" + nginx.Url("/slow.bin")), std::string::npos) << saved;

    RunResult r = RunCli({"--home", home, "resume", queueFile}, 120000);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("S200=1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SAbr=1"), std::string::npos) << r.out;  // a resumed Project keeps its statistics
    bool stored = false;
    for (auto& e : fs::recursive_directory_iterator(store))
        if (e.path().filename() == "slow.bin") stored = fs::file_size(e.path()) == 120000;
    EXPECT_TRUE(stored);

    // SIGHUP (the terminal went away) suspends to the file the same way.
    ASSERT_EQ(RunCli({"--home", home, "add", "Again", nginx.Url("/slow.bin?again")}).exitCode, 0);
    const std::string hupFile = dir + "/hup.queue", hupErr = dir + "/hup-err.txt";
    pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* e = std::freopen(hupErr.c_str(), "w", stderr);
        FILE* o = std::freopen("/dev/null", "w", stdout);
        (void)e;
        (void)o;
        const std::string cli = CliPath();
        ::execl(cli.c_str(), cli.c_str(), "--home", home.c_str(), "start", "--suspend-to", hupFile.c_str(), "Again/0",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    running = false;
    for (int i = 0; i < 100 && !running; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string err = ReadFile(hupErr);
        running = err.find("Size: ") != std::string::npos && err.find("Size: 0 bytes") == std::string::npos;
    }
    EXPECT_TRUE(running) << ReadFile(hupErr);
    ::kill(pid, SIGHUP);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(ReadFile(hupFile).find("URL=" + nginx.Url("/slow.bin?again")), std::string::npos) << ReadFile(hupErr);

    EXPECT_EQ(RunCli({"--home", home, "resume"}).exitCode, 2);
    r = RunCli({"--home", home, "resume", dir + "/missing.queue"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("missing.queue"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace qm::test
