// robots.txt read as RFC 9309 says, the log-in form's body, the pace between requests, and
// the robots tag of a page.
#include <gtest/gtest.h>

#include "analysis/robots_meta.h"
#include "engine/admission.h"
#include "engine/robots_txt.h"
#include "engine/server_manners.h"
#include "store/project.h"

namespace qm {
namespace {

using engine::RobotsRules;

TEST(RobotsTxt, GroupsLongestMatchWildcardsAndEnds) {
    const char* text =
        "\xEF\xBB\xBFUser-agent: *\n"
        "Disallow: /private/\n"
        "Allow: /private/open\n"
        "Disallow: /*.pdf$\n"
        "Crawl-delay: 2\n"
        "\n"
        "Sitemap: http://h.test/sitemap.xml  # comment\n"
        "User-agent: OtherBot\r\n"
        "Disallow: /\r\n";
    RobotsRules star = RobotsRules::Parse(text, "Quillmoor/1.0 (X11)");
    EXPECT_TRUE(star.Allows("/index.html"));
    EXPECT_FALSE(star.Allows("/private/secret.html"));
    EXPECT_TRUE(star.Allows("/private/open/page.html"));  // the longer Allow wins
    EXPECT_FALSE(star.Allows("/docs/a.pdf"));
    EXPECT_TRUE(star.Allows("/docs/a.pdf?download=1"));  // "$" ends the address
    EXPECT_TRUE(star.Allows("/robots.txt"));
    EXPECT_EQ(star.RefusingRule("/private/x"), "Disallow: /private/");
    EXPECT_EQ(star.RefusingRule("/ok"), "");
    EXPECT_DOUBLE_EQ(star.CrawlDelaySeconds(), 2);
    ASSERT_EQ(star.Sitemaps().size(), 1u);
    EXPECT_EQ(star.Sitemaps()[0], "http://h.test/sitemap.xml");

    // Our own group replaces "*", whatever the case; groups of one agent are joined, and
    // several user-agent lines open one group.
    const char* ours =
        "User-agent: *\nDisallow: /\n\n"
        "User-agent: quillmoor\nUser-agent: SomeBot\nDisallow: /a\n\n"
        "User-agent: other\nDisallow: /b\n\n"
        "User-agent: QUILLMOOR\nDisallow: /c\nAllow: /c/ok\nDisallow: /c/ok\n";
    RobotsRules mine = RobotsRules::Parse(ours, "Quillmoor/1.0");
    EXPECT_TRUE(mine.Allows("/"));
    EXPECT_FALSE(mine.Allows("/a/1"));
    EXPECT_TRUE(mine.Allows("/b/1"));
    EXPECT_FALSE(mine.Allows("/c/1"));
    EXPECT_TRUE(mine.Allows("/c/ok"));  // Allow and Disallow of one length: Allow
    EXPECT_FALSE(RobotsRules::Parse(ours, "Grabber/2").Allows("/x"));

    // Nothing said, an empty Disallow, or a missing file: everything may be fetched; a
    // server error: nothing.
    EXPECT_TRUE(RobotsRules::Parse("User-agent: *\nDisallow:\n", "Q").Allows("/any"));
    EXPECT_TRUE(RobotsRules::Parse("garbage without colons\n\x01\x02", "Q").Allows("/any"));
    EXPECT_TRUE(RobotsRules().Allows("/any"));
    EXPECT_FALSE(RobotsRules::DisallowAll().Allows("/any"));
    EXPECT_TRUE(RobotsRules::DisallowAll().Allows("/robots.txt"));
}

TEST(RobotsTxt, PatternsStayWithinBounds) {
    EXPECT_TRUE(engine::RobotsPatternMatches("/a*b*c", "/axxbyyc/rest"));
    EXPECT_FALSE(engine::RobotsPatternMatches("/a*b*c$", "/axxbyycz"));
    EXPECT_TRUE(engine::RobotsPatternMatches("*", ""));
    EXPECT_TRUE(engine::RobotsPatternMatches("/*$", "/x"));
    EXPECT_FALSE(engine::RobotsPatternMatches("/x", "/"));
    // Many stars against a long path that fails at its very end ends at once.
    const std::string stars = "/" + std::string(2000, '*') + "z";
    EXPECT_FALSE(engine::RobotsPatternMatches(stars, "/" + std::string(100000, 'a')));
    // A file far beyond the bound is read up to it.
    std::string big = "User-agent: *\n";
    while (big.size() < 2 * RobotsRules::kMaxBytes) big += "Disallow: /p" + std::to_string(big.size()) + "\n";
    big += "Disallow: /late\n";
    EXPECT_TRUE(RobotsRules::Parse(big, "Q").Allows("/late"));
    EXPECT_FALSE(RobotsRules::Parse(big, "Q").Allows("/p14"));
}

TEST(CrawlManners, FormBodyPaceAndLogOutWords) {
    EXPECT_EQ(engine::ServerManners::FormBody("user=alice\r\npass word=s&cret=1\r\n\r\nflag"),
              "user=alice&pass+word=s%26cret%3D1&flag=");
    EXPECT_EQ(engine::ServerManners::OriginOf("HTTP://User:pw@Host.Test:8080/a?b"), "http://host.test:8080");
    EXPECT_EQ(engine::ServerManners::OriginOf("ftp://host/"), "");
    EXPECT_EQ(engine::ServerManners::PathOf("http://h/a/b?q=1#frag"), "/a/b?q=1");
    EXPECT_EQ(engine::ServerManners::PathOf("http://h?q"), "/?q");

    store::Project p;
    EXPECT_EQ(engine::ServerManners::IntervalMs(p, nullptr), 0);
    p.PerSecond = 3;
    EXPECT_EQ(engine::ServerManners::IntervalMs(p, nullptr), 334);
    const RobotsRules slow = RobotsRules::Parse("User-agent: *\nCrawl-delay: 1.5\n", "Q");
    EXPECT_EQ(engine::ServerManners::IntervalMs(p, &slow), 334);  // robots.txt not obeyed
    p.Robots = true;
    EXPECT_EQ(engine::ServerManners::IntervalMs(p, &slow), 1500);
    const RobotsRules silly = RobotsRules::Parse("User-agent: *\nCrawl-delay: 86400\n", "Q");
    EXPECT_EQ(engine::ServerManners::IntervalMs(p, &silly), 60000);

    EXPECT_TRUE(engine::IsLogOutAddress("/account/logout"));
    EXPECT_TRUE(engine::IsLogOutAddress("/user/sign-out.php"));
    EXPECT_TRUE(engine::IsLogOutAddress("/index.php?action=signout"));
    EXPECT_FALSE(engine::IsLogOutAddress("/blog/logos.html"));
}

TEST(RobotsMeta, NoFollowInThePagesOwnTag) {
    using analysis::RobotsMetaSaysNoFollow;
    EXPECT_TRUE(RobotsMetaSaysNoFollow("<head><meta name=\"robots\" content=\"noindex, nofollow\"></head>"));
    EXPECT_TRUE(RobotsMetaSaysNoFollow("<meta content='none' name='robots'/>"));
    EXPECT_TRUE(RobotsMetaSaysNoFollow("<meta\nname=robots content=nofollow>"));
    EXPECT_FALSE(RobotsMetaSaysNoFollow("<meta name=\"robots\" content=\"noindex\">"));
    EXPECT_FALSE(RobotsMetaSaysNoFollow("<meta name=\"description\" content=\"nofollow\">"));
    EXPECT_FALSE(RobotsMetaSaysNoFollow("<metadata name=robots content=nofollow>"));
    EXPECT_FALSE(RobotsMetaSaysNoFollow("<meta name=\"robots\" content=\"nofollowers\">"));
    EXPECT_FALSE(RobotsMetaSaysNoFollow("<meta name=\"robots"));  // cut short
}

}  // namespace
}  // namespace qm
