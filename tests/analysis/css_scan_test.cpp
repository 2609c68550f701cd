// The style-sheet address finder on small sheets that pin the hard cases.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "analysis/css_scan.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace qm {
namespace {

std::vector<std::string> Values(std::string_view css, bool inAttribute = false) {
    std::vector<std::string> out;
    for (const analysis::StyleLink& l : analysis::ScanStyleSheet(css, inAttribute)) out.push_back(l.value);
    return out;
}

// The raw text each link occupies, so the rewriter replaces exactly the address.
std::vector<std::string> Spans(std::string_view css) {
    std::vector<std::string> out;
    for (const analysis::StyleLink& l : analysis::ScanStyleSheet(css))
        out.emplace_back(css.substr(l.start, l.end - l.start));
    return out;
}

TEST(StyleScan, UrlWithAndWithoutQuotesAndImportsInBothForms) {
    std::string css =
        "@import \"default.css\";\n@IMPORT url(basic.css) screen;\n@import 'classic.css';\n"
        "body { background: URL( 'bg.png' ) no-repeat; }\n"
        "h1 { background-image: url(  \"h1.gif\"  ); list-style: url(dot.png) }\n"
        "@font-face { src: url(f.woff2?v=1#iefix) format('woff2'), url(f.woff) }\n";
    EXPECT_THAT(Values(css), ElementsAre("default.css", "basic.css", "classic.css", "bg.png", "h1.gif", "dot.png",
                                         "f.woff2?v=1#iefix", "f.woff"));
    auto links = analysis::ScanStyleSheet(css);
    EXPECT_TRUE(links[0].import);
    EXPECT_TRUE(links[1].import);
    EXPECT_TRUE(links[2].import);
    EXPECT_FALSE(links[3].import);
    // Spans cover the address only: no quotes, no blanks, no parenthesis.
    EXPECT_THAT(Spans("a{b:url( 'x y.png' )} c{d:url(  z.png  )}"), ElementsAre("x y.png", "z.png"));
}

TEST(StyleScan, CommentsStringsAndLookalikesHideNothingAndInventNothing) {
    std::string css =
        "/* url(hidden.png) @import 'no.css'; */\n"
        "a { content: \"url(not-a-link.png)\"; font-family: 'url(x)'; }\n"
        "b { background: myurl(no.png) } c { x: url/**/(no2.png) }\n"
        "/* unclosed comment url(never.png)";
    EXPECT_THAT(Values(css), IsEmpty());
    // A comment between @import and its address does not stop it; a rule in between does.
    EXPECT_THAT(Values("@import /* c */ 'a.css'; @import; 'b.css'"), ElementsAre("a.css"));
    // A string broken by a line end is dropped, as browsers drop it.
    EXPECT_THAT(Values("@import 'broken\n.css; x{y:url(ok.png)}"), ElementsAre("ok.png"));
}

TEST(StyleScan, EscapesResolveAsBrowsersResolveThem) {
    auto links = analysis::ScanStyleSheet(
        "a{b:url(a\\(1\\).png)} c{d:url('\\66 ont.woff')} e{f:url(\"x\\\ny.png\")} "
        "g{h:url(\\26 \\41.png)}");
    ASSERT_EQ(links.size(), 4u);
    EXPECT_EQ(links[0].value, "a(1).png");
    EXPECT_TRUE(links[0].escaped);
    EXPECT_EQ(links[1].value, "font.woff");  // hex escape with its closing blank
    EXPECT_EQ(links[2].value, "xy.png");     // a line continued inside a string
    EXPECT_EQ(links[3].value, "&A.png");
    EXPECT_FALSE(analysis::ScanStyleSheet("a{b:url(plain.png)}")[0].escaped);
    // Out-of-range code points become U+FFFD rather than bytes of their own.
    auto bad = analysis::ScanStyleSheet("a{b:url(\\110000.png)}");
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].value, "\xEF\xBF\xBD.png");
}

TEST(StyleScan, DataFragmentsOtherSchemesAndMalformedUrlsAreNotAddresses) {
    EXPECT_THAT(Values("a{b:url(data:image/png;base64,iVBOR=)} c{d:url('DATA:font/woff;x')}"
                       "e{f:url(#clip)} g{h:url()} i{j:url('')} k{l:url(javascript:x)}"
                       "m{n:url(about:blank)}"),
                IsEmpty());
    EXPECT_THAT(Values("a{b:url(http://h/x.png)} c{d:url(HTTPS://h/y.png)} e{f:url(//cdn/z.png)}"),
                ElementsAre("http://h/x.png", "HTTPS://h/y.png", "//cdn/z.png"));
    // A blank inside an unquoted url(), or a quote in it, makes it invalid up to its ")".
    EXPECT_THAT(Values("a{b:url(x y.png)} c{d:url(q\"r.png)} e{f:url(ok.png)}"), ElementsAre("ok.png"));
    // The sheet ending inside url( still names the address.
    EXPECT_THAT(Values("a{b:url(last.png"), ElementsAre("last.png"));
}

TEST(StyleScan, ImageSetCandidatesAndStyleAttributeEntities) {
    EXPECT_THAT(Values("a{b:image-set(\"a.png\" 1x, url(b.png) 2x)} c{d:-webkit-image-set('c.png' 1x)}"
                       " e{content:'e.png'}"),
                ElementsAre("a.png", "b.png", "c.png"));
    // In a style="" value a quote may be written as an entity.
    EXPECT_THAT(Values("background-image: url(&quot;bg.jpg&quot;)", true), ElementsAre("bg.jpg"));
    EXPECT_THAT(Values("background: url(&#39;b.jpg&#39;)", true), ElementsAre("b.jpg"));
    // In a sheet, entities mean nothing: the browser asks for the name as written.
    EXPECT_THAT(Values("background: url(&quot;bg.jpg&quot;)", false), ElementsAre("&quot;bg.jpg&quot;"));
}

TEST(StyleScan, FetchableReferences) {
    for (const char* yes : {"a.png", "../x/y.css", "/top.png", "http://h/", " HTTPS://h/a ", "?q=1"})
        EXPECT_TRUE(analysis::IsFetchableReference(yes)) << yes;
    for (const char* no :
         {"", "   ", "#top", "data:x", "mailto:a@b", "javascript:void(0)", "blob:http://h/1", "tel:+1"})
        EXPECT_FALSE(analysis::IsFetchableReference(no)) << no;
}

}  // namespace
}  // namespace qm
