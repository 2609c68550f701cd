// The program core over a fake clock: idle close and shutdown (through a fake power-off),
// the exit question, window-state values, the selected node, the minute handling and the
// status texts, and single instance per program folder.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <algorithm>
#include <filesystem>

#include "app/download_run.h"
#include "app/core.h"
#include "app/session.h"
#include "viewmodels/options_form.h"
#include "app/window_state.h"
#include "engine/queue_manager.h"
#include "engine/scheduler.h"
#include "platform/event_loop.h"
#include "platform/registry.h"
#include "platform/private_folder.h"
#include "platform/single_instance.h"
#include "store/options.h"
#include "store/options_store.h"
#include "store/tree_store.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::app {
namespace {

class FakeClock : public Clock {
public:
    double now = engine::JoinDateTime(2026, 3, 10, 9, 0, 30);
    double Now() const override { return now; }
    void Advance(int ms) { now += ms / 86400000.0; }
};

class ScriptedAnswers : public Confirmation {
public:
    std::vector<bool> answers;
    std::vector<std::string> asked;
    bool Ask(Question, const std::string& text, const std::string& caption) override {
        asked.push_back(caption + "|" + text);
        if (answers.empty()) return false;
        const bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    void ShowError(const std::string&, const std::string&) override {}
};

CoreSettings Quiet(const std::string& home, std::vector<std::string> args = {}) {
    CoreSettings s;
    s.home = home;
    s.args = std::move(args);
    s.singleInstance = false;
    s.startServer = false;
    s.runTimers = false;
    s.message = [](const std::string&) {};
    return s;
}

// A program folder whose registry already holds some window-state values.
std::string HomeWith(const std::string& tag, const std::vector<std::pair<std::string, int>>& values) {
    const std::string home = test::MakeTempDir(tag);
    platform::Registry reg;
    platform::RegKey key = store::OpenOptionsKeyForSave(reg);
    for (const auto& [name, v] : values) key.WriteInt(name, v);
    std::string error;
    EXPECT_TRUE(reg.SaveFile(home + "/registry.reg", error)) << error;
    return home;
}

TEST(Program, IdleCloseAfterSixtySecondsWithoutAsking) {
    const std::string home = HomeWith("idleclose", {{"ConfirmExit", 1}});
    FakeClock clock;
    ScriptedAnswers answers;
    int closedEvents = 0;
    {
        Core program(clock, answers);
        program.OnClosed = [&] { ++closedEvents; };
        std::string error;
        ASSERT_EQ(program.Start(Quiet(home, {"/close"}), error), Core::StartResult::Started) << error;
        EXPECT_TRUE(program.Line().closeWhenIdle);
        for (int i = 0; i < 239; ++i) {
            clock.Advance(250);
            program.QuarterTick();
        }
        EXPECT_FALSE(program.Closed());
        EXPECT_EQ(program.IdleMs(), 59750);
        clock.Advance(250);
        program.QuarterTick();
        EXPECT_TRUE(program.Closed());
        EXPECT_EQ(closedEvents, 1);
        EXPECT_TRUE(answers.asked.empty());  // "ConfirmExit" is not asked by an idle close
        EXPECT_TRUE(fs::exists(home + "/Orrinal.dat"));
        program.QuarterTick();  // nothing more happens after closing
        EXPECT_EQ(closedEvents, 1);
    }
    // Every window-state value was written, with the defaults for the missing ones.
    const std::string reg = test::ReadFile(home + "/registry.reg");
    for (const char* name : {"\"Left\"=", "\"ConfirmExit\"=dword:00000001", "\"iAutoSave\"=dword:0000000a",
                             "\"TreeSelected\"=", "\"LogWindow.Height\"=", "\"LastRunPos\"="})
        EXPECT_NE(reg.find(name), std::string::npos) << name;
}

TEST(Program, ShutdownSavesClosesThenAsksThePowerOffAction) {
    const std::string home = test::MakeTempDir("shutdown");
    FakeClock clock;
    ScriptedAnswers answers;
    Core program(clock, answers);
    int powerOffs = 0;
    bool savedFirst = false, closedFirst = false;
    program.PowerOff = [&](std::string&) {
        ++powerOffs;
        savedFirst = fs::exists(home + "/Orrinal.dat");
        closedFirst = program.Closed();
        return true;
    };
    std::string error;
    ASSERT_EQ(program.Start(Quiet(home, {"/SHUTDOWN"}), error), Core::StartResult::Started) << error;
    for (int i = 0; i < 240; ++i) {
        clock.Advance(250);
        program.QuarterTick();
    }
    EXPECT_EQ(powerOffs, 1);
    EXPECT_TRUE(savedFirst);
    EXPECT_TRUE(closedFirst);

    // Without an action installed nothing powers off; it is reported.
    const std::string home2 = test::MakeTempDir("shutdown2");
    Core second(clock, answers);
    ASSERT_EQ(second.Start(Quiet(home2, {"/shutdown"}), error), Core::StartResult::Started) << error;
    for (int i = 0; i < 240; ++i) second.QuarterTick();
    EXPECT_TRUE(second.Closed());
    bool reported = false;
    for (const auto& w : second.Warnings()) reported = reported || w.find("power-off") != std::string::npos;
    EXPECT_TRUE(reported);
}

TEST(Program, AddressesOnTheCommandLineBecomeProjects) {
    const std::string home = test::MakeTempDir("cmdaddress");
    FakeClock clock;
    ScriptedAnswers answers;
    Core program(clock, answers);
    std::string error;
    ASSERT_EQ(
        program.Start(Quiet(home, {"HTTPS://example.invalid/docs/", "Default/all", "ftp://example.invalid/"}), error),
        Core::StartResult::Started)
        << error;
    int made = 0;
    for (const store::Project* project : program.GetSession().Tree().AllProjects())
        made += project->URL == "HTTPS://example.invalid/docs/";
    EXPECT_EQ(made, 1);
    // Only http and https are taken as addresses; other words still name Projects.
    bool ftpNamesNothing = false;
    for (const auto& w : program.Warnings()) {
        EXPECT_EQ(w.find("example.invalid/docs"), std::string::npos) << w;
        ftpNamesNothing = ftpNamesNothing || w.find("'ftp://example.invalid/' names no Project") != std::string::npos;
    }
    EXPECT_TRUE(ftpNamesNothing);
    program.Close();
}

TEST(Program, ExitQuestionAndSelectedNode) {
    const std::string home = HomeWith("exitq", {{"ConfirmExit", 1}, {"TreeSelected", 99}});
    FakeClock clock;
    ScriptedAnswers answers;
    {
        Core program(clock, answers);
        std::string error;
        ASSERT_EQ(program.Start(Quiet(home), error), Core::StartResult::Started) << error;
        EXPECT_EQ(program.Commands().Selected().folder, nullptr);  // 99 is out of range
        EXPECT_EQ(program.State().Int("TreeSelected"), -1);
        store::ProjectFolder& f = program.GetSession().Tree().AddFolder("Second");
        program.Commands().Select({&f, nullptr});
        answers.answers = {false, true};
        EXPECT_FALSE(program.RequestClose());
        EXPECT_FALSE(program.Closed());
        EXPECT_TRUE(program.RequestClose());
        ASSERT_EQ(answers.asked.size(), 2u);
        EXPECT_EQ(answers.asked[0], "Confirmaton|Do you want to quit?");
    }
    Core again(clock, answers);
    std::string error;
    ASSERT_EQ(again.Start(Quiet(home), error), Core::StartResult::Started) << error;
    ASSERT_NE(again.Commands().Selected().folder, nullptr);
    EXPECT_EQ(again.Commands().Selected().folder->Caption, "Second");
}

TEST(Program, MinuteHandlingStatusTextsAndCommandLineStarts) {
    const std::string home = test::MakeTempDir("minute");
    {
        // A Project due every tick, and one named on the command line; both fetch from a port
        // where nothing listens on loopback.
        Session s;
        std::string error;
        ASSERT_TRUE(s.Open(home, error)) << error;
        store::ProjectFolder& f = *s.Tree().Folders[0];
        auto p = std::make_unique<store::Project>();
        p->Caption = "Every";
        p->URL = "http://127.0.0.1:9/every/";
        p->IID = s.Tree().TakeID();
        p->When = 5;
        p->LastStart = 0;
        s.Tree().AddProject(f, std::move(p));
        auto q = std::make_unique<store::Project>();
        q->Caption = "Named";
        q->URL = "http://127.0.0.1:9/named/";
        q->IID = s.Tree().TakeID();
        s.Tree().AddProject(f, std::move(q));
        ASSERT_TRUE(s.Save(error)) << error;
    }
    FakeClock clock;
    ScriptedAnswers answers;
    Core program(clock, answers);
    std::vector<std::string> texts;
    program.OnStatusText = [&](int panel, const std::string& t) { texts.push_back(std::to_string(panel) + ":" + t); };
    std::string error;
    ASSERT_EQ(program.Start(Quiet(home, {"default/named", "3"}), error), Core::StartResult::Started) << error;
    ASSERT_EQ(program.StartedByCommandLine().size(), 1u);
    EXPECT_EQ(program.StartedByCommandLine()[0]->Caption, "Named");
    bool bareReported = false;
    for (const auto& w : program.Warnings()) bareReported = bareReported || w.find("'3'") != std::string::npos;
    EXPECT_TRUE(bareReported);

    store::Project* every = program.GetSession().Tree().Folders[0]->Children[0].get();
    program.QuarterTick();  // second 30: the minute handling waits for seconds 1 to 4
    EXPECT_FALSE(program.MinuteHandlingOn());
    EXPECT_EQ(every->LastStart, 0);
    clock.now = engine::JoinDateTime(2026, 3, 10, 9, 1, 2);
    program.QuarterTick();
    EXPECT_TRUE(program.MinuteHandlingOn());
    EXPECT_EQ(engine::MinuteNumber(every->LastStart), engine::MinuteNumber(clock.now));
    EXPECT_EQ(program.Commands().Selected().project, every);

    program.SecondTick();
    program.SecondTick();
    int speedTexts = 0;
    for (const auto& t : texts) speedTexts += t.rfind("4:Speed: ", 0) == 0;
    EXPECT_EQ(speedTexts, 1);  // raised once, then unchanged
    EXPECT_NE(std::find(texts.begin(), texts.end(), "3:Size: 0 kb"), texts.end());
    program.Close();
}

TEST(SingleInstance, SecondClaimShowsTheFirstAndStaleNamesAreTakenOver) {
    platform::InitEventLoop();
    const std::string folder = test::MakeTempDir("single");
    int shows = 0;
    {
        platform::SingleInstance first(folder);
        first.OnShow = [&] { ++shows; };
        ASSERT_EQ(first.Claim(), platform::SingleInstance::Result::First);
        platform::SingleInstance second(folder);
        EXPECT_EQ(second.Claim(), platform::SingleInstance::Result::AnotherRunning);
        EXPECT_TRUE(platform::RunUntil([&] { return shows == 1; }, 5000));
        platform::SingleInstance other(folder + "/elsewhere");
        EXPECT_EQ(other.Claim(), platform::SingleInstance::Result::First);
    }
    // A crashed instance leaves its socket file behind: nobody answers on it.
    const std::string path = platform::SingleInstance(folder).SocketPath();
    ASSERT_EQ(path, platform::PrivateFolder() + "/" + platform::InstanceName(folder));
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(fs::exists(path));
    platform::SingleInstance next(folder);
    EXPECT_EQ(next.Claim(), platform::SingleInstance::Result::First);
}

// An address opened from the desktop while the window runs reaches the running program as
// a new Project; a FOLDER/PROJECT word that names nothing is reported, and a second
// instance's /close does not close the first.
TEST(SingleInstance, ASecondInstanceHandsItsAddressesToTheFirst) {
    const std::string home = test::MakeTempDir("single-words");
    FakeClock clock;
    ScriptedAnswers answers;
    Core first(clock, answers);
    std::vector<std::vector<std::string>> opened;
    first.OnWordsOpened = [&](const std::vector<std::string>& problems) { opened.push_back(problems); };
    CoreSettings settings = Quiet(home);
    settings.singleInstance = true;
    std::string error;
    ASSERT_EQ(first.Start(settings, error), Core::StartResult::Started) << error;
    const std::size_t before = first.GetSession().Tree().AllProjects().size();

    Core second(clock, answers);
    settings.args = {"http://127.0.0.1:9/opened/page.html", "Nowhere/none", "/close", "http://127.0.0.1:9/a\nb"};
    ASSERT_EQ(second.Start(settings, error), Core::StartResult::AnotherInstance) << error;
    ASSERT_TRUE(platform::RunUntil([&] { return !opened.empty(); }, 5000));
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_EQ(opened[0].size(), 1u);
    EXPECT_NE(opened[0][0].find("'Nowhere/none' names no Project"), std::string::npos) << opened[0][0];
    const auto projects = first.GetSession().Tree().AllProjects();
    ASSERT_EQ(projects.size(), before + 1);  // the word with a line break in it was not sent
    EXPECT_EQ(std::count_if(projects.begin(), projects.end(),
                            [](const store::Project* p) { return p->URL == "http://127.0.0.1:9/opened/page.html"; }),
              1);
    EXPECT_FALSE(first.Line().closeWhenIdle);
    first.Close();
}

TEST(SingleInstance, TheSocketLiesWhereNoOtherUserCanTakeItsName) {
    platform::InitEventLoop();
    const std::string tmp = test::MakeTempDir("single-tmp");
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp ? oldTmp : "";
    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");
    // Another user made the usual private folder first, open to all, and put a socket of
    // that name in it that would answer in the program's place.
    const std::string usual = platform::UsualPrivateFolder();
    const std::string folder = test::MakeTempDir("single-home");
    ASSERT_TRUE(fs::create_directory(usual));
    ASSERT_EQ(::chmod(usual.c_str(), 0777), 0);
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(usual.c_str(), 65534, 65534), 0);
    }
    {
        platform::SingleInstance first(folder);
        ASSERT_EQ(first.Claim(), platform::SingleInstance::Result::First);
        const std::string path = first.SocketPath();
        EXPECT_EQ(path.rfind(usual + "-", 0), 0u) << path;
        EXPECT_TRUE(platform::IsOwnPrivateFolder(fs::path(path).parent_path().string()));
        EXPECT_FALSE(fs::exists(usual + "/" + platform::InstanceName(folder)));
        platform::SingleInstance second(folder);
        EXPECT_EQ(second.Claim(), platform::SingleInstance::Result::AnotherRunning);
    }
    if (oldTmp)
        setenv("TMPDIR", savedTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    if (oldRuntime) setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
}

}  // namespace
}  // namespace qm::app

namespace qm::app {
namespace {

TEST(Core, ACommandOpensTheFolderAndSavesOnlyWhatItSaves) {
    const std::string home = test::MakeTempDir("corecmd");
    {
        Core core;
        std::string error;
        ASSERT_TRUE(core.Open(home, error, true, Session::Access::Run)) << error;
        core.GetSession().Tree().AddFolder("Unsaved");
        DownloadRun& run = core.StartEngine({});
        EXPECT_EQ(&core.StartEngine({}), &run);  // one engine per core
        EXPECT_EQ(&core.Engine(), &run);
        EXPECT_TRUE(run.Idle());
    }
    // Unlike the running program, the core of a command does not save when it ends.
    EXPECT_FALSE(fs::exists(home + "/Orrinal.dat"));
    {
        Core core;
        std::string error;
        ASSERT_TRUE(core.Open(home, error)) << error;
        core.GetSession().Tree().AddFolder("Saved");
        ASSERT_TRUE(core.GetSession().Save(error)) << error;
    }
    Core reader;
    std::string error;
    ASSERT_TRUE(reader.Open(home, error, true, Session::Access::Read)) << error;
    EXPECT_NE(reader.GetSession().Tree().FindFolder("Saved"), nullptr);
    EXPECT_EQ(reader.GetSession().Tree().FindFolder("Unsaved"), nullptr);
}

TEST(Core, OptionsAppliedRestartTheServerOnANewPortAndResizeThePool) {
    const std::string home = test::MakeTempDir("coreoptions");
    FakeClock clock;
    ScriptedAnswers answers;
    Core core(clock, answers);
    std::string error;
    ASSERT_EQ(core.Start(Quiet(home), error), Core::StartResult::Started) << error;
    int restarts = 0;
    core.RestartServer = [&] { ++restarts; };

    viewmodels::OptionsForm form = viewmodels::FillOptionsForm(store::Options(), core.State());
    core.OptionsChanged(viewmodels::ApplyOptionsForm(form, store::Options(), core.State()).portChanged);
    EXPECT_EQ(restarts, 0);  // nothing changed

    form.port = std::to_string(store::Options().HTTPPort == 8123 ? 8124 : 8123);
    form.connections = "3";
    const viewmodels::OptionsApplied applied = viewmodels::ApplyOptionsForm(form, store::Options(), core.State());
    EXPECT_TRUE(applied.portChanged);
    core.OptionsChanged(applied.portChanged);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(store::Options().HTTPCount, 3);
    EXPECT_EQ(core.Engine().Queue().PoolSize(), 3u);
    // A connection number no longer in the pool is ignored.
    core.AbortConnection(7);
    core.AbortConnection(-1);
    core.Close();
}

TEST(Core, SpeedIsTheAverageOfTheLastFiveSeconds) {
    SpeedAverage speed;
    EXPECT_EQ(speed.BytesPerSecond(), 0);
    std::int64_t total = 0;
    for (int second = 0; second < 5; ++second) speed.Add(total += 1000);
    EXPECT_EQ(speed.BytesPerSecond(), 1000);
    speed.Add(total);  // a second without data
    EXPECT_EQ(speed.BytesPerSecond(), 800);
    for (int second = 0; second < 4; ++second) speed.Add(total);
    EXPECT_EQ(speed.BytesPerSecond(), 0);
    speed.Add(total += 52);
    EXPECT_EQ(speed.BytesPerSecond(), 10);  // whole bytes, rounded down
}

}  // namespace
}  // namespace qm::app
