// Program options and the Defaults Project in the registry: key choice, load rules and
// repairs, save order, letter pairs, the proxy bypass entry.
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "store/defaults_project.h"
#include "store/options_store.h"

namespace qm {
namespace {

using platform::Hive;
using platform::Registry;
using platform::RegKey;

struct Loaded {
    store::ProgramOptions options;
    store::Project defaults;
    std::vector<std::string> warnings;
};

void Load(Registry& reg, Loaded& out) {
    out.options.Reset();
    out.options.UAgent = "Quillmoor/1.0";
    RegKey key = store::OpenOptionsKeyForLoad(reg);
    store::LoadOptions(out.options, key, out.defaults, &out.warnings);
}

TEST(Options, FirstStartFillsTheKeyAndDefaults) {
    Registry reg;
    Loaded l;
    Load(reg, l);
    RegKey key = reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, false);
    ASSERT_TRUE(key.Valid());
    std::vector<std::string> expected;
    for (const auto& n : store::OptionNames()) expected.push_back(n.name);
    // Load writes in its own order; every saved value is there.
    for (const auto& n : expected) EXPECT_TRUE(key.ValueExists(n)) << n;
    EXPECT_FALSE(key.ValueExists("URLPrefix"));
    std::string s;
    key.ReadString("PathPrefix", s);
    EXPECT_EQ(s, store::DefaultDownloadFolder());
    key.ReadString("HTTPUser", s);
    EXPECT_EQ(s, "\x01");
    key.ReadString("UAgent", s);
    EXPECT_EQ(s, "Quillmoor/1.0");
    key.ReadString("DDs", s);
    EXPECT_EQ(s, store::DefaultDownloadFolder() + "\r\n");
    std::int32_t n;
    key.ReadInt("TimeOut", n);
    EXPECT_EQ(n, 300000);
    RegKey d = key.OpenKey("Defaults", false);
    ASSERT_TRUE(d.Valid());
    // with "CrawlTraps", "WebArchive", "Robots", "PerSecond", "Sitemaps", "LoginURL", "LoginFields" and "RenderPages"
    // last
    EXPECT_EQ(d.ValueNames().size(), 57u);
    EXPECT_TRUE(d.ReadString("Img", s));
    EXPECT_EQ(s, "Yes");
    EXPECT_TRUE(d.ReadInt("SrvImg", n));
    EXPECT_EQ(n, 1);
    EXPECT_TRUE(d.ReadString("FTAudio.Exts", s));
    EXPECT_EQ(s, "wav\r\nriff\r\nmp3\r\nmid\r\nmp2\r\nogg\r\noga\r\nopus\r\nflac\r\nm4a\r\naac");
    // New Projects keep to their starting server.
    EXPECT_TRUE(d.ReadInt("RSrvsBx", n));
    EXPECT_EQ(n, 1);
    EXPECT_EQ(l.defaults.RSrvsBx, 1);
    EXPECT_TRUE(d.ReadString("FTSizes", s));
    EXPECT_EQ(s, "0,0,0,0,0,0,0,0,0,0,0,0,0,0");
    EXPECT_TRUE(d.ValueExists("Usr"));
    EXPECT_FALSE(d.ValueExists("User"));
    EXPECT_TRUE(l.warnings.empty());
}

TEST(Options, OlderKeysAreReadAndSavesGoToTheCurrentKey) {
    Registry reg;
    reg.OpenKey(Hive::LocalMachine, store::kVelloranKeyPath, true).WriteInt("HTTPCount", 3);
    Loaded l;
    Load(reg, l);
    EXPECT_EQ(l.options.HTTPCount, 3);
    EXPECT_FALSE(reg.KeyExists(Hive::CurrentUser, store::kOptionsKeyPath));
    RegKey save = store::OpenOptionsKeyForSave(reg);
    store::SaveOptions(l.options, save, l.defaults);
    std::int32_t n = 0;
    EXPECT_TRUE(reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, false).ReadInt("HTTPCount", n));
    EXPECT_EQ(n, 3);
    // The sister product's key comes before the earlier product's.
    reg.OpenKey(Hive::CurrentUser, store::kAmbrelKeyPath, true).WriteInt("HTTPCount", 4);
    reg.DeleteKey(Hive::CurrentUser, store::kOptionsKeyPath);
    Loaded l2;
    Load(reg, l2);
    EXPECT_EQ(l2.options.HTTPCount, 4);
}

TEST(Options, LoadRepairs) {
    Registry reg;
    RegKey k = reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, true);
    k.WriteString("PathPrefix", "");
    k.WriteString("URLPrefix", "HTTP://Www.X/");
    k.WriteString("ProxyAddr", std::string(60, 'p'));
    k.WriteString("DefaultDoc", "");
    k.WriteInt("LogLimit", 0);
    k.WriteInt("Retries", 5);
    k.WriteInt("Retry", 1);
    k.WriteInt("Priority", 9);
    k.WriteInt("UseProxy", 1);
    k.WriteInt("ProxyType", 0);
    k.WriteString("HTTPPass", "plain");
    k.WriteString("DDs", "/b/\r\n/a/\r\n/B/\r\n");
    Loaded l;
    Load(reg, l);
    EXPECT_EQ(l.options.PathPrefix, store::DefaultDownloadFolder());
    EXPECT_EQ(l.options.URLPrefix, "http://www.x/");
    EXPECT_EQ(l.options.ProxyAddr, std::string(50, 'p'));
    EXPECT_EQ(l.options.DefaultDoc, "default.htm");
    EXPECT_EQ(l.options.LogLimit, 5000);
    EXPECT_EQ(l.options.Retries, 0);
    EXPECT_FALSE(k.ValueExists("Retry"));
    EXPECT_EQ(l.options.Priority, 2);
    EXPECT_EQ(l.options.ProxyType, 1);
    EXPECT_EQ(l.options.HTTPPass, "plain");
    EXPECT_EQ(l.options.DDs.Items(), (std::vector<std::string>{"/a/", "/b/", store::DefaultDownloadFolder()}));
    // The plain password is written back encoded.
    RegKey save = store::OpenOptionsKeyForSave(reg);
    store::SaveOptions(l.options, save, l.defaults);
    std::string s;
    k.ReadString("HTTPPass", s);
    EXPECT_EQ(s, store::EncodeLetterPairs("plain"));
    // Retry = 0 means one retry.
    k.WriteInt("Retry", 0);
    Loaded l2;
    Load(reg, l2);
    EXPECT_EQ(l2.options.Retries, 1);
}

TEST(Options, WrongTypeKeepsTheValueAndWarns) {
    Registry reg;
    RegKey k = reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, true);
    k.WriteString("HTTPPort", "8000");
    k.OpenKey("Defaults", true).WriteString("Lev", "4");
    k.OpenKey("Defaults", true).WriteString("LimSize", "4");
    Loaded l;
    Load(reg, l);
    EXPECT_EQ(l.options.HTTPPort, 800);
    EXPECT_EQ(l.defaults.Lev, 4);  // the level alone has a text fallback
    EXPECT_EQ(l.defaults.LimSize, 1000);
    EXPECT_EQ(l.warnings.size(), 2u);
    k.OpenKey("Defaults", true).WriteString("Lev", "four");
    Loaded l2;
    Load(reg, l2);
    EXPECT_EQ(l2.defaults.Lev, 1);
}

TEST(Options, SaveOrderAndDefaultsRoundTrip) {
    Registry reg;
    Loaded l;
    Load(reg, l);
    l.options.HTTPUser = "ab";
    l.defaults.Lev = 3;
    l.defaults.User = "me";
    l.defaults.Categories[store::kCatText].Flags = {true, true, false, false, true};
    l.defaults.Categories[store::kCatAudio].MinSize = 8;
    l.defaults.RPathEx = "cgi\r\n";
    reg.Clear();
    RegKey k = store::OpenOptionsKeyForSave(reg);
    store::SaveOptions(l.options, k, l.defaults);
    std::vector<std::string> names;
    for (const auto& n : store::OptionNames()) names.push_back(n.name);
    EXPECT_EQ(k.ValueNames(), names);
    std::string s;
    k.ReadString("HTTPUser", s);
    EXPECT_EQ(s,
              "\x01"
              "BGCG");
    Loaded back;
    Load(reg, back);
    EXPECT_EQ(back.options.HTTPUser, "ab");
    EXPECT_EQ(back.defaults.Lev, 3);
    EXPECT_EQ(back.defaults.User, "me");
    EXPECT_EQ(back.defaults.URL, "http://");
    EXPECT_EQ(back.defaults.Categories[store::kCatText].Flags, (std::array<bool, 5>{true, true, false, false, true}));
    EXPECT_EQ(back.defaults.Categories[store::kCatAudio].MinSize, 8);
    EXPECT_EQ(back.defaults.RPathEx, "cgi\r\n");
}

TEST(Options, LetterPairs) {
    EXPECT_EQ(store::EncodeLetterPairs("ab"),
              "\x01"
              "BGCG");
    EXPECT_EQ(store::EncodeLetterPairs(""), "\x01");
    EXPECT_EQ(store::DecodeLetterPairs("\x01"
                                       "BGCG"),
              "ab");
    const std::string all = [] {
        std::string s;
        for (int i = 1; i < 256; ++i) s += static_cast<char>(i);
        return s;
    }();
    EXPECT_EQ(store::DecodeLetterPairs(store::EncodeLetterPairs(all)), all);
    EXPECT_EQ(store::DecodeLetterPairs("\x01"
                                       "B"),
              "\x01");  // a lone last letter
}

TEST(Options, ProxyBypassRule) {
    EXPECT_EQ(store::WithProxyBypass(""), "127.0.0.1");
    EXPECT_EQ(store::WithProxyBypass("*.local"), "*.local\r\n127.0.0.1");
    EXPECT_EQ(store::WithProxyBypass("127.0.0.10"), "127.0.0.10\r\n127.0.0.1");
    EXPECT_EQ(store::WithProxyBypass("127.0.0.1;x"), "127.0.0.1;x");
    EXPECT_EQ(store::WithProxyBypass("x;127.0.0.1"), "x;127.0.0.1");
    Registry reg;
    store::EnsureProxyBypass(reg);  // no internet settings key: nothing is created
    EXPECT_FALSE(reg.KeyExists(Hive::CurrentUser, store::kInternetSettingsPath));
    RegKey is = reg.OpenKey(Hive::CurrentUser, store::kInternetSettingsPath, true);
    RegKey lan = is.OpenKey("LAN", true);
    lan.WriteString("ProxyOverride", "<local>");
    store::EnsureProxyBypass(reg);
    std::string s;
    EXPECT_TRUE(is.ReadString("ProxyOverride", s));
    EXPECT_EQ(s, "127.0.0.1");
    EXPECT_TRUE(lan.ReadString("ProxyOverride", s));
    EXPECT_EQ(s, "<local>\r\n127.0.0.1");
}

TEST(Options, StoredServerRuleOfTheDefaultsIsKept) {
    // A registry written before the built-in default changed keeps its "all servers".
    Registry reg;
    RegKey k = reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, true);
    k.OpenKey("Defaults", true).WriteInt("RSrvsBx", 0);
    Loaded l;
    Load(reg, l);
    EXPECT_EQ(l.defaults.RSrvsBx, 0);
    std::int32_t n = -1;
    EXPECT_TRUE(k.OpenKey("Defaults", false).ReadInt("RSrvsBx", n));
    EXPECT_EQ(n, 0);
}

TEST(Options, AFreshKeyLogsAndAnOlderOneKeepsItsChoice) {
    // Fresh: the log on, the per-block progress lines off, both written for next time.
    {
        Registry reg;
        Loaded l;
        Load(reg, l);
        EXPECT_TRUE(l.options.UseLog);
        EXPECT_FALSE(l.options.FProgress);
        EXPECT_TRUE(l.options.FConnect);
        RegKey key = reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, false);
        std::int32_t n = -1;
        EXPECT_TRUE(key.ReadInt("UseLog", n));
        EXPECT_EQ(n, 1);
        EXPECT_TRUE(key.ReadInt("FProgress", n));
        EXPECT_EQ(n, 0);
    }
    // A registry with the log off keeps it off, and its progress filter.
    {
        Registry reg;
        RegKey k = reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, true);
        k.WriteInt("UseLog", 0);
        Loaded l;
        Load(reg, l);
        EXPECT_FALSE(l.options.UseLog);
        EXPECT_TRUE(l.options.FProgress);
    }
    // Only the log's value missing: its progress filter stays as stored.
    {
        Registry reg;
        RegKey k = reg.OpenKey(Hive::CurrentUser, store::kOptionsKeyPath, true);
        k.WriteInt("FProgress", 1);
        Loaded l;
        Load(reg, l);
        EXPECT_TRUE(l.options.UseLog);
        EXPECT_TRUE(l.options.FProgress);
    }
}

}  // namespace
}  // namespace qm
