// SIGTERM and SIGHUP to quillmoor-cli serve and to the desktop program (offscreen): the first
// saves and closes as Exit does (window state, tree, site maps, the plug-ins' done call), a
// second one, coming before the first is handled, ends the program at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::test {
namespace {

// A program of this build as a child, its output in a log file, its exit status kept.
class Launched {
public:
    bool Start(const std::vector<std::string>& argv, const std::string& log) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
            }
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return true;
    }
    void Signal(int number) { ::kill(pid_, number); }
    // The wait status once it ended, or -1 when it had not ended after timeoutMs (then it is killed).
    int Wait(int timeoutMs) {
        int status = 0;
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Kill();
        return -1;
    }
    ~Launched() { Kill(); }

private:
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t pid_ = -1;
};

bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 60000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pred();
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool HasMap(const std::string& home) {
    for (const auto& entry : fs::directory_iterator(home))
        if (entry.path().extension() == ".map" && fs::file_size(entry.path()) > 0) return true;
    return false;
}

// A small site on nginx; for each run a fresh program folder with the sample plug-in and
// one Project of that site.
class SignalsTest : public ::testing::Test {
protected:
    void SetUp() override {
        site_ = MakeTempDir("signal_site");
        ASSERT_TRUE(WriteFile(site_ + "/index.html", "<html><a href=\"a.html\">a</a></html>"));
        ASSERT_TRUE(WriteFile(site_ + "/a.html", "<html>A</html>"));
        nginx_ = std::make_unique<NginxPeer>(site_);
        ASSERT_TRUE(nginx_->Ok()) << nginx_->Error();
    }
    void MakeHome() {
        home_ = MakeTempDir("signal_home");
        log_ = home_ + "/program.log";
        fs::create_directories(home_ + "/plug-ins");
        fs::copy_file(QM_SAMPLE_PLUGIN, home_ + "/plug-ins/sample.so");
        ::chmod((home_ + "/plug-ins").c_str(), 0755);
        ASSERT_EQ(RunCli({"--home", home_, "options", "PathPrefix=" + home_ + "/sites/",
                          "HTTPPort=" + std::to_string(FreePort())})
                      .exitCode,
                  0);
        RunResult added = RunCli({"--home", home_, "add", "Sites", nginx_->Url("/index.html"), "--level", "2"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
    }
    std::string PluginLog() const { return ReadFile(home_ + "/sample-plugin.log"); }
    // Both files stored; then what start-up wrote is removed, so that what is there after
    // the signal was written by the close.
    void WaitUntilStoredThenClear() {
        ASSERT_TRUE(WaitFor([&] { return Count(PluginLog(), "stored ") >= 2; })) << PluginLog() << ReadFile(log_);
        for (const char* name : {"/Orrinal.dat", "/registry.reg"}) fs::remove(home_ + name);
        for (const auto& entry : fs::directory_iterator(home_))
            if (entry.path().extension() == ".map") fs::remove(entry.path());
    }
    std::string site_, home_, log_;
    std::unique_ptr<NginxPeer> nginx_;
};

TEST_F(SignalsTest, ServeSavesOnTheFirstSignalAndEndsAtOnceOnTheSecond) {
    MakeHome();
    {
        Launched serve;
        ASSERT_TRUE(serve.Start({CliPath(), "--home", home_, "serve", "Sites/0"}, log_));
        ASSERT_TRUE(WaitFor([&] { return ReadFile(log_).find("Serving stored sites at") != std::string::npos; }))
            << ReadFile(log_);
        WaitUntilStoredThenClear();
        serve.Signal(SIGTERM);
        const int status = serve.Wait(60000);
        ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << ReadFile(log_);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_NE(ReadFile(log_).find("Signal 15: saving and closing"), std::string::npos) << ReadFile(log_);
    EXPECT_NE(ReadFile(home_ + "/Orrinal.dat").find(nginx_->Url("/index.html")), std::string::npos);
    EXPECT_TRUE(fs::exists(home_ + "/registry.reg"));
    EXPECT_TRUE(HasMap(home_));
    EXPECT_EQ(Count(PluginLog(), "done\n"), 1) << PluginLog();
    EXPECT_EQ(PluginLog().substr(PluginLog().size() - 5), "done\n");

    // SIGHUP does the same.
    MakeHome();
    {
        Launched serve;
        ASSERT_TRUE(serve.Start({CliPath(), "--home", home_, "serve", "Sites/0"}, log_));
        WaitUntilStoredThenClear();
        serve.Signal(SIGHUP);
        const int status = serve.Wait(60000);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_TRUE(fs::exists(home_ + "/Orrinal.dat"));
    EXPECT_TRUE(HasMap(home_));
    EXPECT_EQ(Count(PluginLog(), "done\n"), 1) << PluginLog();

    // Two signals before the program could act on the first: it ends at once, saving nothing.
    MakeHome();
    {
        Launched serve;
        ASSERT_TRUE(serve.Start({CliPath(), "--home", home_, "serve", "Sites/0"}, log_));
        WaitUntilStoredThenClear();
        serve.Signal(SIGSTOP);  // both wait, pending, until it runs again
        serve.Signal(SIGTERM);
        serve.Signal(SIGHUP);
        serve.Signal(SIGCONT);
        const int status = serve.Wait(60000);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_TRUE(WEXITSTATUS(status) == 128 + SIGTERM || WEXITSTATUS(status) == 128 + SIGHUP) << WEXITSTATUS(status);
    }
    EXPECT_FALSE(fs::exists(home_ + "/Orrinal.dat"));
    EXPECT_FALSE(HasMap(home_));
    EXPECT_EQ(Count(PluginLog(), "done\n"), 0) << "no done call: " << PluginLog();
}

TEST_F(SignalsTest, DesktopProgramSavesItsWindowStateTreeAndMapsOnSigterm) {
    const char* bin = std::getenv("QM_BINARY_DIR");
    ASSERT_TRUE(bin);
    const std::string program = std::string(bin) + "/src/ui/quillmoor";
    if (!fs::exists(program)) GTEST_SKIP() << "the desktop program is not built";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    MakeHome();
    {
        Launched desktop;
        ASSERT_TRUE(desktop.Start({program, "--home", home_, "Sites/0"}, log_));
        WaitUntilStoredThenClear();
        desktop.Signal(SIGTERM);
        const int status = desktop.Wait(60000);
        ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << ReadFile(log_);
        EXPECT_EQ(WEXITSTATUS(status), 0) << ReadFile(log_);
    }
    const std::string registry = ReadFile(home_ + "/registry.reg");
    EXPECT_NE(registry.find("\"Width\"=dword:"), std::string::npos) << registry;
    EXPECT_NE(registry.find("\"LVisible\"=dword:"), std::string::npos) << registry;
    EXPECT_NE(ReadFile(home_ + "/Orrinal.dat").find(nginx_->Url("/index.html")), std::string::npos);
    EXPECT_TRUE(HasMap(home_));
    EXPECT_EQ(PluginLog().substr(PluginLog().size() - 5), "done\n") << PluginLog();

    // A second signal before the first was handled ends it at once.
    MakeHome();
    {
        Launched desktop;
        ASSERT_TRUE(desktop.Start({program, "--home", home_, "Sites/0"}, log_));
        WaitUntilStoredThenClear();
        desktop.Signal(SIGSTOP);
        desktop.Signal(SIGHUP);
        desktop.Signal(SIGTERM);
        desktop.Signal(SIGCONT);
        const int status = desktop.Wait(60000);
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_TRUE(WEXITSTATUS(status) == 128 + SIGTERM || WEXITSTATUS(status) == 128 + SIGHUP);
    }
    EXPECT_FALSE(fs::exists(home_ + "/registry.reg"));
    EXPECT_EQ(Count(PluginLog(), "done\n"), 0) << PluginLog();
}

}  // namespace
}  // namespace qm::test
