// https addresses in the address rules, names that keep their extension last, and the schemes
// a typed start address may have.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/address_scheme.h"
#include "addresses/address_rules.h"
#include "engine/admission.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"

namespace qm {
namespace {

class SecureAddressTest : public ::testing::Test {
protected:
    void SetUp() override {
        store::Options().Reset();
        store::Options().DefaultDoc = "default.htm";
        folder.Dir = "/srv/sites/";
        project = std::make_unique<store::Project>();
        project->Folder = &folder;
        project->URL = "http://host/";
        for (auto& c : project->Categories) c = store::FileCategory{};
    }
    void TearDown() override { store::Options().Reset(); }
    std::unique_ptr<engine::DownloadRecord> Normalised(const std::string& url) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = project.get();
        rec->URL = url;
        if (!engine::Normalise(*rec)) return nullptr;
        return rec;
    }
    store::ProjectFolder folder;
    std::unique_ptr<store::Project> project;
};

TEST_F(SecureAddressTest, HttpsIsCleanedLikeHttpAndSharesItsHostFolder) {
    auto a = Normalised("HTTPS://user:pw@Host:443/a/./b/../c.html?q=1#top");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->URL, "HTTPS://Host/a/c.html?q=1");
    EXPECT_EQ(a->URLPsw, "user:pw");
    auto plain = Normalised("http://Host/a/c.html?q=1");
    ASSERT_TRUE(plain);
    EXPECT_EQ(a->FName, plain->FName);  // one stored copy for both schemes
    EXPECT_EQ(a->FName, "/srv/sites/Host/a/c.html@q=1");
    EXPECT_EQ(a->Depth, plain->Depth);
    // Another port is kept, 80 is not the default of https, and a bare host gets its "/".
    EXPECT_EQ(Normalised("https://host:8443/x")->FName, "/srv/sites/host+8443/x");
    EXPECT_EQ(Normalised("https://host:80/")->URL, "https://host:80/");
    EXPECT_EQ(Normalised("https://host")->FName, "/srv/sites/host/default.htm");
    // The starting-server rule compares servers, not schemes.
    project->RSrvsBx = 1;
    EXPECT_TRUE(Normalised("https://host/z.html"));
    EXPECT_FALSE(Normalised("https://other/z.html"));
    EXPECT_FALSE(Normalised("ftps://host/"));
}

TEST_F(SecureAddressTest, RedirectsKeepOrChangeTheScheme) {
    EXPECT_EQ(engine::ResolveLocation("https://h/x", "http://h/a/b"), "https://h/x");
    EXPECT_EQ(engine::ResolveLocation("/x", "https://h:8443/a/b"), "https://h:8443/x");
    EXPECT_EQ(engine::ResolveLocation("c", "https://h/a/b?q=/z"), "https://h/a/c");
    EXPECT_EQ(engine::ResolveLocation("//cdn/p", "https://h/a"), "https://cdn/p");
    EXPECT_EQ(engine::ResolveLocation("//cdn/p", "http://h/a"), "http://cdn/p");
}

TEST_F(SecureAddressTest, ExtensionLastOnlyWithTheOption) {
    std::string s = "h/_static/pydoctheme.css?2022.1#x";
    addresses::MoveExtensionLast(s);
    EXPECT_EQ(s, "h/_static/pydoctheme?2022.1.css#x");
    for (std::string same : {"h/a.css", "h/dir.d/?q=1", "h/a.tar-gz?x", "h/noext?x=1.5", "h/a.verylongextension?x"}) {
        std::string before = same;
        addresses::MoveExtensionLast(same);
        EXPECT_EQ(same, before);
    }
    EXPECT_EQ(Normalised("http://h/s/t.css?v=2")->FName, "/srv/sites/h/s/t.css@v=2");
    store::Options().ExtLast = true;
    auto moved = Normalised("https://h/s/t.css?v=2");
    EXPECT_EQ(moved->FName, "/srv/sites/h/s/t@v=2.css");
    EXPECT_EQ(moved->URL, "https://h/s/t.css?v=2");  // the address itself is unchanged
}

// A bracketed IPv6 host is fetched like any other and stored under a folder name without
// brackets or colons ("ipv6_" cannot begin a host name, so no host's folder clashes with it).
TEST_F(SecureAddressTest, Ipv6HostsAreAdmittedAndStoredUnderTheirOwnFolder) {
    for (const char* v6 : {"http://[::1]:1/", "https://user:pw@[fe80::1]/x", "[::1]/x", " ftp://[::1]/"})
        EXPECT_TRUE(app::NamesIpv6Host(v6)) << v6;
    for (const char* v4 :
         {"http://host/[x]", "http://127.0.0.1:8080/", "file:///tmp/[x]", "http://u@host/a@[b]", "example.com", ""})
        EXPECT_FALSE(app::NamesIpv6Host(v4)) << v4;
    auto local = Normalised("http://[::1]:8080/a/index.html");
    ASSERT_TRUE(local);
    EXPECT_EQ(local->FName, "/srv/sites/ipv6_--1+8080/a/index.html");
    EXPECT_EQ(local->Depth, 2);
    auto plain = Normalised("https://user:pw@[2001:DB8::A]/x?y=1");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->FName, "/srv/sites/ipv6_2001-db8--a/x@y=1");
    EXPECT_EQ(Normalised("http://[fe80::1%25eth0]:80/")->FName, "/srv/sites/ipv6_fe80--1/default.htm");
    EXPECT_TRUE(Normalised("http://host/[x].html"));
    std::string unclosed = "[::1/x";
    addresses::StoredIpv6Host(unclosed);
    EXPECT_EQ(unclosed, "[::1/x") << "no closing bracket before the path: not a literal";
}

TEST(StartAddressSchemes, UnknownSchemesAreNamedOthersPass) {
    EXPECT_EQ(app::UnsupportedScheme("gopher://host/"), "gopher");
    EXPECT_EQ(app::UnsupportedScheme("  MailTo:someone@host"), "mailto");
    EXPECT_EQ(app::UnsupportedScheme("ftps://host/x"), "ftps");
    for (const char* ok : {"http://h/", "HTTPS://h/", "ftp://h/d/", "file:///tmp/x", "example.com\\docs", "host:8080/x",
                           "c:\\web\\index.htm", "localhost", "", "www.x.org:"})
        EXPECT_EQ(app::UnsupportedScheme(ok), "") << ok;
}

}  // namespace
}  // namespace qm
