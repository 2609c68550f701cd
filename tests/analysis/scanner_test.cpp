// The tag scanner and link resolver over small documents.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>

#include "fake_engine.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace qm::test {
namespace {

struct Doc {
    FakeEngine engine;
    std::unique_ptr<engine::DownloadRecord> parent;
    explicit Doc(const std::string& url = "http://host/dir/page.htm", int lev = 3) {
        parent = DocumentRecord(url, lev);
    }
    AnalysisRun Run(const std::string& html, bool write = true) { return AnalyseText(engine, *parent, html, write); }
};

TEST(Scanner, DocumentWithoutLinksIsCopiedWithNulBytesAsBlanks) {
    Doc d;
    std::string html = std::string("<html><p>plain\0text</p>\r\n<b>x</b></html>", 40);
    auto run = d.Run(html);
    EXPECT_THAT(run.urls, IsEmpty());
    ASSERT_TRUE(run.targetWritten);
    std::string expected = html;
    std::replace(expected.begin(), expected.end(), '\0', ' ');
    EXPECT_EQ(run.output, expected);
    EXPECT_EQ(d.engine.redirectStubs, 1);
}

TEST(Scanner, TagsAndAttributesMatchInAnyCaseValuesKeepTheirLetters) {
    Doc d;
    auto run = d.Run("<IMG SRC=\"Pics/Logo.GIF\"><A HREF='Next.HTM'>n</A>");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/Pics/Logo.GIF", "http://host/dir/Next.HTM"));
    EXPECT_TRUE(d.engine.found[0]->IsImage);
    EXPECT_FALSE(d.engine.found[1]->IsImage);
}

TEST(Scanner, LowResolutionSourceBeforeSourceGivesBothInTextOrder) {
    Doc d;
    auto run = d.Run("<img lowsrc=\"low.gif\" src=\"high.gif\">");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/low.gif", "http://host/dir/high.gif"));
    EXPECT_TRUE(d.engine.found[0]->IsImage);
    EXPECT_TRUE(d.engine.found[1]->IsImage);
    EXPECT_EQ(run.output, "<img lowsrc=\"low.gif\" src=\"high.gif\">");
}

TEST(Scanner, AnchorsWithoutHrefAndLookalikeTagsYieldNothing) {
    Doc d;
    std::string html =
        "<a name=top>x</a><abbr href=\"no1.htm\">a</abbr><address href=\"no2.htm\">b</address>"
        "<a title=\"t\">y</a>";
    auto run = d.Run(html);
    EXPECT_THAT(run.urls, IsEmpty());
    EXPECT_EQ(run.output, html);
    // Area tags go through the anchor row.
    auto area = d.Run("<map><area shape=rect href=\"part.htm\"></map>");
    EXPECT_THAT(area.urls, ElementsAre("http://host/dir/part.htm"));
}

TEST(Scanner, QuotingVariantsGiveTheSameBareName) {
    for (const char* html : {"<a href = 'f.htm' >", "<a href=f.htm>", "<a href=\"f.htm>", "<a\r\nhref=\r\n\"f.htm\">",
                             "<a href=f.htm\">"}) {
        Doc d;
        auto run = d.Run(html);
        EXPECT_THAT(run.urls, ElementsAre("http://host/dir/f.htm")) << html;
        EXPECT_EQ(run.output, html);
    }
    Doc d;  // a tab is not white space here, and "=" is required
    EXPECT_THAT(d.Run("<a href\t=\"f.htm\"><a href \"g.htm\">").urls, IsEmpty());
}

TEST(Scanner, AttributeBeyondTheTagEndCountsAsAbsent) {
    Doc d;
    auto run = d.Run("<a name=x>text href=\"not.htm\"</a><a href=yes.htm>");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/yes.htm"));
}

TEST(Scanner, AppletCodeBaseAndCode) {
    Doc d;
    auto run = d.Run("<applet codebase=\"classes\" code=\"Main\" width=10></applet>");
    ASSERT_THAT(run.urls, ElementsAre("http://host/dir/classes/Main.class"));
    EXPECT_TRUE(d.engine.found[0]->JavaClass);
    Doc j;
    EXPECT_THAT(j.Run("<APPLET CODE=\"Game.java\">").urls, ElementsAre("http://host/dir/Game.class"));
    EXPECT_TRUE(j.engine.found[0]->JavaClass);
    Doc o;  // code before codebase
    EXPECT_THAT(o.Run("<applet code=Main.class codebase=\"http://other/lib/\">").urls,
                ElementsAre("http://other/lib/Main.class"));
}

TEST(Scanner, ParametersResolveAgainstTheAppletBase) {
    Doc d;
    auto run = d.Run(
        "<applet codebase=\"cls/\" code=\"A.class\"><param name=img value=\"a.gif|b.gif\">"
        "<param name=n value=\"12\"><param name=c value=\"red\"></applet>");
    EXPECT_THAT(run.urls,
                ElementsAre("http://host/dir/cls/A.class", "http://host/dir/cls/a.gif", "http://host/dir/cls/b.gif"));
    Doc o;
    EXPECT_THAT(o.Run("<select><option value=\"p2.htm\">2<option value=\"3\">3</select>").urls,
                ElementsAre("http://host/dir/p2.htm"));
}

TEST(Scanner, BaseTagRedirectsLaterRelativeLinks) {
    Doc d;
    auto run = d.Run(
        "<a href=\"before.htm\"><base href=\"http://other:80/site/index.htm?x=1\">"
        "<a href=\"after.htm\"><img src=\"/top.gif\">");
    EXPECT_THAT(run.urls,
                ElementsAre("http://host/dir/before.htm", "http://other/site/after.htm", "http://host/top.gif"));
    EXPECT_EQ(d.parent->Base, "http://other/site/");
    EXPECT_EQ(run.output.find("<base"), std::string::npos);
    // Depth 2: through the download root into the base's host folder.
    EXPECT_NE(run.output.find("<a href=\"../../other/site/after.htm\">"), std::string::npos) << run.output;
}

TEST(Scanner, BareHostBaseIsItsTopFolder) {
    Doc d;
    auto run = d.Run("<base href=\"http://other\"><a href=\"x.htm\">");
    EXPECT_THAT(run.urls, ElementsAre("http://other/x.htm"));
}

TEST(Scanner, CommentsHideLinksAndEndAtTheirFirstMarker) {
    Doc d;
    auto run = d.Run(
        "<!-- <a href=\"hidden.htm\"> --><a href=\"shown.htm\">"
        "<!-- x -!> <a href=\"after.htm\">");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/shown.htm", "http://host/dir/after.htm"));
    Doc e;
    std::string open = "<a href=\"a.htm\"><!-- never closed <a href=\"b.htm\">";
    auto unclosed = e.Run(open);
    EXPECT_THAT(unclosed.urls, ElementsAre("http://host/dir/a.htm"));
    EXPECT_EQ(unclosed.output, open);
}

TEST(Scanner, LevelRuleAtTheDeepestLevel) {
    Doc d("http://host/dir/page.htm", 0);
    auto run = d.Run(
        "<a href=\"next.htm\"><img src=\"i.gif\"><frame src=\"f.htm\"><iframe src=\"if.htm\">"
        "<link rel=stylesheet href=\"s.css\"><meta http-equiv=refresh content=\"0; url=r.htm\">");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/i.gif", "http://host/dir/f.htm", "http://host/dir/if.htm",
                                      "http://host/dir/s.css"));
    for (const auto& r : d.engine.found) EXPECT_EQ(r->Lev, 0);
    Doc l("http://host/dir/page.htm", 2);
    l.Run("<a href=\"n.htm\"><frame src=\"f.htm\">");
    EXPECT_EQ(l.engine.found[0]->Lev, 1);
    EXPECT_EQ(l.engine.found[1]->Lev, 2);
    EXPECT_EQ(l.engine.found[0]->Referer, "http://host/dir/page.htm");
}

TEST(Scanner, LinkRelationsTakeALevelStepUnlessThePageShowsThem) {
    Doc d("http://host/dir/page.htm", 1);
    d.Run(
        "<link rel=next href=\"n.htm\"><link rel=\"alternate stylesheet\" href=\"a.css\">"
        "<link rel=icon href=\"i.ico\"><link href=\"x.htm\"><link rel=canonical href=\"c.htm\">"
        "<link rel=modulepreload href=\"m.js\">");
    ASSERT_EQ(d.engine.found.size(), 6u);
    EXPECT_EQ(d.engine.Find("http://host/dir/n.htm")->Lev, 0);
    EXPECT_EQ(d.engine.Find("http://host/dir/a.css")->Lev, 1);
    EXPECT_EQ(d.engine.Find("http://host/dir/i.ico")->Lev, 1);
    EXPECT_EQ(d.engine.Find("http://host/dir/x.htm")->Lev, 0);
    EXPECT_EQ(d.engine.Find("http://host/dir/c.htm")->Lev, 0);
    EXPECT_EQ(d.engine.Find("http://host/dir/m.js")->Lev, 1);
    // At the last level only what the page shows is taken.
    Doc last("http://host/dir/page.htm", 0);
    auto run = last.Run(
        "<link rel=next href=\"n.htm\"><link rel=prev href=\"p.htm\">"
        "<link rel=stylesheet href=\"s.css\"><link rel=manifest href=\"app.json\">");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/s.css", "http://host/dir/app.json"));
}

TEST(Scanner, LinksWithoutALevelStepEndAFewStepsBeyond) {
    const std::string html = "<iframe src=\"f.htm\"><img src=\"i.gif\"><a href=\"a.htm\">";
    // A page three steps beyond the last level: no further frame, still its pictures.
    Doc d("http://host/dir/page.htm", 0);
    d.parent->StepsBeyondLevel = 3;
    auto run = d.Run(html);
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/i.gif"));
    EXPECT_EQ(d.engine.found[0]->StepsBeyondLevel, 4);
    EXPECT_FALSE(d.engine.found[0]->IsFrame);
    d.parent->StepsBeyondLevel = 8;
    EXPECT_THAT(d.Run(html).urls, IsEmpty());
    // Above the last level a chain of frames ends likewise, and a hyperlink starts anew.
    Doc up("http://host/dir/page.htm", 2);
    up.parent->StepsBeyondLevel = 3;
    run = up.Run(html);
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/i.gif", "http://host/dir/a.htm"));
    EXPECT_EQ(up.engine.Find("http://host/dir/a.htm")->StepsBeyondLevel, 0);
    EXPECT_EQ(up.engine.Find("http://host/dir/a.htm")->Lev, 1);
    Doc first("http://host/dir/page.htm", 2);
    first.Run(html);
    EXPECT_EQ(first.engine.Find("http://host/dir/f.htm")->StepsBeyondLevel, 1);
    EXPECT_EQ(first.engine.Find("http://host/dir/f.htm")->Lev, 2);
}

TEST(Scanner, ClimbingAboveTheHostIsCutBackToItsTop) {
    Doc d("http://host/page.htm");
    auto run = d.Run("<a href=\"../../up.htm\"><a href=\"../x/y.htm\">");
    EXPECT_THAT(run.urls, ElementsAre("http://host/up.htm", "http://host/x/y.htm"));
    EXPECT_EQ(run.output, "<a href=\"up.htm\"><a href=\"x/y.htm\">");
    Doc deeper("http://host/a/b/page.htm");
    auto r2 = deeper.Run("<a href=\"../../../z.htm\">");
    EXPECT_THAT(r2.urls, ElementsAre("http://host/z.htm"));
    EXPECT_EQ(r2.output, "<a href=\"../../z.htm\">");
}

TEST(Scanner, HostLikeClimbInAStoredCopyBecomesThatHostsAddress) {
    Doc d("http://host/page.htm");
    auto run = AnalyseText(d.engine, *d.parent, "<a href=\"../www.other.org/p/q.htm\">", true, "");
    EXPECT_THAT(run.urls, ElementsAre("http://www.other.org/p/q.htm"));
    EXPECT_EQ(run.output, "<a href=\"../www.other.org/p/q.htm\">");
    auto port = AnalyseText(d.engine, *d.parent, "<a href=\"../site.org+8080/a.htm\">", true, "");
    EXPECT_THAT(port.urls, ElementsAre("http://site.org:8080/a.htm"));
    // The copy as received is never read that way.
    auto primary = AnalyseText(d.engine, *d.parent, "<a href=\"../www.other.org/p/q.htm\">");
    EXPECT_THAT(primary.urls, ElementsAre("http://host/www.other.org/p/q.htm"));
}

TEST(Scanner, OtherSchemesAndAnchorsCreateNothing) {
    Doc d;
    std::string html =
        "<a href=\"mailto:a@b?subject=x\"><a href=\"news:c.d\"><a href=\"ftp://f/x\">"
        "<a href=\"https://s/x?y\"><a href=\"#sec?x\"><a href=\"telnet:h\"><a href=\"file:/c\">";
    auto run = d.Run(html);
    EXPECT_THAT(run.urls, IsEmpty());
    // Other schemes stay as written; an anchor gets the local-name replacements.
    EXPECT_EQ(run.output,
              "<a href=\"mailto:a@b?subject=x\"><a href=\"news:c.d\"><a href=\"ftp://f/x\">"
              "<a href=\"https://s/x?y\"><a href=\"#sec@x\"><a href=\"telnet:h\"><a href=\"file:/c\">");
}

TEST(Scanner, StartPathRuleAndRefusedRecords) {
    Doc d;
    d.engine.settings.ThisWay = true;
    d.parent->InitWay = "/root/host/dir";
    auto run = d.Run("<a href=\"in.htm\"><a href=\"/out.htm\"><img src=\"/out.gif\">");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/in.htm", "http://host/out.gif"));
    Doc r;
    r.engine.admit = [](const std::string& u) { return u.find("bad") == std::string::npos; };
    EXPECT_THAT(r.Run("<a href=bad.htm><a href=good.htm>").urls, ElementsAre("http://host/dir/good.htm"));
}

TEST(Scanner, InheritedFieldsOfFoundRecords) {
    Doc d;
    d.parent->URLPsw = "u:p";
    d.parent->InitWay = "/root/host";
    d.Run("<a href=\"x.htm\">");
    ASSERT_EQ(d.engine.found.size(), 1u);
    EXPECT_EQ(d.engine.found[0]->URLPsw, "u:p");
    EXPECT_EQ(d.engine.found[0]->InitWay, "/root/host");
    EXPECT_TRUE(d.engine.found[0]->Img);
    EXPECT_FALSE(d.engine.found[0]->Busy);
}

TEST(Scanner, FailureMessages) {
    FakeEngine engine;
    auto parent = DocumentRecord("http://host/a.htm");
    analysis::AnalyseWith(engine, *parent, ScratchDir() + "/missing.htm", ScratchDir() + "/m.htm", true, engine);
    ASSERT_EQ(engine.messages.size(), 1u);
    EXPECT_EQ(engine.messages[0].first, "Error reading from file: " + ScratchDir() + "/missing.htm");
    EXPECT_FALSE(engine.messages[0].second);

    FakeEngine full;
    full.freeSpace = 1000;
    auto run = AnalyseText(full, *parent, "<a href=x.htm>");
    EXPECT_THAT(run.urls, IsEmpty());
    EXPECT_FALSE(run.targetWritten);
    ASSERT_EQ(full.messages.size(), 1u);
    EXPECT_EQ(full.messages[0].first.rfind("Not enough disk space: ", 0), 0u);
    EXPECT_TRUE(full.messages[0].second);

    FakeEngine blocked;
    std::string source = ScratchDir() + "/blocked.htm.primary";
    {
        FILE* f = fopen(source.c_str(), "wb");
        fputs("<a href=x.htm>", f);
        fclose(f);
    }
    std::string target = source + "/cannot/be/made.htm";  // below a file
    analysis::AnalyseWith(blocked, *parent, source, target, true, blocked);
    ASSERT_EQ(blocked.messages.size(), 1u);
    EXPECT_EQ(blocked.messages[0].first, "Error creating file: " + target);
    EXPECT_FALSE(blocked.messages[0].second);
    EXPECT_TRUE(blocked.found.empty());
}

TEST(Scanner, JavaScriptDocumentsAreScannedOnlyWithScriptsEnabled) {
    Doc off;
    off.parent->ContentType = "application/x-javascript";
    std::string js = "var i = new Image(); i.src = 'pics/a.gif'; // <a href=no.htm>\n";
    auto r1 = off.Run(js);
    EXPECT_THAT(r1.urls, IsEmpty());
    EXPECT_EQ(r1.output, js);
    Doc on;
    on.parent->ContentType = "application/x-javascript";
    on.engine.settings.EnableScript = true;
    EXPECT_THAT(on.Run(js).urls, ElementsAre("http://host/dir/pics/a.gif"));
}

TEST(Scanner, WithoutWritingNoTargetAppears) {
    Doc d;
    auto run = d.Run("<a href=x.htm>", false);
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/x.htm"));
    EXPECT_FALSE(run.targetWritten);
    EXPECT_EQ(d.engine.redirectStubs, 0);
}

}  // namespace
}  // namespace qm::test
