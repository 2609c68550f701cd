// quillmoor-cli list, add and options against a program folder of their own.
#include <gtest/gtest.h>

#include "support/peers.h"

namespace qm {
namespace {

TEST(CliStore, AddThenListShowsFoldersAndProjects) {
    std::string home = test::MakeTempDir("cli");
    auto r = test::RunCli({"--home", home, "add", "Sites", "example.test\\docs", "--level", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "1\n");
    r = test::RunCli({"--home", home, "add", "sites", "http://b.test/", "--caption", "B site"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "2\n");
    r = test::RunCli({"--home", home, "list"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Default\nSites\n  1\thttp://example.test/docs\thttp://example.test/docs\n  2\tB site\thttp://b.test/\n");
    const std::string store = test::ReadFile(home + "/Orrinal.dat");
    EXPECT_NE(
        store.find("IID=1\r\nCaption=http://example.test/docs\r\nURL=http://example.test/docs\r\nImg=Yes\r\nLev=3\r\n"),
        std::string::npos);
    EXPECT_NE(store.find("IID=2\r\nCaption=B site\r\nURL=http://b.test/\r\nImg=Yes\r\nLev=1\r\n"), std::string::npos);
}

TEST(CliStore, AddTakesTheDefaultsProject) {
    std::string home = test::MakeTempDir("clidef");
    ASSERT_EQ(test::RunCli({"--home", home, "list"}).exitCode, 0);
    std::string reg = test::ReadFile(home + "/registry.reg");
    const std::string from = "\"Lev\"=dword:00000001";
    ASSERT_NE(reg.find(from), std::string::npos);
    reg.replace(reg.find(from), from.size(), "\"Lev\"=\"4\"");  // text level: read through its fallback
    test::WriteFile(home + "/registry.reg", reg);
    auto r = test::RunCli({"--home", home, "add", "F", "h.test"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(test::ReadFile(home + "/Orrinal.dat").find("Lev=4\r\n"), std::string::npos);
}

TEST(CliStore, UsageErrors) {
    std::string home = test::MakeTempDir("cliuse");
    EXPECT_EQ(test::RunCli({"--home", home, "add", "OnlyFolder"}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"--home", home, "add", "F", "u", "--level", "x"}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"--home", home, "add", "F", "u", "--bogus"}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"--home", home, "list", "extra"}).exitCode, 2);
    auto r = test::RunCli({"--home", home, "options", "HTTPPort=12", "Nope=1"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage: quillmoor-cli [--home DIR] options"), std::string::npos);
    EXPECT_EQ(test::RunCli({"--home", home, "options", "HTTPPort=twelve"}).exitCode, 2);
    EXPECT_EQ(test::RunCli({"--home", home, "options", "SysTray=5"}).exitCode, 2);
    // Nothing was changed by the refused commands.
    r = test::RunCli({"--home", home, "options"});
    EXPECT_NE(r.out.find("HTTPPort=800\n"), std::string::npos);
    EXPECT_EQ(test::ReadFile(home + "/Orrinal.dat"), "");
}

TEST(CliStore, OptionsPrintAndSetWithRepairs) {
    std::string home = test::MakeTempDir("cliopt");
    auto r = test::RunCli({"--home", home, "options"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> names;
    for (std::size_t at = 0; at < r.out.size();) {
        std::size_t nl = r.out.find('\n', at);
        names.push_back(r.out.substr(at, r.out.find('=', at) - at));
        at = nl + 1;
    }
    EXPECT_EQ(names.size(), 39u);
    EXPECT_EQ(names.front(), "PathPrefix");
    EXPECT_EQ(names[12], "HTTPUser");
    EXPECT_EQ(names[33], "DDs");
    // Options added later are saved after the original ones, with defaults that keep stored
    // data as it was.
    EXPECT_EQ(names[34], "FtpPassive");
    EXPECT_EQ(names[35], "SSLAnyCert");
    EXPECT_EQ(names[36], "ExtLast");
    EXPECT_EQ(names[37], "KeepAlive");
    EXPECT_EQ(names.back(), "BookmarksFile");
    EXPECT_NE(r.out.find("FtpPassive=0\n"), std::string::npos);
    EXPECT_NE(r.out.find("KeepAlive=1\n"), std::string::npos);
    r = test::RunCli({"--home", home, "options", "Priority=9", "HTTPPass=ab", "LogLimit=0", "UseProxy=1",
                      "DefaultDoc=" + std::string(40, 'd'), "httpport=8123", "ftppassive=yes"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = test::RunCli({"--home", home, "options"});
    EXPECT_NE(r.out.find("Priority=2\n"), std::string::npos);
    EXPECT_NE(r.out.find("HTTPPass=ab\n"), std::string::npos);
    EXPECT_NE(r.out.find("LogLimit=5000\n"), std::string::npos);
    EXPECT_NE(r.out.find("ProxyType=1\n"), std::string::npos);
    EXPECT_NE(r.out.find("DefaultDoc=" + std::string(30, 'd') + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("HTTPPort=8123\n"), std::string::npos);
    EXPECT_NE(r.out.find("FtpPassive=1\n"), std::string::npos);
    const std::string reg = test::ReadFile(home + "/registry.reg");
    EXPECT_NE(reg.find("\"HTTPPass\"=\"\\x01BGCG\""), std::string::npos);
}

}  // namespace
}  // namespace qm
