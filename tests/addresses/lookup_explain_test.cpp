// Finding Projects from command-line words, and quillmoor-cli explain run as users run it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "app/project_lookup.h"
#include "app/session.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm {
namespace {

store::Project& Add(store::ProjectTree& tree, store::ProjectFolder& folder, const std::string& caption,
                    const std::string& url) {
    auto p = std::make_unique<store::Project>();
    p->Caption = caption;
    p->URL = url;
    p->IID = tree.TakeID();
    return tree.AddProject(folder, std::move(p));
}

TEST(ProjectLookup, CaptionsIndexesAndAll) {
    store::ProjectTree tree;
    store::ProjectFolder& news = tree.AddFolder("News");
    store::ProjectFolder& news2 = tree.AddFolder("NEWS");
    store::ProjectFolder& work = tree.AddFolder("Work/Old");
    store::Project& a = Add(tree, news, "Daily", "http://a/");
    store::Project& b = Add(tree, news, "daily", "http://b/");
    store::Project& c = Add(tree, news, "42", "http://c/");
    Add(tree, news2, "Other", "http://d/");
    store::Project& w = Add(tree, work, "Site", "http://w/");

    EXPECT_EQ(app::FindFolderArg(tree, "news"), &news);  // the first match
    EXPECT_EQ(app::FindFolderArg(tree, "nothing"), nullptr);
    EXPECT_EQ(app::FindProjectsArg(news, "DAILY"), std::vector<store::Project*>{&a});
    EXPECT_EQ(app::FindProjectsArg(news, "1"), std::vector<store::Project*>{&b});
    EXPECT_EQ(app::FindProjectsArg(news, "0"), std::vector<store::Project*>{&a});
    EXPECT_TRUE(app::FindProjectsArg(news, "42").empty());  // a number is an index
    EXPECT_TRUE(app::FindProjectsArg(news, "3").empty());
    EXPECT_TRUE(app::FindProjectsArg(news, "99999999999999999999").empty());
    EXPECT_EQ(app::FindProjectsArg(news, "All"), (std::vector<store::Project*>{&a, &b, &c}));

    std::string error;
    EXPECT_EQ(app::FindProjectPath(tree, "news/daily", error), &a);
    EXPECT_EQ(app::FindProjectPath(tree, "news/all", error), &a);
    EXPECT_EQ(app::FindProjectPath(tree, "work/old/site", error), &w);  // split at the last "/"
    EXPECT_EQ(app::FindProjectPath(tree, "news/Other", error), nullptr);
    EXPECT_NE(error.find("Other"), std::string::npos);
    EXPECT_EQ(app::FindProjectPath(tree, "daily", error), nullptr);
    EXPECT_EQ(app::FindProjectPath(tree, "nope/daily", error), nullptr);
    EXPECT_NE(error.find("nope"), std::string::npos);
}

std::map<std::string, std::string> Fields(const std::string& out) {
    std::map<std::string, std::string> fields;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

class ExplainTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = test::MakeTempDir("explain-home");
        sites = test::MakeTempDir("explain-sites") + "/";
        app::Session session;
        std::string error;
        ASSERT_TRUE(session.Open(home, error)) << error;
        store::ProjectTree& tree = session.Tree();
        store::ProjectFolder& folder = tree.AddFolder("Docs");
        folder.Dir = sites;
        store::Project& p = Add(tree, folder, "Manual", "http://127.0.0.1/manual/index.htm");
        p.Categories = session.Defaults().Categories;
        p.RSrvsBx = 1;
        p.Categories[store::kCatImages].Flag(store::CategoryFlag::Excluded) = true;
        ASSERT_TRUE(session.Save(error)) << error;
    }
    test::RunResult Explain(const std::vector<std::string>& args) {
        std::vector<std::string> all{"--home", home, "explain"};
        all.insert(all.end(), args.begin(), args.end());
        return test::RunCli(all);
    }
    std::string home, sites;
};

TEST_F(ExplainTest, AdmittedAddressesTellWhereTheyAreStored) {
    test::RunResult r = Explain({"docs/MANUAL", "http://127.0.0.1:80/manual/./a/../b.htm?x=1&amp;y=2#top"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto f = Fields(r.out);
    EXPECT_EQ(f["admitted"], "yes");
    EXPECT_EQ(f["url"], "http://127.0.0.1/manual/b.htm?x=1&y=2");
    EXPECT_EQ(f["category"], "text");
    EXPECT_EQ(f["file"], sites + "127.0.0.1/manual/b.htm@x=1&y=2");
    EXPECT_EQ(f["depth"], "2");

    r = Explain({"Docs/0", "http://127.0.0.1/manual/data.bin"});
    f = Fields(r.out);
    EXPECT_EQ(f["category"], "other");
}

TEST_F(ExplainTest, RefusalsNameTheRule) {
    auto f = Fields(Explain({"Docs/Manual", "gopher://127.0.0.1/x"}).out);
    EXPECT_EQ(f["admitted"], "no");
    EXPECT_EQ(f["reason"], "scheme");
    f = Fields(Explain({"Docs/Manual", "http://127.0.0.2/x.htm"}).out);
    EXPECT_EQ(f["reason"], "starting server");
    // An embedded picture of an excluded category is refused; a hyperlink to it is not, when
    // pages are excluded too, which they are not here.
    f = Fields(Explain({"Docs/Manual", "http://127.0.0.1/p.gif", "--embedded"}).out);
    EXPECT_EQ(f["admitted"], "no");
    EXPECT_EQ(f["reason"], "category images");
    f = Fields(Explain({"Docs/Manual", "http://127.0.0.1/../x/.."}).out);
    EXPECT_EQ(f["reason"], "root folder");
    // A site's Project never reads this machine's files.
    f = Fields(Explain({"Docs/Manual", "file:///etc/hostname"}).out);
    EXPECT_EQ(f["admitted"], "no");
    EXPECT_EQ(f["reason"], "local file");
    EXPECT_EQ(f.count("file"), 0u);
}

TEST_F(ExplainTest, UsageAndMissingProjects) {
    test::RunResult r = Explain({"Docs/Manual"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
    r = Explain({"Docs/Manual", "http://a/", "extra"});
    EXPECT_EQ(r.exitCode, 2);
    r = Explain({"Docs/Nobody", "http://a/"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Nobody"), std::string::npos);
    r = Explain({"Nothing/Manual", "http://a/"});
    EXPECT_EQ(r.exitCode, 1);
}

}  // namespace
}  // namespace qm
