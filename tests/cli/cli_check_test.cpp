// quillmoor-cli check on a site mirrored from nginx: one link without a stored file for each
// reason the program can give, the record of failed addresses it reads, and the exit codes.
#include <gtest/gtest.h>

#include "support/cli_home.h"
#include "support/peers.h"

namespace qm::test {
namespace {

// The lines under a heading of check's report, up to the next heading.
std::vector<std::string> Group(const std::string& report, const std::string& heading) {
    std::vector<std::string> lines;
    std::size_t at = report.find(heading + ":\n");
    if (at == std::string::npos) return lines;
    at += heading.size() + 2;
    for (std::size_t nl; at < report.size() && report[at] == ' ' && (nl = report.find('\n', at)) != std::string::npos;
         at = nl + 1)
        lines.push_back(report.substr(at, nl - at));
    return lines;
}

class CliCheckTest : public CliHomeTest {
protected:
    void SetUp() override {
        // One connection: files arrive in the order their links were found.
        ASSERT_NO_FATAL_FAILURE(MakeHome("clicheck", {"HTTPCount=1"}));
        site_ = Site("site");
        ASSERT_TRUE(WriteFile(site_ + "/index.html",
                              "<html><head><link rel=\"stylesheet\" href=\"css/look.css\"></head><body>\n"
                              "<a href=\"page.html\">page</a>\n"
                              "<a href=\"missing.html\">missing</a>\n"
                              "<a href=\"http://127.0.0.9:1/other.html\">another server</a>\n"
                              "<script>var pic = 'pics/photo.png';</script>\n"
                              "<a href=\"later.html\">later</a>\n"
                              "<a href=\"mailto:me@example.com\">mail</a>\n"
                              "</body></html>\n"));
        ASSERT_TRUE(WriteFile(site_ + "/page.html",
                              "<html><a href=\"deep.html\">deep</a><a href=\"index.html\">home</a>"
                              "<a href=\"missing.html\">again</a></html>"));
        ASSERT_TRUE(WriteFile(site_ + "/deep.html", "<html>deep</html>"));
        ASSERT_TRUE(WriteFile(site_ + "/later.html", "<html>later</html>"));
        ASSERT_TRUE(WriteFile(site_ + "/css/look.css", "body { background: url(../img/gone.png); }"));
        nginx_ = std::make_unique<NginxPeer>(site_);
        ASSERT_TRUE(nginx_->Ok()) << nginx_->Error();
    }
    std::string Url(const std::string& path) const { return nginx_->Url(path); }
    std::string site_;
    std::unique_ptr<NginxPeer> nginx_;
};

TEST_F(CliCheckTest, EveryBrokenLinkIsListedUnderItsReason) {
    ASSERT_EQ(Cli({"add", "Sites", Url("/index.html"), "--level", "1"}).exitCode, 0);
    // Five files at the most: the run ends before the style sheet's picture.
    RunResult r = Cli({"project", "Sites/0", "LimBNumber=True", "LimNumber=5", "EnableScript=True"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"start", "Sites/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    r = Cli({"check", "Sites/0"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string& out = r.out;
    using V = std::vector<std::string>;
    EXPECT_EQ(Group(out, "refused by the rule 'starting server'"),
              V{"  http://127.0.0.9:1/other.html\ton " + Url("/index.html")})
        << out;
    EXPECT_EQ(Group(out, "failed with status 404"),
              V{"  " + Url("/missing.html") + "\ton " + Url("/index.html") + " (linked 2 times)"})
        << out;
    EXPECT_EQ(Group(out, "beyond the level"), V{"  " + Url("/deep.html") + "\ton " + Url("/page.html")}) << out;
    EXPECT_EQ(Group(out, "never reached: the run was stopped or reached a limit"),
              V{"  " + Url("/img/gone.png") + "\ton " + Url("/css/look.css")})
        << out;
    EXPECT_EQ(Group(out, "a name built by a script at run time"),
              V{"  " + Url("/pics/photo.png") + "\ton " + Url("/index.html")})
        << out;
    // Mail addresses hold no file; the totals come last.
    EXPECT_EQ(out.find("mailto"), std::string::npos) << out;
    const std::string totals = "broken=5 refused=1 failed=1 beyond-level=1 not-reached=1 script=1\n";
    ASSERT_GE(out.size(), totals.size());
    EXPECT_EQ(out.substr(out.size() - totals.size()), totals) << out;
    EXPECT_NE(out.find("pages=4 "), std::string::npos) << out;

    // Once the missing files are there and the Project may take everything, only the rule's
    // refusal is left.
    ASSERT_TRUE(WriteFile(site_ + "/missing.html", "<html>found</html>"));
    ASSERT_TRUE(WriteFile(site_ + "/img/gone.png", "png"));
    ASSERT_TRUE(WriteFile(site_ + "/pics/photo.png", "png"));
    r = Cli({"project", "Sites/0", "LimBNumber=False", "Lev=2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"start", "Sites/0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"check", "Sites/0"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("broken=1 refused=1 failed=0 beyond-level=0 not-reached=0 script=0\n"), std::string::npos)
        << r.out;

    // A site without broken links.
    ASSERT_TRUE(WriteFile(site_ + "/clean.html", "<a href=deep.html>d</a><img src=\"pics/photo.png\">"));
    ASSERT_EQ(Cli({"add", "Clean", Url("/clean.html"), "--level", "1"}).exitCode, 0);
    ASSERT_EQ(Cli({"start", "Clean/0"}).exitCode, 0);
    r = Cli({"check", "Clean/0"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("broken=0 "), std::string::npos) << r.out;
}

TEST_F(CliCheckTest, WordsAndProjectsThatCannotBeChecked) {
    EXPECT_EQ(Cli({"check"}).exitCode, 2);
    EXPECT_EQ(Cli({"check", "Sites/0", "extra"}).exitCode, 2);
    EXPECT_EQ(Cli({"check", "--deep"}).exitCode, 2);
    RunResult r = Cli({"check", "NoSuchFolder/0"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("NoSuchFolder"), std::string::npos) << r.err;

    // A Project never started: its start page is the one missing file, never reached.
    ASSERT_EQ(Cli({"add", "Sites", Url("/index.html")}).exitCode, 0);
    r = Cli({"check", "Sites/0"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Group(r.out, "never reached: the run was stopped or reached a limit"),
              std::vector<std::string>{"  " + Url("/index.html")})
        << r.out;

    // A start address the server does not have: its failure is recorded and named.
    ASSERT_EQ(Cli({"add", "Gone", Url("/nothing.html")}).exitCode, 0);
    ASSERT_EQ(Cli({"start", "Gone/0"}).exitCode, 0);
    r = Cli({"check", "Gone/0"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Group(r.out, "failed with status 404"), std::vector<std::string>{"  " + Url("/nothing.html")}) << r.out;
}

}  // namespace
}  // namespace qm::test
