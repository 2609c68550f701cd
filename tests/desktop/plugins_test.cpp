// Plug-ins: the sample plug-in loaded from the program folder, told about every file stored
// while a site downloads from nginx, and told to finish; loading stops at a library that
// fails; libraries others may write to are skipped.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/download_run.h"
#include "app/new_project.h"
#include "desktop/plugins.h"
#include "app/core.h"
#include "app/session.h"
#include "engine/queue_manager.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::app {
namespace {

class NoAnswers : public Confirmation {
public:
    bool Ask(Question, const std::string&, const std::string&) override { return false; }
    void ShowError(const std::string&, const std::string&) override {}
};

void Install(const std::string& home, const char* built, const std::string& name, unsigned mode = 0755) {
    fs::create_directories(home + "/plug-ins");
    fs::copy_file(built, home + "/plug-ins/" + name, fs::copy_options::overwrite_existing);
    ::chmod((home + "/plug-ins/" + name).c_str(), mode);
    ::chmod((home + "/plug-ins").c_str(), 0755);
}

TEST(Plugins, SamplePluginSeesStoredFilesAndFinishes) {
    const std::string site = test::MakeTempDir("plugsite");
    ASSERT_TRUE(test::WriteFile(site + "/index.html", "<html><a href=\"a.html\">a</a><img src=\"p.gif\"></html>"));
    ASSERT_TRUE(test::WriteFile(site + "/a.html", "<html>A</html>"));
    ASSERT_TRUE(test::WriteFile(site + "/p.gif", "GIF89a"));
    test::NginxPeer nginx(site);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();

    const std::string home = test::MakeTempDir("plughome");
    Install(home, QM_SAMPLE_PLUGIN, "sample.so");
    std::vector<std::string> lines;
    {
        SystemClock clock;
        NoAnswers answers;
        Core program(clock, answers);
        CoreSettings s;
        s.home = home;
        s.singleInstance = false;
        s.startServer = false;
        s.runTimers = false;
        s.message = [&](const std::string& line) { lines.push_back(line); };
        store::Options().PathPrefix = home + "/sites/";
        std::string error;
        ASSERT_EQ(program.Start(s, error), Core::StartResult::Started) << error;
        ASSERT_EQ(program.PluginList().Loaded(), std::vector<std::string>{"sample.so"});
        Session& session = program.GetSession();
        store::ProjectFolder& folder = program.Commands().TargetFolder();
        folder.Dir = home + "/sites/";
        store::Project& project = NewProject(session.Tree(), folder, session.Defaults(), nginx.Url("/index.html"));
        project.Lev = 2;
        ASSERT_EQ(program.Commands().Start(Node{&folder, &project}), 1);
        EXPECT_TRUE(platform::RunUntil(
            [&] { return program.Engine().Queue().QueueCount() == 0 && program.Engine().Idle(); }, 20000));
    }
    const std::string log = test::ReadFile(home + "/sample-plugin.log");
    EXPECT_EQ(log.rfind("init connections=", 0), 0u) << log;
    for (const char* file : {"/index.html ", "/a.html ", "/p.gif "})
        EXPECT_NE(log.find(nginx.Url(file)), std::string::npos) << file << "\n" << log;
    EXPECT_NE(log.find("/sites/127.0.0.1"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 5), "done\n");
    bool said = false;
    for (const std::string& l : lines) said = said || l.find("Sample plug-in") != std::string::npos;
    EXPECT_TRUE(said);
}

TEST(Plugins, LoadingStopsAtAFailureAndSkipsWritableLibraries) {
    engine::QueueManager queue(1);
    std::vector<std::string> lines;
    // "a-broken" sorts first: nothing after it is loaded.
    const std::string first = test::MakeTempDir("plugstop");
    Install(first, QM_BROKEN_PLUGIN, "a-broken.so");
    Install(first, QM_SAMPLE_PLUGIN, "b-sample.so");
    {
        desktop::Plugins plugins;
        plugins.OnLog = [&](const std::string& l) { lines.push_back(l); };
        EXPECT_EQ(plugins.Load(first, queue, store::Options()), 0);
    }
    EXPECT_FALSE(fs::exists(first + "/sample-plugin.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("a-broken.so could not be loaded"), std::string::npos) << lines[0];

    // The broken one last: the first stays loaded and is told to finish.
    const std::string second = test::MakeTempDir("pluglast");
    Install(second, QM_SAMPLE_PLUGIN, "a-sample.so");
    Install(second, QM_BROKEN_PLUGIN, "b-broken.so");
    Install(second, QM_SAMPLE_PLUGIN, "c-group-writable.so", 0775);
    {
        desktop::Plugins plugins;
        EXPECT_EQ(plugins.Load(second, queue, store::Options()), 1);
    }
    EXPECT_NE(test::ReadFile(second + "/sample-plugin.log").find("done"), std::string::npos);

    // A library others may write to is skipped with a line in the log; a relative folder is
    // never searched.
    const std::string third = test::MakeTempDir("plugwritable");
    Install(third, QM_SAMPLE_PLUGIN, "sample.so", 0777);
    lines.clear();
    {
        desktop::Plugins plugins;
        plugins.OnLog = [&](const std::string& l) { lines.push_back(l); };
        EXPECT_EQ(plugins.Load(third, queue, store::Options()), 0);
        EXPECT_EQ(plugins.Load("plug-relative", queue, store::Options()), 0);
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("sample.so skipped: other users may write to it"), std::string::npos);
}

}  // namespace
}  // namespace qm::app
