// The Project tree commands on the model, answered by a script: drop rules, delete with its
// questions and refusals, deleting stored files inside the root only, paste, browse
// addresses, site-map icons, start and suspend, and the command line's words.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/command_line.h"
#include "app/tree_commands.h"
#include "engine/site_map.h"
#include "engine/stored_files.h"
#include "platform/clipboard.h"
#include "platform/program_folder.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::app {
namespace {

class ScriptedAnswers : public Confirmation {
public:
    std::vector<bool> answers;  // taken in order; Yes when the script has run out
    std::vector<std::string> asked, errors;
    bool Ask(Question, const std::string& text, const std::string& caption) override {
        asked.push_back(caption + "|" + text);
        if (answers.empty()) return true;
        bool a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
    void ShowError(const std::string& message, const std::string& caption) override {
        errors.push_back(caption + "|" + message);
    }
};

class FakeEngine : public ProjectEngine {
public:
    std::vector<std::string> started, stopped;
    bool suspended = false;
    bool StartProject(store::Project& p, std::string&) override {
        started.push_back(p.Caption);
        p.QueuedCount = 1;
        return true;
    }
    void StopProject(store::Project& p) override {
        stopped.push_back(p.Caption);
        p.QueuedCount = 0;
    }
    bool Suspended() const override { return suspended; }
    void SetSuspended(bool s) override { suspended = s; }
};

struct TreeFixture {
    store::ProjectTree tree;
    store::Project defaults;
    ScriptedAnswers answers;
    FakeEngine engine;
    TreeCommands commands{tree, defaults, answers, &engine};
    store::Project& Add(store::ProjectFolder& f, const std::string& caption,
                        const std::string& url = "http://example.test/") {
        auto p = std::make_unique<store::Project>();
        p->Caption = caption;
        p->URL = url;
        p->IID = tree.TakeID();
        return tree.AddProject(f, std::move(p));
    }
    std::vector<std::string> Captions(const store::ProjectFolder& f) {
        std::vector<std::string> out;
        for (const auto& p : f.Children) out.push_back(p->Caption);
        return out;
    }
};

TEST(TreeCommands, DropRules) {
    TreeFixture t;
    store::ProjectFolder& f1 = t.tree.AddFolder("F1");
    store::ProjectFolder& f2 = t.tree.AddFolder("F2");
    store::ProjectFolder& f3 = t.tree.AddFolder("F3");
    store::Project& a = t.Add(f1, "A");
    store::Project& b = t.Add(f1, "B");
    store::Project& c = t.Add(f2, "C");
    EXPECT_FALSE(TreeCommands::CanDrop({&f3, nullptr}, {&f2, &c}));  // a folder onto a Project
    EXPECT_FALSE(t.commands.Drop({&f3, nullptr}, {&f2, &c}));
    EXPECT_FALSE(t.commands.Drop({&f2, &c}, {&f2, &c}));  // onto itself
    EXPECT_FALSE(t.commands.Drop({&f2, &c}, {}));         // onto no node

    ASSERT_TRUE(t.commands.Drop({&f1, &a}, {&f2, nullptr}));  // Project on folder: its end
    EXPECT_EQ(t.Captions(f2), (std::vector<std::string>{"C", "A"}));
    EXPECT_EQ(a.Folder, &f2);
    ASSERT_TRUE(t.commands.Drop({&f1, &b}, {&f2, &c}));  // Project on Project: just before it
    EXPECT_EQ(t.Captions(f2), (std::vector<std::string>{"B", "C", "A"}));
    EXPECT_TRUE(f1.Children.empty());
    ASSERT_TRUE(t.commands.Drop({&f2, &a}, {&f2, &b}));  // within one folder
    EXPECT_EQ(t.Captions(f2), (std::vector<std::string>{"A", "B", "C"}));
    ASSERT_TRUE(t.commands.Drop({&f3, nullptr}, {&f1, nullptr}));  // folder before folder
    ASSERT_EQ(t.tree.Folders.size(), 3u);
    EXPECT_EQ(t.tree.Folders[0].get(), &f3);
    EXPECT_EQ(t.tree.Folders[1].get(), &f1);
    ASSERT_TRUE(t.commands.Drop({&f3, nullptr}, {&f2, nullptr}));  // and forward again
    EXPECT_EQ(t.tree.Folders[1].get(), &f3);
    EXPECT_EQ(t.tree.Folders[2].get(), &f2);
}

TEST(TreeCommands, DeleteQuestionsAndRefusals) {
    const std::string home = test::MakeTempDir("treedel");
    platform::SetProgramFolder(home);
    TreeFixture t;
    store::ProjectFolder& only = t.tree.AddFolder("Only");
    EXPECT_FALSE(t.commands.Delete({&only, nullptr}));
    ASSERT_EQ(t.answers.errors.size(), 1u);
    EXPECT_EQ(t.answers.errors[0], "Error|At least one folder should remain.");

    store::ProjectFolder& second = t.tree.AddFolder("Second");
    store::Project& p = t.Add(second, "Site");
    EXPECT_FALSE(t.commands.Delete({&second, nullptr}));
    EXPECT_EQ(t.answers.errors.back(), "Error|Please delete all Projects first.");

    t.answers.answers = {false};  // No to the first question
    EXPECT_FALSE(t.commands.Delete({&second, &p}));
    EXPECT_EQ(t.answers.asked.back(), "Confirmaton|Do you want to remove\r\n'Site' ?");
    ASSERT_EQ(second.Children.size(), 1u);

    // With stored files: a second question; No keeps the files but removes the Project.
    const std::string stored = home + "/stored.html";
    ASSERT_TRUE(test::WriteFile(stored, "x"));
    engine::AddToMap(p, stored);
    ASSERT_TRUE(engine::SaveMap(p));
    const std::string mapFile = home + "/" + std::to_string(p.IID) + ".map";
    ASSERT_TRUE(fs::exists(mapFile));
    t.answers.asked.clear();
    t.answers.answers = {true, false};
    EXPECT_TRUE(t.commands.Delete({&second, &p}));
    ASSERT_EQ(t.answers.asked.size(), 2u);
    EXPECT_EQ(t.answers.asked[1], "Confirmaton|Do you want to remove all Project files ?");
    EXPECT_TRUE(second.Children.empty());
    EXPECT_TRUE(fs::exists(stored));
    EXPECT_FALSE(fs::exists(mapFile));
    EXPECT_EQ(t.engine.stopped, std::vector<std::string>{"Site"});
    EXPECT_TRUE(t.commands.Delete({&second, nullptr}));  // now empty, and not the last
    EXPECT_EQ(t.tree.Folders.size(), 1u);

    // Without "ConfirmDel" nothing is asked.
    t.commands.ConfirmDelete = false;
    store::ProjectFolder& third = t.tree.AddFolder("Third");
    t.answers.asked.clear();
    EXPECT_TRUE(t.commands.Delete({&third, nullptr}));
    EXPECT_TRUE(t.answers.asked.empty());
}

TEST(TreeCommands, DeletedFilesStayInsideTheRootAndLinksAreNotFollowed) {
    const std::string dir = test::MakeTempDir("treefiles");
    platform::SetProgramFolder(dir);
    const std::string root = dir + "/root", outside = dir + "/outside";
    fs::create_directories(root + "/site/sub");
    fs::create_directories(outside);
    ASSERT_TRUE(test::WriteFile(root + "/site/a.html", "a"));
    ASSERT_TRUE(test::WriteFile(root + "/site/a.html.primary", "a"));
    engine::RecordFileDescription(root + "/site", "a.html", "text/html", "");
    ASSERT_TRUE(fs::exists(root + "/site/Descr.QV3"));
    ASSERT_TRUE(test::WriteFile(root + "/site/sub/b.gif", "b"));
    ASSERT_TRUE(test::WriteFile(outside + "/victim", "keep"));
    ASSERT_TRUE(test::WriteFile(outside + "/target", "keep"));
    fs::create_directory_symlink(outside, root + "/site/linked");
    fs::create_symlink(outside + "/target", root + "/site/filelink");

    TreeFixture t;
    store::ProjectFolder& f = t.tree.AddFolder("F");
    f.Dir = root + "/";
    store::Project& p = t.Add(f, "P");
    for (const std::string& e : {root + "/site/a.html", root + "/site/sub/b.gif", root + "/site/linked/victim",
                                 root + "/../outside/victim", outside + "/target", root + "/site/filelink"})
        engine::AddToMap(p, e);
    EXPECT_EQ(DeleteProjectFiles(p), 3);  // a.html, b.gif and the link itself
    EXPECT_FALSE(fs::exists(root + "/site/a.html"));
    EXPECT_FALSE(fs::exists(root + "/site/a.html.primary"));
    EXPECT_FALSE(fs::exists(root + "/site/Descr.QV3"));
    EXPECT_FALSE(fs::exists(root + "/site/sub/b.gif"));
    EXPECT_FALSE(fs::is_symlink(root + "/site/filelink"));
    EXPECT_EQ(test::ReadFile(outside + "/victim"), "keep");
    EXPECT_EQ(test::ReadFile(outside + "/target"), "keep");
    EXPECT_TRUE(fs::is_symlink(root + "/site/linked"));

    // Delete on the site map: a directory with what it holds, never through a link.
    fs::create_directories(root + "/site/sub/deeper");
    ASSERT_TRUE(test::WriteFile(root + "/site/sub/deeper/c.html", "c"));
    fs::create_symlink(outside, root + "/site/sub/out");
    engine::AddToMap(p, root + "/site/sub/deeper/c.html");
    EXPECT_FALSE(t.commands.DeleteMapEntry(p, root + "/site/linked/victim"));
    EXPECT_FALSE(t.commands.DeleteMapEntry(p, root + "/../outside/victim"));
    EXPECT_TRUE(t.commands.DeleteMapEntry(p, root + "/site/sub/"));
    EXPECT_FALSE(fs::exists(root + "/site/sub"));
    EXPECT_EQ(test::ReadFile(outside + "/victim"), "keep");
    EXPECT_FALSE(engine::GetMap(p).Contains(root + "/site/sub/deeper/c.html"));
    EXPECT_TRUE(p.SiteMapModified());
}

TEST(TreeCommands, NewPasteCopyRename) {
    platform::MemoryClipboard clipboard;
    platform::SetSystemClipboard(&clipboard);
    TreeFixture t;
    t.defaults.Lev = 4;
    store::ProjectFolder& f = t.tree.AddFolder("F");
    store::ProjectFolder& g = t.tree.AddFolder("G");
    t.Add(g, "existing");
    t.commands.Select({&g, g.Children[0].get()});
    clipboard.SetText("exam\r\nple.test\\a\\b?x\\y");
    ASSERT_EQ(t.commands.Paste(), 1);
    ASSERT_EQ(g.Children.size(), 2u);  // the selected Project's folder
    store::Project& pasted = *g.Children[1];
    EXPECT_EQ(pasted.URL, "http://example.test/a/b?x\\y");
    EXPECT_EQ(pasted.Caption, pasted.URL);
    EXPECT_EQ(pasted.Lev, 4);

    store::Project copy;
    copy.Assign(t.defaults);
    copy.URL = "file:///home/x/index.html";
    t.commands.Select({});
    store::Project& made = t.commands.NewProject(copy);  // nothing selected: the first folder
    EXPECT_EQ(made.Folder, &f);
    EXPECT_EQ(made.URL, "file://home/x/index.html");
    EXPECT_NE(made.IID, pasted.IID);

    t.commands.Copy({&f, &made});
    t.commands.Select({&g, nullptr});
    ASSERT_EQ(t.commands.Paste(), 1);
    ASSERT_EQ(g.Children.size(), 3u);
    EXPECT_EQ(g.Children[2]->URL, made.URL);
    EXPECT_NE(g.Children[2]->IID, made.IID);

    // Cut: no question, the Project leaves the tree and comes back with Paste.
    t.answers.asked.clear();
    ASSERT_TRUE(t.commands.Cut({&f, &made}));
    EXPECT_TRUE(t.answers.asked.empty());
    EXPECT_TRUE(f.Children.empty());
    t.commands.Select({&f, nullptr});
    ASSERT_EQ(t.commands.Paste(), 1);
    ASSERT_EQ(f.Children.size(), 1u);
    EXPECT_EQ(f.Children[0]->URL, "file://home/x/index.html");

    store::ProjectFolder& nf = t.commands.NewFolder();
    EXPECT_EQ(nf.Caption, "New Folder");
    EXPECT_EQ(t.commands.Selected().folder, &nf);
    EXPECT_FALSE(t.commands.Rename({&nf, nullptr}, ""));
    EXPECT_TRUE(t.commands.Rename({&nf, nullptr}, "Renamed"));
    EXPECT_EQ(nf.Caption, "Renamed");
    platform::SetSystemClipboard(nullptr);
}

TEST(TreeCommands, StartStopSuspendAndIcons) {
    TreeFixture t;
    store::ProjectFolder& f = t.tree.AddFolder("F");
    store::Project& a = t.Add(f, "A");
    store::Project& b = t.Add(f, "B");
    b.When = 1;
    EXPECT_EQ(t.commands.ProjectIcon(b), kIconScheduled);
    EXPECT_EQ(t.commands.ProjectIcon(a), kIconIdle);
    EXPECT_EQ(t.commands.Start({&f, nullptr}), 2);
    EXPECT_EQ(t.engine.started, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(t.commands.ProjectIcon(a), kIconDownloading);
    EXPECT_EQ(t.commands.SuspendCaption(), "&Suspend");
    t.commands.ToggleSuspend();
    EXPECT_EQ(t.commands.SuspendCaption(), "&Resume");
    EXPECT_EQ(t.commands.ProjectIcon(a), kIconSuspended);
    t.commands.Stop({&f, &a});
    EXPECT_EQ(t.commands.ProjectIcon(a), kIconIdle);
    store::Project original, edited;
    original.Assign(a);
    edited.Assign(a);
    edited.Caption = "A2";
    edited.IID = 999;
    EXPECT_EQ(t.commands.ApplyProperties(a, original, edited), "A");
    EXPECT_EQ(a.Caption, "A2");
    EXPECT_NE(a.IID, 999);
}

TEST(TreeCommands, BrowseAddresses) {
    const std::string dir = test::MakeTempDir("browse");
    store::Options().Reset();
    store::Options().PathPrefix = dir + "/dl/";
    store::Options().HTTPStart = true;
    TreeFixture t;
    store::ProjectFolder& f = t.tree.AddFolder("My Sites #1");
    store::Project& p = t.Add(f, "P", "http://example.test:80/docs/a b.html");
    EXPECT_EQ(BrowseAddress(p, true, 80), "http://127.0.0.1/My%20Sites%20%231/example.test/docs/a%20b.html");
    EXPECT_EQ(BrowseAddress(p, true, 800), "http://127.0.0.1:800/My%20Sites%20%231/example.test/docs/a%20b.html");
    store::Project& q = t.Add(f, "Q", "http://example.test/search?q=1");
    EXPECT_EQ(BrowseAddress(q, true, 800), "http://127.0.0.1:800/My%20Sites%20%231/example.test/search@q=1");
    // Without the server: the stored file, the default document for a folder.
    store::Project& r = t.Add(f, "R", "http://example.test/docs/");
    EXPECT_EQ(BrowseAddress(r, false, 800), "file://" + dir + "/dl/example.test/docs/default.htm");
    store::Options().HTTPStart = false;
    fs::create_directories(dir + "/dl/example.test/dir");
    store::Project& s = t.Add(f, "S", "http://example.test/dir");
    EXPECT_EQ(BrowseAddress(s, true, 800), "file://" + dir + "/dl/example.test/dir/default.htm");
    f.Dir = dir + "/100%/";
    EXPECT_EQ(BrowseAddress(r, true, 800), "file://" + dir + "/100%25/example.test/docs/default.htm");
    EXPECT_EQ(BrowseAddress(t.Add(f, "E", ""), true, 800), "");
    store::Options().Reset();
}

TEST(TreeCommands, SiteMapIcons) {
    EXPECT_EQ(SiteMapIconFor("index.html", ""), 12);
    EXPECT_EQ(SiteMapIconFor("odd.tm", ""), 12);  // "tm" occurs inside the first list
    EXPECT_EQ(SiteMapIconFor("a.TXT", ""), 13);
    EXPECT_EQ(SiteMapIconFor("a.png", ""), 14);
    EXPECT_EQ(SiteMapIconFor("a.gz", ""), 20);
    EXPECT_EQ(SiteMapIconFor("a.class", ""), 21);
    EXPECT_EQ(SiteMapIconFor("a.unknownext", ""), 27);
    EXPECT_EQ(SiteMapIconFor("noextension", ""), 27);
    EXPECT_EQ(SiteMapIconFor("page.cgi", "text/html"), 12);
    EXPECT_EQ(SiteMapIconFor("pic.cgi", "image/webp"), 14);
    const std::string dir = test::MakeTempDir("icons");
    ASSERT_TRUE(test::WriteFile(dir + "/page.xyz", "x"));
    engine::RecordFileDescription(dir, "page.xyz", "text/html", "");
    EXPECT_EQ(SiteMapIcon(dir + "/page.xyz"), 12);
    EXPECT_EQ(SiteMapIcon(dir + "/other.xyz"), 27);
}

TEST(CommandLine, WordsMatchFoldersAndProjects) {
    TreeFixture t;
    store::ProjectFolder& sites = t.tree.AddFolder("Sites");
    t.tree.AddFolder("sites");  // a second folder with the same caption is never used
    store::Project& a = t.Add(sites, "Alpha");
    store::Project& b = t.Add(sites, "Beta");
    const CommandLine line = ReadCommandLine({"/CLOSE", "SITES/all", "/Shutdown", "7"});
    EXPECT_TRUE(line.closeWhenIdle);
    EXPECT_TRUE(line.shutdownWhenIdle);
    EXPECT_EQ(line.projectWords, (std::vector<std::string>{"SITES/all", "7"}));
    EXPECT_EQ(MatchCommandWord(t.tree, "SITES/all"), (std::vector<store::Project*>{&a, &b}));
    EXPECT_EQ(MatchCommandWord(t.tree, "sites/0"), std::vector<store::Project*>{&a});
    EXPECT_EQ(MatchCommandWord(t.tree, "sites/1"), std::vector<store::Project*>{&b});
    EXPECT_TRUE(MatchCommandWord(t.tree, "sites/2").empty());
    EXPECT_EQ(MatchCommandWord(t.tree, "Sites/BETA"), std::vector<store::Project*>{&b});
    EXPECT_TRUE(MatchCommandWord(t.tree, "Sites/Gamma").empty());
    EXPECT_TRUE(MatchCommandWord(t.tree, "Nowhere/all").empty());
    EXPECT_TRUE(MatchCommandWord(t.tree, "7").empty());  // a bare number names nothing
    EXPECT_TRUE(MatchCommandWord(t.tree, "Sites").empty());
}

}  // namespace
}  // namespace qm::app

namespace qm::app {
namespace {

TEST(TreeCommands, DeleteStoredPathStaysInsideTheDownloadFolders) {
    const std::string dir = test::MakeTempDir("treestored");
    store::Options().Reset();
    store::Options().PathPrefix = dir + "/dl/";
    TreeFixture t;
    store::ProjectFolder& f = t.tree.AddFolder("F");
    f.Dir = dir + "/own/";
    ASSERT_TRUE(test::WriteFile(dir + "/dl/site/a.html", "a"));
    ASSERT_TRUE(test::WriteFile(dir + "/own/site/b.html", "b"));
    ASSERT_TRUE(test::WriteFile(dir + "/outside/c.html", "keep"));

    // No to the question: nothing goes.
    t.answers.answers = {false};
    EXPECT_FALSE(t.commands.DeleteStoredPath(dir + "/dl/", dir + "/dl/site/a.html", "a.html"));
    EXPECT_TRUE(fs::exists(dir + "/dl/site/a.html"));
    ASSERT_EQ(t.answers.asked.size(), 1u);
    EXPECT_NE(t.answers.asked[0].find("'a.html' ?"), std::string::npos);

    EXPECT_TRUE(t.commands.DeleteStoredPath(dir + "/dl/", dir + "/dl/site/a.html", "a.html"));
    EXPECT_FALSE(fs::exists(dir + "/dl/site/a.html"));
    // The folder's own directory counts even when the map shows another one.
    EXPECT_TRUE(t.commands.DeleteStoredPath(dir + "/dl/", dir + "/own/site/b.html", "b.html"));
    EXPECT_FALSE(fs::exists(dir + "/own/site/b.html"));

    // Outside every download folder: refused and shown, also when the question is not asked.
    t.commands.ConfirmDelete = false;
    const std::size_t asked = t.answers.asked.size();
    EXPECT_FALSE(t.commands.DeleteStoredPath(dir + "/dl/", dir + "/outside/c.html", "c.html"));
    EXPECT_EQ(t.answers.asked.size(), asked);
    EXPECT_EQ(test::ReadFile(dir + "/outside/c.html"), "keep");
    EXPECT_EQ(t.answers.errors.size(), 1u);
}

TEST(TreeCommands, FolderPropertiesAndDefaultsKeepWhatWasNotEdited) {
    store::Options().Reset();
    TreeFixture t;
    store::ProjectFolder& f = t.tree.AddFolder("F");
    f.Level = 2;
    t.commands.ApplyFolderProperties(f, "", "/data/sites/");
    EXPECT_EQ(f.Caption, "F");  // an empty caption is not taken
    EXPECT_EQ(f.Dir, "/data/sites/");
    EXPECT_EQ(f.Level, 2);
    bool listed = false;
    for (const std::string& d : store::Options().DDs.Items()) listed = listed || d == "/data/sites/";
    EXPECT_TRUE(listed);

    // The Defaults Project: only what the dialog changed goes back.
    store::Project original;
    original.Assign(t.defaults);
    store::Project edited;
    edited.Assign(original);
    edited.Lev = original.Lev + 3;
    t.defaults.URL = "http://changed.meanwhile/";
    t.commands.ApplyDefaults(original, edited);
    EXPECT_EQ(t.defaults.Lev, original.Lev + 3);
    EXPECT_EQ(t.defaults.URL, "http://changed.meanwhile/");
}

}  // namespace
}  // namespace qm::app
