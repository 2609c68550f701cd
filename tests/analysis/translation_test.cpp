// How links are written into the stored copy of a document.
#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "analysis/analysis.h"
#include "fake_engine.h"

using ::testing::ElementsAre;

namespace qm::test {
namespace {

std::string Written(FakeEngine& engine, engine::DownloadRecord& parent, const std::string& html) {
    return AnalyseText(engine, parent, html).output;
}

TEST(Translation, DoNotTranslateKeepsAbsoluteAndHostRelativeLinks) {
    FakeEngine e;
    e.settings.LTranslate = true;
    auto parent = DocumentRecord("http://host/dir/page.htm");
    EXPECT_EQ(Written(e, *parent,
                      "<a href=\"http://host/a.htm\"><a href=\"/b.htm\"><a href=\"http:/c.htm\">"
                      "<a href=\"q.cgi?x=1|2%41\">"),
              "<a href=\"http://host/a.htm\"><a href=\"/b.htm\"><a href=\"http:/c.htm\">"
              "<a href=\"q.cgi@x=1_2_41\">");
}

TEST(Translation, AbsoluteLinksBecomePathsThroughTheDownloadRoot) {
    FakeEngine e;
    auto parent = DocumentRecord("http://host/dir/page.htm");  // Depth 2
    EXPECT_EQ(Written(e, *parent,
                      "<a href=\"http://other.org/x/y.htm\">"
                      "<a href=\"http://other.org:80/p.htm\">"
                      "<a href=\"http://other.org:8080/p.htm?q=1\">"
                      "<a href=\"http://user:pw@other.org/s.htm\">"
                      "<a href=\"http://other.org\">"
                      "<a href=\"http://other.org/dir/#top\">"),
              "<a href=\"../../other.org/x/y.htm\">"
              "<a href=\"../../other.org/p.htm\">"
              "<a href=\"../../other.org+8080/p.htm@q=1\">"
              "<a href=\"../../other.org/s.htm\">"
              "<a href=\"../../other.org/default.htm\">"
              "<a href=\"../../other.org/dir/default.htm#top\">");
}

TEST(Translation, HostRelativeLinksClimbToTheHostsTop) {
    FakeEngine e;
    auto d1 = DocumentRecord("http://host/page.htm");
    EXPECT_EQ(Written(e, *d1, "<img src=\"/i/a.gif\">"), "<img src=\"./i/a.gif\">");
    auto d3 = DocumentRecord("http://host/a/b/page.htm");
    EXPECT_EQ(Written(e, *d3, "<img src=\"/i/a.gif\"><a href=\"http:/x/\">"),
              "<img src=\"../../i/a.gif\"><a href=\"../../x/default.htm\">");
}

TEST(Translation, LinksThatWillNotBeStoredStayOnTheWeb) {
    FakeEngine e;
    auto deepest = DocumentRecord("http://host/dir/page.htm", 0);
    EXPECT_EQ(Written(e, *deepest, "<a href=\"/far.htm\"><a href=\"http://host/abs.htm\">"),
              "<a href=\"http://host/far.htm\"><a href=\"http://host/abs.htm\">");
    // ...unless the file is already there.
    e.existing.insert("/root/host/far.htm");
    e.existing.insert("/root/host/abs.htm");
    EXPECT_EQ(Written(e, *deepest, "<a href=\"/far.htm\"><a href=\"http://host/abs.htm\">"),
              "<a href=\"../far.htm\"><a href=\"../../host/abs.htm\">");
    // Refused by the filter: an existing-file test decides for hyperlinks.
    FakeEngine r;
    r.admit = [](const std::string&) { return false; };
    auto parent = DocumentRecord("http://host/dir/page.htm", 2);
    EXPECT_EQ(Written(r, *parent, "<a href=\"http://else/x.htm\">"), "<a href=\"http://else/x.htm\">");
    // Images are written as local paths whenever images are taken.
    EXPECT_EQ(Written(r, *parent, "<img src=\"http://else/x.gif\">"), "<img src=\"../../else/x.gif\">");
}

TEST(Translation, RepeatedLinksAskForTheirFileOncePerDocument) {
    FakeEngine e;
    e.existing.insert("/root/host/abs.htm");
    auto deepest = DocumentRecord("http://host/dir/page.htm", 0);
    const std::string page =
        "<a href=\"http://host/abs.htm#a\"><a href=\"/far.htm\"><a href=\"http://host/abs.htm#b\">"
        "<a href=\"/far.htm\"><a href=\"http://host/abs.htm\"><a href=\"/abs.htm#c\">";
    const std::string written =
        "<a href=\"../../host/abs.htm#a\"><a href=\"http://host/far.htm\"><a href=\"../../host/abs.htm#b\">"
        "<a href=\"http://host/far.htm\"><a href=\"../../host/abs.htm\"><a href=\"../abs.htm#c\">";
    EXPECT_EQ(Written(e, *deepest, page), written);
    EXPECT_THAT(e.existsAsked, ElementsAre("/root/host/abs.htm", "/root/host/far.htm"));
    // The next document asks again: a file may have been stored meanwhile.
    e.existing.insert("/root/host/far.htm");
    e.existsAsked.clear();
    EXPECT_EQ(Written(e, *deepest, "<a href=\"/far.htm\"><a href=\"/far.htm#x\">"),
              "<a href=\"../far.htm\"><a href=\"../far.htm#x\">");
    EXPECT_THAT(e.existsAsked, ElementsAre("/root/host/far.htm"));
}

TEST(Translation, ShortDocumentAfterALongOneCarriesNothingOver) {
    // The thread keeps its buffers from one document to the next.
    FakeEngine e;
    auto parent = DocumentRecord("http://host/page.htm");
    std::string longPage = "<a href=\"http://other.org/long.htm\">";
    longPage.append(300000, 'x');
    longPage += "<img src=\"/i/a.gif\">";
    std::string longWritten = "<a href=\"../other.org/long.htm\">";
    longWritten.append(300000, 'x');
    longWritten += "<img src=\"./i/a.gif\">";
    EXPECT_EQ(AnalyseText(e, *parent, longPage).output, longWritten);
    const AnalysisRun second = AnalyseText(e, *parent, "<A HREF=\"b.htm\">");
    EXPECT_EQ(second.output, "<A HREF=\"b.htm\">");
    EXPECT_EQ(second.urls.back(), "http://host/b.htm");
    const AnalysisRun empty = AnalyseText(e, *parent, "");
    EXPECT_EQ(empty.output, "");
    EXPECT_TRUE(empty.urls.empty());
}

// A page whose links need no change is not written a second time: the stored page is a
// second name of its ".primary" original. Any difference gives the page a file of its own.
TEST(Translation, AnUnchangedPageSharesItsOriginalsFileAndAChangedOneGetsItsOwn) {
    const auto contents = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    };
    const auto inode = [](const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    // Analyses text stored as name.primary into name (holding before when not empty).
    const auto analyse = [&](const std::string& name, const std::string& text, const std::string& before = "") {
        const std::string target = ScratchDir() + "/" + name, primary = target + ".primary";
        std::ofstream(primary, std::ios::binary).write(text.data(), std::streamsize(text.size()));
        if (!before.empty()) std::ofstream(target, std::ios::binary) << before;
        FakeEngine e;
        auto parent = DocumentRecord("http://host/" + name);
        analysis::AnalyseWith(e, *parent, primary, target, true, e);
        EXPECT_EQ(contents(primary), text) << name;
        EXPECT_FALSE(std::filesystem::exists(target + ".qm%part")) << name;
        return std::make_pair(contents(target), inode(target) == inode(primary));
    };

    const std::string plain = "<p>Text</p><a href=\"b.htm\">b</a><a href=\"mailto:someone@host\">mail</a>";
    EXPECT_EQ(analyse("same.htm", plain), std::make_pair(plain, true));
    // A change in the middle: the bytes held back before it and the rest after it.
    EXPECT_EQ(analyse("changed.htm", "<p>Head</p><img src=\"/i/a.gif\"><p>Tail</p>"),
              std::make_pair(std::string("<p>Head</p><img src=\"./i/a.gif\"><p>Tail</p>"), false));
    // The stored page of an earlier run is replaced.
    EXPECT_EQ(analyse("again.htm", plain, "an older page"), std::make_pair(plain, false));
    // A NUL byte is written as a blank: the page differs from its original.
    const std::string withNul = std::string("<p>a") + '\0' + "b</p>";
    EXPECT_EQ(analyse("nul.htm", withNul), std::make_pair(std::string("<p>a b</p>"), false));
}

TEST(Translation, LargeDocumentIsWrittenAndReadAsASmallOne) {
    // From a megabyte on, a document is kept with its letters lowered and its upper-case
    // ones noted: links and the written copy must still have every letter as it came.
    const std::string page =
        "<A HREF=\"http://Other.ORG/Dir/Page.HTM#Top\">X</A><IMG SRC=\"/Img/Logo.GIF\">"
        "<a href=\"Sub/Next.Html\"><a href=\"../Up/Two.htm\">"
        "<img srcset=\"Pic-1X.png 1x, /Pic-2X.PNG 2x\"><p style=\"background:url(Back.PNG)\">"
        "<STYLE>a{b:url(\\49 mg/\\41.png)} c{d:url(Font.WOFF)}</STYLE>"
        "<a href=\"http://host/Abs/Page.htm\"><a href=\"MAILTO:Someone@Host\">";
    std::string before, after;
    for (int i = 0; i < 30000; ++i) before += "Plain TEXT, Line " + std::to_string(i) + std::string(1, '\0') + "\n";
    for (int i = 0; i < 30000; ++i) after += "MORE Text " + std::to_string(i) + "\n";
    ASSERT_GE(before.size() + page.size() + after.size(), std::size_t(1024 * 1024));
    const auto blanked = [](std::string text) {
        for (char& c : text)
            if (c == '\0') c = ' ';
        return text;
    };

    FakeEngine small;
    auto parent = DocumentRecord("http://host/dir/page.htm");
    const AnalysisRun expected = AnalyseText(small, *parent, page);
    FakeEngine large;
    const AnalysisRun run = AnalyseText(large, *parent, before + page + after);
    EXPECT_EQ(run.urls, expected.urls);
    EXPECT_EQ(run.output, blanked(before) + expected.output + after);
    // The parts that carry the case through.
    EXPECT_THAT(expected.urls, ::testing::Contains("http://host/Img/Logo.GIF"));
    EXPECT_THAT(expected.urls, ::testing::Contains("http://host/dir/Img/A.png"));
    EXPECT_NE(expected.output.find("../../Other.ORG/Dir/Page.HTM#Top"), std::string::npos);
}

TEST(Translation, DocumentOnAnotherPortKeepsItsHostFolder) {
    FakeEngine e;
    auto parent = DocumentRecord("http://127.0.0.1:8080/docs/index.htm", 0);
    e.existing.insert("/root/127.0.0.1+8080/about.htm");
    EXPECT_EQ(Written(e, *parent, "<a href=\"/about.htm\">"), "<a href=\"../about.htm\">");
}

TEST(Translation, FolderLinksGetTheDefaultDocument) {
    FakeEngine e;
    e.settings.DefaultDoc = "index.html";
    auto parent = DocumentRecord("http://host/page.htm");
    EXPECT_EQ(Written(e, *parent, "<a href=\"sub/\"><a href=\"sub/#x\"><a href=\"#x\">"),
              "<a href=\"sub/index.html\"><a href=\"sub/index.html#x\"><a href=\"#x\">");
}

TEST(Translation, BaseTagLeavesTheTargetAndIsWrittenOnceWhenUnclosed) {
    FakeEngine e;
    auto parent = DocumentRecord("http://host/page.htm");
    EXPECT_EQ(Written(e, *parent, "a<base href=\"http://h2:81/d/\">b<a href=x.htm>"), "ab<a href=../h2+81/d/x.htm>");
    auto other = DocumentRecord("http://host/page.htm");
    std::string unclosed = "a<base href=\"http://h2/d/\" b c";
    EXPECT_EQ(Written(e, *other, unclosed), unclosed);
}

TEST(Translation, ScriptLinksAreRewrittenInPlace) {
    FakeEngine e;
    e.settings.EnableScript = true;
    auto parent = DocumentRecord("http://host/dir/page.htm");
    std::string html = "<script>window.open('/pop/up.htm'); x = \"<img src='pic.gif'>\";</script>";
    auto run = AnalyseText(e, *parent, html);
    EXPECT_THAT(run.urls, ElementsAre("http://host/pop/up.htm", "http://host/dir/pic.gif"));
    EXPECT_EQ(run.output, "<script>window.open('../pop/up.htm'); x = \"<img src='pic.gif'>\";</script>");
}

TEST(Translation, JavaClassIsStoredUnchanged) {
    FakeEngine e;
    auto parent = DocumentRecord("http://host/cls/A.class");
    parent->JavaClass = true;
    std::string bytes("\xCA\xFE\xBA\xBE\0\0\0\x2e\0\x01<a href=x.htm>\0\r\n", 28);
    auto run = AnalyseText(e, *parent, bytes);
    EXPECT_EQ(run.output, bytes);
    EXPECT_EQ(e.redirectStubs, 1);
}

}  // namespace
}  // namespace qm::test
