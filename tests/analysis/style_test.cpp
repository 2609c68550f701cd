// Style sheets and today's embedded-resource tags: what is followed and how the stored copy
// is rewritten.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "fake_engine.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace qm::test {
namespace {

struct Sheet {
    FakeEngine engine;
    std::unique_ptr<engine::DownloadRecord> parent;
    explicit Sheet(const std::string& url, const std::string& type = "text/css", int lev = 0) {
        parent = DocumentRecord(url, lev);
        parent->ContentType = type;
    }
    AnalysisRun Run(const std::string& text) { return AnalyseText(engine, *parent, text); }
};

TEST(StyleSheets, StoredSheetLinksAreEmbeddedAndRewritten) {
    // A sheet at the deepest level still brings its imports, pictures and fonts.
    Sheet s("http://host/_static/pydoctheme.css?2022.1");
    auto run = s.Run(
        "@import url(\"default.css\");\n@import 'sub/basic.css';\n"
        "body{background:url(../img/bg.png)}\n"
        "@font-face{src:url(/fonts/f.woff2?v=3) format('woff2'),url(http://cdn.org/f.woff)}\n"
        "/* url(no.png) */ i{b:url(data:image/gif;base64,R0lG)}\n");
    EXPECT_THAT(run.urls,
                ElementsAre("http://host/_static/default.css", "http://host/_static/sub/basic.css",
                            "http://host/img/bg.png", "http://host/fonts/f.woff2?v=3", "http://cdn.org/f.woff"));
    for (const auto& r : s.engine.found) {
        EXPECT_TRUE(r->IsImage) << r->URL;
        EXPECT_EQ(r->Lev, 0) << r->URL;  // no level used up
    }
    EXPECT_EQ(run.output,
              "@import url(\"default.css\");\n@import 'sub/basic.css';\n"
              "body{background:url(../img/bg.png)}\n"
              "@font-face{src:url(../fonts/f.woff2@v=3) format('woff2'),url(../../cdn.org/f.woff)}\n"
              "/* url(no.png) */ i{b:url(data:image/gif;base64,R0lG)}\n");
}

TEST(StyleSheets, TypeOrNameDecidesWhatIsASheet) {
    // Without a type, the name decides; with another type, the sheet is read as HTML.
    Sheet untyped("http://host/a/Site.CSS?x", "");
    EXPECT_THAT(untyped.Run("b{c:url(p.png)}").urls, ElementsAre("http://host/a/p.png"));
    Sheet html("http://host/a/page.htm", "text/html");
    EXPECT_THAT(html.Run("b{c:url(p.png)}").urls, IsEmpty());
    Sheet plain("http://host/a/x.css", "text/plain");
    EXPECT_THAT(plain.Run("b{c:url(p.png)}").urls, IsEmpty());
}

TEST(StyleSheets, EscapedAddressIsFollowedAndWrittenPlain) {
    Sheet s("http://host/s.css");
    auto run = s.Run("a{b:url(\\69 mg/\\61.png)} c{d:url(x\\(1\\).png)}");
    EXPECT_THAT(run.urls, ElementsAre("http://host/img/a.png"));
    EXPECT_EQ(run.output, "a{b:url(img/a.png)} c{d:url(x\\(1\\).png)}");
}

TEST(StyleInPages, StyleBlocksAndStyleValues) {
    FakeEngine e;
    auto parent = DocumentRecord("http://host/dir/page.htm", 0);
    auto run = AnalyseText(e, *parent,
                           "<style media=\"screen\">@import \"t.css\"; p{background:url('/p.png?a=1')}</style>"
                           "<div style=\"background-image: url(&quot;d.jpg&quot;)\">x</div>"
                           "<p style='color:red'>url(no.png)</p>"
                           "<a href=\"x.htm\" style=\"background:url(a.gif)\">a</a>"
                           "<style>unclosed{b:url(u.png)}");
    // The hyperlink is refused at the deepest level; everything else is embedded.
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/t.css", "http://host/p.png?a=1", "http://host/dir/d.jpg",
                                      "http://host/dir/a.gif", "http://host/dir/u.png"));
    EXPECT_EQ(run.output,
              "<style media=\"screen\">@import \"t.css\"; p{background:url('../p.png@a=1')}</style>"
              "<div style=\"background-image: url(&quot;d.jpg&quot;)\">x</div>"
              "<p style='color:red'>url(no.png)</p>"
              "<a href=\"x.htm\" style=\"background:url(a.gif)\">a</a>"
              "<style>unclosed{b:url(u.png)}");
    // A style block inside a comment is not read.
    auto hidden = AnalyseText(e, *parent, "<!-- <style>a{b:url(h.png)}</style> -->");
    EXPECT_THAT(hidden.urls, IsEmpty());
}

TEST(TodaysTags, EmbeddedResourcesAreFollowedAndRewrittenInPlace) {
    FakeEngine e;
    auto parent = DocumentRecord("http://host/dir/page.htm", 0);
    auto run = AnalyseText(e, *parent,
                           "<object data=\"fig.svg\" type=\"image/svg+xml\"></object>"
                           "<img srcset=\"a-1x.png 1x, /a-2x.png?s=2 2x,data:image/png;base64,AA== 3x\" src=\"a.png\">"
                           "<picture><source srcset=\"w.webp\" type=\"image/webp\"><source src=\"v.mp4\"></picture>"
                           "<video src=\"m.mp4\" poster=\"m.jpg\"><track src=\"m.vtt\"></video><audio src=\"s.ogg\">"
                           "<link rel=\"shortcut icon\" href=\"fav.ico\"><link rel=preload href=\"f.woff2\" as=font>"
                           "<link rel=\"manifest\" href=\"m.json\"><link rel=\"apple-touch-icon\" href=\"t.png\">"
                           "<input type=\"IMAGE\" src=\"go.gif\" onclick=\"x()\"><input type=text src=\"no.gif\">"
                           "<embed src=\"e.swf\">");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/fig.svg", "http://host/dir/a-1x.png", "http://host/a-2x.png?s=2",
                                      "http://host/dir/a.png", "http://host/dir/w.webp", "http://host/dir/v.mp4",
                                      "http://host/dir/m.mp4", "http://host/dir/m.jpg", "http://host/dir/m.vtt",
                                      "http://host/dir/s.ogg", "http://host/dir/fav.ico", "http://host/dir/f.woff2",
                                      "http://host/dir/m.json", "http://host/dir/t.png", "http://host/dir/go.gif",
                                      "http://host/dir/e.swf"));
    for (const auto& r : e.found) EXPECT_TRUE(r->IsImage) << r->URL;
    EXPECT_NE(run.output.find("srcset=\"a-1x.png 1x, ../a-2x.png@s=2 2x,data:image/png;base64,AA== 3x\""),
              std::string::npos)
        << run.output;
    // The classic rows keep their own way: a style sheet link is a page link of no level.
    FakeEngine classic;
    auto p2 = DocumentRecord("http://host/dir/page.htm", 2);
    AnalyseText(classic, *p2, "<link rel=stylesheet href=\"s.css\"><img lowsrc=l.gif src=i.gif>");
    ASSERT_EQ(classic.found.size(), 3u);
    EXPECT_FALSE(classic.found[0]->IsImage);
    EXPECT_EQ(classic.found[0]->Lev, 2);
    EXPECT_EQ(classic.FoundURLs()[1], "http://host/dir/l.gif");
}

}  // namespace
}  // namespace qm::test
