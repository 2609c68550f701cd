// The cookie jar's rules with Debian's public-suffix list, cookies.txt kept and read back, and
// import of a Firefox cookies.sqlite made with the sqlite3 program.
#include <gtest/gtest.h>

#include <string>

#include "net/cookie_file.h"
#include "net/cookie_jar.h"
#include "net/public_suffix.h"
#include "support/peers.h"

namespace qm {
namespace {

constexpr std::int64_t kNow = 1800000000;  // 2027-01-15

TEST(CookieJar, DomainRulesWithThePublicSuffixList) {
    // The real list from the publicsuffix package.
    EXPECT_TRUE(net::IsPublicSuffix("com"));
    EXPECT_TRUE(net::IsPublicSuffix("co.uk"));
    EXPECT_TRUE(net::IsPublicSuffix("github.io"));
    EXPECT_FALSE(net::IsPublicSuffix("example.co.uk"));
    EXPECT_FALSE(net::IsPublicSuffix("www.ck"));  // an exception to "*.ck"
    EXPECT_TRUE(net::IsPublicSuffix("anything.ck"));

    net::CookieJar jar;
    const std::string page = "http://www.example.co.uk/dir/page.html";
    EXPECT_TRUE(jar.SetFromHeader(page, "host=1", kNow));
    EXPECT_TRUE(jar.SetFromHeader(page, "wide=2; Domain=.example.co.uk", kNow));
    EXPECT_FALSE(jar.SetFromHeader(page, "suffix=3; Domain=co.uk", kNow));  // every site under co.uk
    EXPECT_FALSE(jar.SetFromHeader(page, "other=4; Domain=other.co.uk", kNow));
    EXPECT_FALSE(jar.SetFromHeader(page, "child=5; Domain=deeper.www.example.co.uk", kNow));
    EXPECT_FALSE(jar.SetFromHeader("http://alice.github.io/", "pages=6; Domain=github.io", kNow));
    EXPECT_EQ(jar.Cookies().size(), 2u);

    // Host-only cookies go to their host alone; domain cookies to its subdomains too.
    EXPECT_EQ(jar.HeaderFor("http://www.example.co.uk/dir/x", kNow), "host=1; wide=2");
    EXPECT_EQ(jar.HeaderFor("http://shop.example.co.uk/dir/x", kNow), "wide=2");
    EXPECT_EQ(jar.HeaderFor("http://example.co.uk/dir/", kNow), "wide=2");
    EXPECT_EQ(jar.HeaderFor("http://example.co.uk/", kNow), "");  // the page's directory is the path
    EXPECT_EQ(jar.HeaderFor("http://notexample.co.uk/", kNow), "");
    // Numeric hosts match exactly only.
    EXPECT_TRUE(jar.SetFromHeader("http://127.0.0.1:8080/", "ip=7", kNow));
    EXPECT_EQ(jar.HeaderFor("http://127.0.0.1:9/", kNow), "ip=7");
    EXPECT_FALSE(net::DomainMatches("1.127.0.0.1", "127.0.0.1"));
    EXPECT_TRUE(net::DomainMatches("a.b.example.org", "example.org"));
}

TEST(CookieJar, PathsSecureHttpOnlyAndExpiry) {
    net::CookieJar jar;
    const std::string page = "https://site.test/shop/cart/view";
    // Without a Path the cookie's path is the page's directory.
    ASSERT_TRUE(jar.SetFromHeader(page, "cart=a", kNow));
    ASSERT_TRUE(jar.SetFromHeader(page, "root=b; Path=/; HttpOnly", kNow));
    ASSERT_TRUE(jar.SetFromHeader(page, "token=c; Path=/shop; Secure", kNow));
    EXPECT_EQ(jar.HeaderFor("https://site.test/shop/cart/other", kNow), "cart=a; token=c; root=b");
    EXPECT_EQ(jar.HeaderFor("https://site.test/shopping", kNow), "root=b");  // "/shop" is no prefix of a segment
    EXPECT_EQ(jar.HeaderFor("http://site.test/shop/cart/x", kNow), "cart=a; root=b");  // Secure stays on https
    EXPECT_TRUE(jar.Cookies()[1].httpOnly);
    // A plain page neither sets a secure cookie nor overwrites one.
    EXPECT_FALSE(jar.SetFromHeader("http://site.test/", "plain=d; Secure", kNow));
    EXPECT_FALSE(jar.SetFromHeader("http://site.test/shop/", "token=evil", kNow));

    // Max-Age wins over Expires; an expired cookie removes the one it names.
    ASSERT_TRUE(jar.SetFromHeader(page, "short=e; Path=/; Max-Age=60; Expires=Wed, 09 Jun 2100 10:18:14 GMT", kNow));
    EXPECT_EQ(jar.Cookies().back().expires, kNow + 60);
    EXPECT_NE(jar.HeaderFor("https://site.test/", kNow + 59).find("short=e"), std::string::npos);
    EXPECT_EQ(jar.HeaderFor("https://site.test/", kNow + 61).find("short=e"), std::string::npos);
    ASSERT_TRUE(jar.SetFromHeader(page, "root=gone; Path=/; Expires=Thu, 01 Jan 1970 00:00:01 GMT", kNow));
    EXPECT_EQ(jar.HeaderFor("https://site.test/", kNow).find("root="), std::string::npos);
    ASSERT_TRUE(jar.SetFromHeader(page, "cart=x; Max-Age=0", kNow));
    EXPECT_EQ(jar.HeaderFor(page, kNow).find("cart="), std::string::npos);

    // Cookie dates in their old forms.
    EXPECT_EQ(net::ParseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
    EXPECT_EQ(net::ParseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(net::ParseCookieDate("Sun Nov  6 08:49:37 1994"), 784111777);
    EXPECT_EQ(net::ParseCookieDate("yesterday"), -1);

    // A whole answer's header: each Set-Cookie line, no other.
    net::CookieJar fresh;
    EXPECT_EQ(fresh.SetFromResponse("http://h.test/",
                                    "HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\nX-Set-Cookie: b=2\r\n"
                                    "set-cookie: c=3; Path=/\r\n\r\n",
                                    kNow),
              2);
    EXPECT_EQ(fresh.HeaderFor("http://h.test/", kNow), "a=1; c=3");
}

TEST(CookieJar, BoundsKeepTheJarSmall) {
    net::CookieJar jar;
    for (int i = 0; i < 200; ++i) jar.SetFromHeader("http://one.test/", "n" + std::to_string(i) + "=v", kNow);
    EXPECT_EQ(jar.Cookies().size(), net::CookieJar::kMaxPerDomain);
    EXPECT_EQ(jar.Cookies().front().name, "n140");  // the oldest gave way
    EXPECT_FALSE(jar.SetFromHeader("http://one.test/", "big=" + std::string(5000, 'x'), kNow));
    EXPECT_FALSE(jar.SetFromHeader("http://one.test/", "=nameless", kNow));
    EXPECT_FALSE(jar.SetFromHeader("ftp://one.test/", "a=b", kNow));
}

TEST(CookieFiles, CookiesTxtRoundTripAndFirefoxImport) {
    net::CookieJar jar;
    jar.SetFromHeader("https://www.site.test/a/", "sid=123; Path=/; Secure; HttpOnly; Max-Age=3600", kNow);
    jar.SetFromHeader("http://site.test/", "lang=de; Domain=site.test", kNow);
    const std::string text = net::CookiesText(jar);
    EXPECT_NE(text.find("#HttpOnly_www.site.test\tFALSE\t/\tTRUE\t" + std::to_string(kNow + 3600) + "\tsid\t123\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n.site.test\tTRUE\t/\tFALSE\t0\tlang\tde\n"), std::string::npos) << text;
    net::CookieJar back;
    EXPECT_EQ(net::ReadCookiesText(text + "damaged line\n\t\t\n#comment\n", back), 2);
    EXPECT_EQ(back.HeaderFor("https://www.site.test/", kNow), "sid=123; lang=de");
    EXPECT_EQ(back.HeaderFor("http://sub.site.test/", kNow), "lang=de");

    // A cookies.txt as browsers' export tools write it.
    const std::string dir = test::MakeTempDir("cookiefiles");
    ASSERT_TRUE(test::WriteFile(dir + "/cookies.txt",
                                "# Netscape HTTP Cookie File\r\n"
                                ".example.org\tTRUE\t/\tFALSE\t2147483647\tuid\tu1\r\n"
                                "#HttpOnly_shop.example.org\tFALSE\t/cart\tTRUE\t0\tcart\tc9\r\n"));
    net::CookieJar imported;
    std::string error;
    EXPECT_EQ(net::ImportCookieFile(dir + "/cookies.txt", imported, error), 2) << error;
    EXPECT_EQ(imported.HeaderFor("https://shop.example.org/cart/1", kNow), "cart=c9; uid=u1");

    // Firefox's cookies.sqlite, made by sqlite3 with Firefox's table.
    const std::string db = dir + "/cookies.sqlite";
    test::RunResult made = test::RunProgram(
        {"sqlite3", db,
         "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '', name TEXT, "
         "value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER, isSecure "
         "INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT 0);"
         "INSERT INTO moz_cookies (name, value, host, path, expiry, isSecure, isHttpOnly) VALUES "
         "('session', 's1', '.firefox.test', '/', 2147483647, 0, 1), "
         "('pref', 'p2', 'www.firefox.test', '/app', 2147483647000, 1, 0);"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    net::CookieJar fox;
    EXPECT_EQ(net::ImportCookieFile(db, fox, error), 2) << error;
    EXPECT_EQ(fox.HeaderFor("https://www.firefox.test/app/x", kNow), "pref=p2; session=s1");
    EXPECT_EQ(fox.HeaderFor("http://other.firefox.test/", kNow), "session=s1");
    EXPECT_EQ(fox.Cookies()[1].expires, 2147483647);  // milliseconds read as seconds

    // Neither a missing file nor another database is a jar.
    EXPECT_EQ(net::ImportCookieFile(dir + "/none.txt", fox, error), -1);
    ASSERT_EQ(test::RunProgram({"sqlite3", dir + "/other.sqlite", "CREATE TABLE t (x);"}).exitCode, 0);
    EXPECT_EQ(net::ImportCookieFile(dir + "/other.sqlite", fox, error), -1);
    EXPECT_NE(error.find("Firefox"), std::string::npos) << error;
}

}  // namespace
}  // namespace qm
