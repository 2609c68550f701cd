// The window-side models without widgets: log routing and its limit, the site-map tree in
// both modes, find with its bounded disk search, map deletes and the folder dialog rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "viewmodels/dir_tree_model.h"
#include "viewmodels/find_files.h"
#include "viewmodels/log_model.h"
#include "viewmodels/map_page.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::app;

namespace {
struct OptionsGuard {
    store::ProgramOptions saved = store::Options();
    ~OptionsGuard() { store::Options() = saved; }
};

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> Captions(const viewmodels::MapNode& n) {
    std::vector<std::string> out;
    for (auto& c : n.Children) out.push_back(c->Caption);
    return out;
}
}  // namespace

TEST(LogModel, RoutingFiltersLimitAndFind) {
    OptionsGuard guard;
    viewmodels::LogModel log;
    log.AddSlot(0);
    log.AddSlot(1);
    ASSERT_EQ(log.ProgressLines().size(), 2u);
    EXPECT_EQ(log.ProgressLines()[1], "HTTP1: Empty");

    // With logging off only the progress lines change; kind 3 changes neither.
    store::Options().UseLog = false;
    log.Route(1, "Connecting", engine::MessageKind::Connection);
    EXPECT_EQ(log.ProgressLines()[1], "HTTP1: Connecting");
    EXPECT_TRUE(log.Lines().empty());
    log.Route(1, "GET / HTTP/1.0", engine::MessageKind::ProtocolText);
    EXPECT_EQ(log.ProgressLines()[1], "HTTP1: Connecting");
    // A message for a slot the pool no longer has is dropped, not written past the end.
    log.Route(7, "late", engine::MessageKind::Progress);
    EXPECT_EQ(log.ProgressLines().size(), 2u);

    store::Options().UseLog = true;
    store::Options().FProgress = false;
    log.Route(0, "Connected", engine::MessageKind::Connection);
    log.Route(0, "12 kb", engine::MessageKind::Progress);
    log.Route(0, "Done", engine::MessageKind::TransactionEnd);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"HTTP0: Connected", "HTTP0: Done"}));
    EXPECT_EQ(log.Selected(), 1);  // tracking follows the end

    std::string state;
    log.OnQueueState = [&](const std::string& t) { state = t; };
    log.Route(-1, "Downloading", engine::MessageKind::QueueState);
    EXPECT_EQ(state, "Downloading");

    // Analysis messages ignore the filters but not the limit: the log never outgrows it.
    store::Options().LogLimit = 5;
    log.Clear();
    for (int i = 0; i < 4; ++i) log.Route(-1, "parsed " + std::to_string(i), engine::MessageKind::Analysis);
    EXPECT_EQ(log.Lines().size(), 4u);
    log.Route(-1, "parsed 4", engine::MessageKind::Analysis);
    EXPECT_TRUE(log.Lines().empty());
    for (int i = 0; i < 12; ++i) log.Route(-1, "more", engine::MessageKind::Analysis);
    EXPECT_LT(log.Lines().size(), 5u);

    // Find starts at the selected line, Find Next after it, without wrapping.
    store::Options().LogLimit = 5000;
    log.Clear();
    for (const char* l : {"alpha", "Beta one", "gamma", "beta two"}) log.Append(l);
    log.Select(-1);
    EXPECT_EQ(log.Find("BETA"), 1);
    EXPECT_EQ(log.FindNext(), 3);
    EXPECT_EQ(log.FindNext(), -1);
    EXPECT_EQ(log.Selected(), 3);

    // Save writes every line and leaves no scratch file.
    std::string dir = qm::test::MakeTempDir("log_save");
    std::string error;
    ASSERT_TRUE(log.Save(dir + "/messages.log", error)) << error;
    EXPECT_EQ(qm::test::ReadFile(dir + "/messages.log"), "alpha\r\nBeta one\r\ngamma\r\nbeta two\r\n");
    EXPECT_FALSE(fs::exists(dir + "/messages.log.$$$"));
    EXPECT_FALSE(log.Save(dir + "/missing/messages.log", error));

    EXPECT_TRUE(viewmodels::LogModel::CancelIndexValid(1, 2));
    EXPECT_FALSE(viewmodels::LogModel::CancelIndexValid(2, 2));
    EXPECT_FALSE(viewmodels::LogModel::CancelIndexValid(-1, 2));
    log.RemoveSlot(5);
    log.RemoveSlot(0);
    EXPECT_EQ(log.ProgressLines().size(), 1u);
}

TEST(DirTreeModel, ListModeBuildsSortedTreeWithoutHiddenFiles) {
    OptionsGuard guard;
    std::string root = qm::test::MakeTempDir("map_list") + "/Sites/";
    for (const char* f : {"Host/b.html", "Host/a.gif", "Host/Sub/x.txt", "host/sub/y.txt", "Host/Z.htm",
                          "Host/b.html.primary", "Host/Descr.QV3", "Other/index.htm"})
        Touch(root + f);
    store::SortedStringList list;
    for (const char* f : {"Host/b.html", "Host/a.gif", "Host/Sub/x.txt", "host/sub/y.txt", "Host/Z.htm",
                          "Host/b.html.primary", "Host/Descr.QV3", "Host/gone.htm", "Other/index.htm"})
        list.Add(root + f);
    list.Add("/elsewhere/file.htm");
    viewmodels::DirTreeModel m;
    m.Mode = 0;
    m.List = &list;
    m.RootCaption = "My Site";
    std::vector<std::string> folders;
    m.OnGetIndex = [&](const std::string& folder, const std::string&, const std::string&) {
        folders.push_back(folder);
        return 12;
    };
    int lastMax = 0;
    m.OnProgress = [&](int, int max) { lastMax = max; };
    m.SetDirectory(root);
    m.SetActive(true);
    ASSERT_EQ(m.Top().size(), 1u);
    const viewmodels::MapNode& top = *m.First();
    EXPECT_EQ(top.Caption, "My Site");
    EXPECT_EQ(lastMax, -1);
    // Names differing only in case share one folder; the stored case is kept.
    ASSERT_EQ(Captions(top), (std::vector<std::string>{"Host", "Other"}));
    const viewmodels::MapNode& host = *top.Children[0];
    EXPECT_EQ(Captions(host), (std::vector<std::string>{"Sub", "a.gif", "b.html", "Z.htm"}));
    EXPECT_EQ(Captions(*host.Children[0]), (std::vector<std::string>{"x.txt", "y.txt"}));
    EXPECT_EQ(host.Image, 1);
    EXPECT_EQ(host.Children[0]->Image, 2);
    EXPECT_EQ(host.Children[1]->Image, 12);
    EXPECT_EQ(folders.front(), root + "Host/");

    viewmodels::MapNode* found = m.FindNode(root + "HOST/sub/Y.TXT");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Caption, "y.txt");
    EXPECT_EQ(m.NodePath(*found), root + "Host/Sub/y.txt");

    // A folder-less list and an empty download folder never match everything.
    store::Options().DDs.Clear();
    store::Options().DDs.Add("");
    viewmodels::DirTreeModel::CachedRoot().clear();
    viewmodels::DirTreeModel other;
    other.Mode = 0;
    other.List = &list;
    other.SetDirectory("/nowhere/");
    other.SetActive(true);
    EXPECT_TRUE(other.First()->Children.empty());
    other.List = nullptr;
    other.Rebuild();
    EXPECT_EQ(other.First()->Caption, "No Project selected");
}

TEST(DirTreeModel, FolderModeReadsOnExpansionAndFindsOnDisk) {
    std::string root = qm::test::MakeTempDir("map_folder") + "/";
    for (const char* f : {"site/index.htm", "site/index.htm.primary", "site/Descr.QV3", "site/deep/er/needle.txt"})
        Touch(root + f);
    // A link cycle below an unread folder must not make the disk search loop.
    fs::create_directory_symlink(root + "site", root + "site/deep/loop");
    viewmodels::DirTreeModel m;
    m.SetDirectory(root);
    m.SetActive(true);
    const viewmodels::MapNode& top = *m.First();
    EXPECT_EQ(top.Caption, "Web Sites");
    ASSERT_EQ(Captions(top), (std::vector<std::string>{"site"}));
    viewmodels::MapNode& site = *top.Children[0];
    ASSERT_EQ(site.Children.size(), 1u);
    EXPECT_TRUE(site.Children[0]->Placeholder);
    m.Fill(site, false);
    EXPECT_EQ(Captions(site), (std::vector<std::string>{"deep", "index.htm"}));  // no .primary, no Descr

    EXPECT_EQ(viewmodels::SearchDisk(root + "site/", "absent", false), "");
    EXPECT_EQ(viewmodels::SearchDisk(root + "site/", "NEEDLE", false), root + "site/deep/er/needle.txt");
    EXPECT_EQ(viewmodels::SearchDisk(root + "site/", "NEEDLE", true), "");

    viewmodels::MapNode* hit = viewmodels::FindMapNode(m, nullptr, "needle", false);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(m.NodePath(*hit), root + "site/deep/er/needle.txt");
    // Searching on finds the same file only through the link, never the same node again.
    viewmodels::MapNode* again = viewmodels::FindMapNode(m, hit, "needle", false);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(m.NodePath(*again), root + "site/deep/loop/deep/er/needle.txt");
    EXPECT_EQ(viewmodels::FindMapNode(m, nullptr, "absent", false), nullptr);
}

TEST(MapPage, DeleteStaysInsideAndFolderRules) {
    OptionsGuard guard;
    std::string base = qm::test::MakeTempDir("map_delete");
    std::string root = base + "/dl/";
    Touch(root + "site/a.htm");
    Touch(root + "site/a.htm.primary");
    Touch(base + "/outside/keep.txt");
    fs::create_directory_symlink(base + "/outside", root + "site/link");
    std::string why;
    // A path leading out through "..", or through a link, is refused.
    EXPECT_FALSE(DeleteMapPath(root + "site/../../outside/keep.txt", {root}, why));
    EXPECT_FALSE(DeleteMapPath(root + "site/link/keep.txt", {root}, why));
    EXPECT_FALSE(DeleteMapPath(root, {root}, why));
    EXPECT_FALSE(DeleteMapPath(root + "site/a.htm", {""}, why));
    EXPECT_TRUE(fs::exists(base + "/outside/keep.txt"));
    // The link itself goes, not what it points at.
    EXPECT_TRUE(DeleteMapPath(root + "site/link/", {root}, why)) << why;
    EXPECT_TRUE(fs::exists(base + "/outside/keep.txt"));
    EXPECT_TRUE(DeleteMapPath(root + "site/a.htm", {root}, why)) << why;
    EXPECT_FALSE(fs::exists(root + "site/a.htm"));
    EXPECT_FALSE(fs::exists(root + "site/a.htm.primary"));

    EXPECT_TRUE(viewmodels::KeywordPickOk(viewmodels::KeywordKind::Server, 1, true));
    EXPECT_FALSE(viewmodels::KeywordPickOk(viewmodels::KeywordKind::Server, 2, true));
    EXPECT_TRUE(viewmodels::KeywordPickOk(viewmodels::KeywordKind::Directory, 2, true));
    EXPECT_FALSE(viewmodels::KeywordPickOk(viewmodels::KeywordKind::Directory, 2, false));
    EXPECT_FALSE(viewmodels::KeywordPickOk(viewmodels::KeywordKind::Directory, 1, true));
    EXPECT_TRUE(viewmodels::KeywordPickOk(viewmodels::KeywordKind::FileName, 3, false));
    EXPECT_FALSE(viewmodels::KeywordPickOk(viewmodels::KeywordKind::FileName, 1, false));

    store::Options().PathPrefix = "/home/u/Quillmoor/";
    EXPECT_EQ(viewmodels::PickerFolderFor(""), "/home/u/Quillmoor");
    EXPECT_EQ(viewmodels::PickerFolderFor("/data/sites/"), "/data/sites");
    EXPECT_EQ(viewmodels::FieldTextForPicked("/data/sites"), "/data/sites/");
    store::ProjectFolder folder;
    folder.Caption = "Old";
    store::Options().DDs.Clear();
    StoreFolderProperties(folder, "", "");
    EXPECT_EQ(folder.Caption, "Old");
    EXPECT_EQ(folder.Dir, "");
    EXPECT_TRUE(store::Options().DDs.Empty());
    StoreFolderProperties(folder, "New", "/data/sites/");
    EXPECT_EQ(folder.Caption, "New");
    EXPECT_TRUE(store::Options().DDs.Contains("/data/sites/"));
}

TEST(FindFiles, ProjectTreeWalk) {
    store::ProjectTree tree;
    store::ProjectFolder& a = tree.AddFolder("Default");
    auto p = std::make_unique<store::Project>();
    p->Caption = "Docs Site";
    tree.AddProject(a, std::move(p));
    store::ProjectFolder& b = tree.AddFolder("News");
    auto q = std::make_unique<store::Project>();
    q->Caption = "docs mirror";
    tree.AddProject(b, std::move(q));
    EXPECT_EQ(viewmodels::FindTreeNode(tree, -1, "DOCS", false), 1);
    EXPECT_EQ(viewmodels::FindTreeNode(tree, 1, "DOCS", false), 3);
    EXPECT_EQ(viewmodels::FindTreeNode(tree, 3, "DOCS", false), -1);
    EXPECT_EQ(viewmodels::FindTreeNode(tree, -1, "docs", true), 3);
}

#include "desktop/tool_list.h"

TEST(ToolList, CaptionsAndPrograms) {
    // The menus offer the ticked entries with a program; the flag character is not part of it.
    std::vector<desktop::Tool> tools = desktop::ParseToolList(
        "Firefox=/usr/bin/firefoxx\r\n=x\r\n/usr/bin/less\r\nEdit = /usr/bin/gedit "
        "x\r\nOff=/usr/bin/vio\r\n=/usr/bin/ed x\r\n");
    ASSERT_EQ(tools.size(), 3u);
    EXPECT_EQ(tools[0].caption, "Firefox");
    EXPECT_EQ(tools[0].program, "/usr/bin/firefox");
    EXPECT_EQ(tools[1].caption, "Edit");
    EXPECT_EQ(tools[1].program, "/usr/bin/gedit");
    EXPECT_EQ(tools[2].caption, "/usr/bin/ed");
}

#include "viewmodels/site_check_list.h"

TEST(SiteCheckList, GroupsUnderHeadingsAndPointsAtTheRulesPage) {
    SiteCheck check;
    check.pagesRead = 3;
    check.linksSeen = 12;
    auto link = [](BrokenReason r, const char* detail, const char* url) {
        return BrokenLink{r, detail, url, "http://h/index.html", 1};
    };
    check.broken = {link(BrokenReason::Refused, "server keywords", "http://ads/x"),
                    link(BrokenReason::Refused, "server keywords", "http://ads/y"),
                    link(BrokenReason::Refused, "category images", "http://h/a.gif"),
                    link(BrokenReason::Failed, "404", "http://h/gone"),
                    link(BrokenReason::Failed, "401", "http://h/private/")};
    const std::vector<viewmodels::SiteCheckLine> lines = viewmodels::SiteCheckLines(check);
    std::vector<std::string> shown;
    for (const auto& l : lines) shown.push_back((l.heading ? "# " : "  ") + l.text + " -> " + l.propertiesNode);
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "# refused by the rule 'server keywords' (2) -> Server",
                         "  http://ads/x -> Server",
                         "  http://ads/y -> Server",
                         "# refused by the rule 'category images' (1) -> Images",
                         "  http://h/a.gif -> Images",
                         "# failed with status 404 (1) -> Advanced",
                         "  http://h/gone -> Advanced",
                         "# failed with status 401 (1) -> Passwords",
                         "  http://h/private/ -> Passwords",
                     }));
    EXPECT_EQ(lines[1].page, "http://h/index.html");
    EXPECT_EQ(viewmodels::SiteCheckSummary(check), "3 pages read, 12 links, 5 broken");

    auto node = [&](BrokenReason r, const char* detail) { return viewmodels::PropertiesNodeFor(link(r, detail, "u")); };
    EXPECT_EQ(node(BrokenReason::Refused, "starting directory"), "Directory");
    EXPECT_EQ(node(BrokenReason::Refused, "file name keywords"), "Filename");
    EXPECT_EQ(node(BrokenReason::Refused, "category user-defined"), "User Defined");
    EXPECT_EQ(node(BrokenReason::Refused, "repeating path segments"), "Advanced");
    EXPECT_EQ(node(BrokenReason::BeyondLevel, ""), "Project");
    EXPECT_EQ(node(BrokenReason::NotReached, ""), "Advanced");
    EXPECT_EQ(viewmodels::SiteCheckSummary(SiteCheck{}), "0 pages read, 0 links, nothing broken");
}
