// The task-bar progress on a private session bus of its own (dbus-daemon on a socket in a
// temporary folder), watched by dbus-monitor: the launcher entry's "Update" signal carries
// the progress and its visibility, only changes are sent, and hiding is sent once.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QCoreApplication>
#include <filesystem>

#include "platform/taskbar_progress.h"
#include "support/peers.h"

namespace fs = std::filesystem;
using namespace qm;

namespace {
int Count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}
bool WaitFor(const std::function<bool()>& ready) {
    for (int i = 0; i < 200; ++i) {
        if (ready()) return true;
        ::usleep(25000);
    }
    return ready();
}
}  // namespace

TEST(TaskbarProgress, LauncherEntrySignalsOnAPrivateSessionBus) {
    const std::string daemon = test::FindProgram("dbus-daemon"), monitor = test::FindProgram("dbus-monitor");
    if (daemon.empty() || monitor.empty()) GTEST_SKIP() << "dbus-daemon or dbus-monitor is not installed";
    const std::string dir = test::MakeTempDir("taskbar_bus");
    const std::string address = "unix:path=" + dir + "/bus";
    test::ChildProcess bus;
    ASSERT_TRUE(bus.Start({daemon, "--session", "--nofork", "--nopidfile", "--address=" + address}, dir + "/bus.log"));
    ASSERT_TRUE(WaitFor([&] { return fs::exists(dir + "/bus"); })) << test::ReadFile(dir + "/bus.log");
    test::ChildProcess watch;
    ASSERT_TRUE(watch.Start({monitor, "--address", address, "interface='com.canonical.Unity.LauncherEntry'"},
                            dir + "/monitor.log"));
    // The monitor has subscribed once it printed its own name acquisition.
    ASSERT_TRUE(WaitFor([&] { return test::ReadFile(dir + "/monitor.log").find("NameAcquired") != std::string::npos; }))
        << test::ReadFile(dir + "/monitor.log");

    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    static int argc = 1;
    static char name[] = "platform_taskbar_test";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::unique_ptr<platform::TaskbarProgress> taskbar = platform::MakeLauncherEntryProgress("quillmoor.desktop");
    taskbar->Show(-1);  // already hidden: nothing sent
    taskbar->Show(250);
    taskbar->Show(250);   // unchanged: nothing sent
    taskbar->Show(1500);  // beyond the end: full
    taskbar->Show(-7);
    taskbar->Show(-1);  // still hidden: nothing sent
    ASSERT_TRUE(WaitFor([&] { return Count(test::ReadFile(dir + "/monitor.log"), "member=Update") >= 3; }))
        << test::ReadFile(dir + "/monitor.log");
    ::usleep(200000);  // anything sent in excess would have arrived by now
    const std::string log = test::ReadFile(dir + "/monitor.log");
    EXPECT_EQ(Count(log, "member=Update"), 3) << log;
    EXPECT_EQ(Count(log, "string \"application://quillmoor.desktop\""), 3) << log;
    const std::size_t first = log.find("double 0.25"), full = log.find("double 1"), hidden = log.find("boolean false");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_NE(full, std::string::npos) << log;
    EXPECT_NE(hidden, std::string::npos) << log;
    EXPECT_TRUE(first < full && full < hidden) << log;
    EXPECT_EQ(Count(log, "boolean true"), 2) << log;
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}
