// The index page, the Project information page and folder listings.
#include <gtest/gtest.h>

#include <clocale>
#include <memory>

#include "server/pages.h"
#include "store/folder.h"
#include "store/project.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace qm::server {
namespace {

store::Project& AddProject(store::ProjectTree& tree, store::ProjectFolder& folder, int iid, const std::string& caption,
                           const std::string& url) {
    auto p = std::make_unique<store::Project>();
    p->IID = iid;
    p->Caption = caption;
    p->URL = url;
    return tree.AddProject(folder, std::move(p));
}

std::size_t Count(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

TEST(ServerPages, IndexListsFoldersWithTreeIndices) {
    store::ProjectTree tree;
    store::ProjectFolder& sites = tree.AddFolder("Sites");
    AddProject(tree, sites, 4, "Alpha", "http://alpha.example/");
    AddProject(tree, sites, 9, "Beta", "http://beta.example/x/");
    tree.AddFolder("Empty");
    const std::string page = BuildIndexPage(tree);

    EXPECT_EQ(page.rfind("<html><head><title>Quillmoor 1.0</title></head><style>\r\n"
                         "body    { background : white; color : black; margin: 0 }\r\n",
                         0),
              0u);
    EXPECT_NE(page.find("</style>\r\n<body LINK=#4E4E4E VLINK=#4E4E4E>\r\n<div style=\"position:relative; "
                        "left:10; top:10; width:90%; height=+30px;\" id=DivRule>"),
              std::string::npos);
    // The first folder is node 0; its two Projects are nodes 1 and 2; the next folder is 3.
    EXPECT_NE(page.find("<div id=Out0 style=\"position:relative; left:20; top:+5px; width:90%;\" >"
                        "\r\n<span id=Out0 class=Outline style=\"cursor: hand; \"><img src=\"/folder.gif\"> "
                        "</span><u id=Out0 class=Outline style=\"cursor: hand; \">Sites</u>"
                        "<div id=Out0details style=\"display:None; position:relative; left:16;\">\r\n"
                        "<img src=/start.gif border=0><a href=\"/?exec/4\">Alpha</a><br>\r\n"
                        "<img src=/start.gif border=0><a href=\"/?exec/9\">Beta</a><br>\r\n"
                        "</div><br>\r\n"),
              std::string::npos);
    // An empty folder still has its entry, with an empty details block.
    EXPECT_NE(page.find("<u id=Out3 class=Outline style=\"cursor: hand; \">Empty</u><div id=Out3details "
                        "style=\"display:None; position:relative; left:16;\">\r\n</div><br>\r\n"),
              std::string::npos);
    EXPECT_EQ(Count(page, "/?exec/"), 2u);
    EXPECT_NE(page.find("document.onclick = clickHandler;\r\n</script>\r\n<hr><font size=-2><i><b>Quillmoor 1.0</b>"),
              std::string::npos);
    EXPECT_EQ(page.substr(page.size() - 25), "</i></font></body></html>");
}

class ProjectPage : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = &tree_.AddFolder("Sites");
        project_ = &AddProject(tree_, *folder_, 7, "Gamma", "http://gamma.example/start.htm");
        project_->S200 = 12;
        project_->S304 = 3;
        project_->S400 = 2;
        project_->SErr = 1;
        project_->SAbr = 5;
    }
    store::ProjectTree tree_;
    store::ProjectFolder* folder_ = nullptr;
    store::Project* project_ = nullptr;
};

TEST_F(ProjectPage, NeverRunShowsStatisticsAndLinks) {
    project_->LastStart = 0;
    const std::string page = BuildProjectPage(tree_, 7);
    EXPECT_NE(page.find("Quillmoor 1.0</font>\r\n<p><b>Project name:</b> <a href=\"Sites/gamma.example/start.htm\">"
                        "Gamma</a><br>\r\n<b>Original URL:</b> <a href=\"http://gamma.example/start.htm\">"
                        "http://gamma.example/start.htm</a><p>\r\n<b>Project was not downloaded.</b><p>"
                        "<b>Last Download statistics:</b><br><table>"
                        "<tr><td><b>Downloaded files:</b></td><td> 12</td></tr>"
                        "<tr><td><b>Not modified:</b></td><td> 3</td></tr>"
                        "<tr><td><b>Not found:</b></td><td> 2</td></tr>"
                        "<tr><td><b>Error while downloading:</b></td><td> 1</td></tr>"
                        "<tr><td><b>Aborted/Limited:</b></td><td> 5</td></tr></table>\r\n<hr>"),
              std::string::npos)
        << page;
}

TEST_F(ProjectPage, StartedAndFinishedTimes) {
    std::setlocale(LC_TIME, "C");
    project_->LastStart = 46000.5;  // 9 December 2025, 12:00:00
    project_->LastEnd = 46000.75;
    std::string page = BuildProjectPage(tree_, 7);
    EXPECT_NE(page.find("<b>Download last time started:</b> 12/09/25 12:00:00<br><b>Finished:</b> 12/09/25 "
                        "18:00:00.<p><b>Last Download statistics:</b>"),
              std::string::npos)
        << page;
    // Not finished since it last started.
    project_->LastEnd = 46000.25;
    page = BuildProjectPage(tree_, 7);
    EXPECT_NE(page.find("12:00:00<br><b>Still downloading...</b><p>"), std::string::npos);
    project_->LastEnd = project_->LastStart;
    EXPECT_NE(BuildProjectPage(tree_, 7).find("<b>Still downloading...</b><p>"), std::string::npos);
}

TEST_F(ProjectPage, UnknownNumberHasOnlyTitleAndFooter) {
    for (int number : {-1, 0, 8}) {
        const std::string page = BuildProjectPage(tree_, number);
        EXPECT_EQ(page.find("<p>"), std::string::npos) << number;
        EXPECT_NE(page.find("Quillmoor 1.0</font>\r\n\r\n<hr><font size=-2><i><b>Quillmoor 1.0</b>"),
                  std::string::npos);
    }
}

TEST(ServerListing, SkipsCompanionFilesAndMarksFolders) {
    const std::string dir = qm::test::MakeTempDir("listing");
    ASSERT_TRUE(qm::test::WriteFile(dir + "/page.htm", "12345"));
    ASSERT_TRUE(qm::test::WriteFile(dir + "/page.htm.primary", "x"));
    ASSERT_TRUE(qm::test::WriteFile(dir + "/PAGE2.HTM.PRIMARY", "x"));
    ASSERT_TRUE(qm::test::WriteFile(dir + "/Descr.QV3", "x"));
    ASSERT_TRUE(qm::test::WriteFile(dir + "/descr.dat", "x"));
    ASSERT_TRUE(qm::test::WriteFile(dir + "/sub/inner.htm", "x"));
    const std::string page = BuildDirectoryListing("/Sites/host/", dir);
    EXPECT_EQ(page.rfind("<html><head><title>/Sites/host/</title></head><body><h3>Directory of /Sites/host/</h3>"
                         "<p><hr><table>\r\n",
                         0),
              0u);
    EXPECT_NE(page.find("<tr><td></td><td><tt>5</td><td><tt><a href=\"page.htm\">page.htm</a></td></tr>\r\n"),
              std::string::npos);
    EXPECT_NE(page.find("<tr><td><img src=\"/Folder.gif\" valign=middle></td><td><tt>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"sub\">sub</a>"), std::string::npos);
    EXPECT_NE(page.find("<tr><td><img src=\"/UpFold.gif\" valign=middle></td><td><tt>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"..\">..</a>"), std::string::npos);
    EXPECT_EQ(page.find("primary"), std::string::npos);
    EXPECT_EQ(page.find("PRIMARY"), std::string::npos);
    EXPECT_EQ(Count(page, "<tr>"), 3u);  // "..", page.htm and sub
    EXPECT_NE(page.find("<a href=\".\">"), 0u);
    EXPECT_EQ(page.find("escr"), std::string::npos);
    EXPECT_NE(page.find("</table><hr><font size=-2><i><b>Quillmoor 1.0</b>"), std::string::npos);
}

TEST(ServerListing, UnreadableFolderHasHeadingOnly) {
    const std::string page = BuildDirectoryListing("/x/", "/nonexistent/folder/for/listing");
    EXPECT_EQ(page.find("<tr>"), std::string::npos);
    EXPECT_NE(page.find("<h3>Directory of /x/</h3><p><hr><table>\r\n</table><hr>"), std::string::npos);
}

}  // namespace
}  // namespace qm::server
