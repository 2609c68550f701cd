// What a page fetched over the network may make the scanner follow: its base address keeps to
// the page's own scheme, local files are never reached from it, and the credentials of its
// address go with links to its own server only.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "fake_engine.h"

using ::testing::ElementsAre;

namespace qm::test {
namespace {

TEST(UntrustedLinks, BaseOfAnotherSchemeIsIgnored) {
    FakeEngine engine;
    auto page = DocumentRecord("http://host/dir/page.htm");
    // A file: base would turn "hostname" into /etc/hostname; the link stays on the site.
    auto run =
        AnalyseText(engine, *page, "<base href=\"file:///etc/\"><img src=\"hostname\"><a href=\"FILE:/x\">x</a>");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/hostname"));

    FakeEngine other;
    page = DocumentRecord("http://host/dir/page.htm");
    run = AnalyseText(other, *page, "<BASE HREF=\"https://elsewhere/a/\"><a href=\"b.htm\">b</a>");
    EXPECT_THAT(run.urls, ElementsAre("http://host/dir/b.htm"));

    // A base of the page's own scheme still counts, in any letter case.
    FakeEngine same;
    page = DocumentRecord("http://host/dir/page.htm");
    run = AnalyseText(same, *page, "<base href=\"HTTP://mirror/x/\"><a href=\"b.htm\">b</a>");
    EXPECT_THAT(run.urls, ElementsAre("HTTP://mirror/x/b.htm"));
}

TEST(UntrustedLinks, AddressCredentialsStayWithTheirServer) {
    FakeEngine engine;
    auto page = DocumentRecord("http://host/dir/page.htm");
    page->URLPsw = "alice:secret";
    AnalyseText(engine, *page,
                "<a href=\"a.htm\">a</a><a href=\"http://other/b.htm\">b</a>"
                "<a href=\"http://host:81/c.htm\">c</a><a href=\"http://HOST:80/d.htm\">d</a>"
                "<a href=\"http://bob:pw@other/e.htm\">e</a>");
    ASSERT_NE(engine.Find("http://host/dir/a.htm"), nullptr);
    EXPECT_EQ(engine.Find("http://host/dir/a.htm")->URLPsw, "alice:secret");
    EXPECT_EQ(engine.Find("http://other/b.htm")->URLPsw, "");
    EXPECT_EQ(engine.Find("http://host:81/c.htm")->URLPsw, "");
    EXPECT_EQ(engine.Find("http://HOST/d.htm")->URLPsw, "alice:secret");
    // An address's own credentials are its own.
    EXPECT_EQ(engine.Find("http://other/e.htm")->URLPsw, "bob:pw");
}

}  // namespace
}  // namespace qm::test
