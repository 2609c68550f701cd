// The registry stand-in: keys, typed values, the export text and its file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "platform/registry.h"
#include "support/peers.h"

namespace qm::platform {
namespace {

TEST(Registry, KeysValuesAndTypes) {
    Registry reg;
    EXPECT_FALSE(reg.OpenKey(Hive::CurrentUser, "\\SOFTWARE\\X", false).Valid());
    RegKey k = reg.OpenKey(Hive::CurrentUser, "\\SOFTWARE\\X\\Parameters", true);
    ASSERT_TRUE(k.Valid());
    EXPECT_TRUE(reg.KeyExists(Hive::CurrentUser, "software\\x\\parameters"));
    EXPECT_FALSE(reg.KeyExists(Hive::LocalMachine, "SOFTWARE\\X\\Parameters"));
    k.WriteString("Name", "text");
    k.WriteInt("Count", -5);
    EXPECT_EQ(k.Type("name"), ValueType::String);
    EXPECT_EQ(k.Type("Count"), ValueType::Integer);
    EXPECT_EQ(k.Type("None"), ValueType::None);
    std::int32_t n = 0;
    std::string s;
    EXPECT_FALSE(k.ReadInt("Name", n));  // wrong type
    EXPECT_FALSE(k.ReadString("Count", s));
    EXPECT_TRUE(k.ReadInt("COUNT", n));
    EXPECT_EQ(n, -5);
    k.WriteInt("Name", 3);  // a write replaces type and value
    EXPECT_EQ(k.Type("Name"), ValueType::Integer);
    EXPECT_TRUE(k.DeleteValue("Name"));
    EXPECT_FALSE(k.ValueExists("Name"));
    k.OpenKey("Defaults", true);
    k.OpenKey("Other\\Deep", true);
    EXPECT_EQ(k.SubKeys(), (std::vector<std::string>{"Defaults", "Other"}));
    EXPECT_TRUE(reg.DeleteKey(Hive::CurrentUser, "SOFTWARE\\X\\Parameters\\Other"));
    EXPECT_EQ(k.SubKeys(), (std::vector<std::string>{"Defaults"}));
}

TEST(Registry, ExportTextRoundTrip) {
    Registry reg;
    RegKey k = reg.OpenKey(Hive::CurrentUser, "SOFTWARE\\B\\P", true);
    k.WriteString("Path", "c:\\temp\\ \"q\"");
    k.WriteString("Lines", "a\r\nb");
    k.WriteString("Secret",
                  "\x01"
                  "BGCG");
    k.WriteInt("Ten", 10);
    k.WriteInt("Neg", -1);
    reg.OpenKey(Hive::LocalMachine, "SOFTWARE\\H\\V", true).WriteInt("X", 1);
    const std::string text = reg.ExportText();
    EXPECT_EQ(
        text,
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n[HKEY_CURRENT_USER]\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE]\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\B]\r\n"
        "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\B\\P]\r\n"
        "\"Path\"=\"c:\\\\temp\\\\ \\\"q\\\"\"\r\n\"Lines\"=\"a\\r\\nb\"\r\n\"Secret\"=\"\\x01BGCG\"\r\n"
        "\"Ten\"=dword:0000000a\r\n\"Neg\"=dword:ffffffff\r\n"
        "\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\H]\r\n"
        "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\H\\V]\r\n\"X\"=dword:00000001\r\n");
    Registry back;
    std::string error;
    ASSERT_TRUE(back.ImportText(text, error)) << error;
    EXPECT_EQ(back.ExportText(), text);
    std::string s;
    std::int32_t n;
    RegKey b = back.OpenKey(Hive::CurrentUser, "SOFTWARE\\B\\P", false);
    EXPECT_TRUE(b.ReadString("Path", s));
    EXPECT_EQ(s, "c:\\temp\\ \"q\"");
    EXPECT_TRUE(b.ReadString("Secret", s));
    EXPECT_EQ(s,
              "\x01"
              "BGCG");
    EXPECT_TRUE(b.ReadInt("Neg", n));
    EXPECT_EQ(n, -1);
}

TEST(Registry, DamagedTextIsRefusedWithItsLine) {
    const char* bad[] = {
        "garbage\r\n",
        "Windows Registry Editor Version 5.00\r\n\"a\"=\"b\"\r\n",                          // value outside a key
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=\"b\r\n",  // unterminated
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=dword:123456789\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKEY_USERS\\A]\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=hex:01\r\n",
        "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n\"a\"=\"\\x0\"\r\n",
    };
    std::string deep = "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER";
    for (int i = 0; i < 100000; ++i) deep += "\\k";
    deep += "]\r\n";
    {
        Registry reg;
        std::string error;
        EXPECT_FALSE(reg.ImportText(deep, error));
        EXPECT_NE(error.find("too deep"), std::string::npos);
    }
    for (const char* text : bad) {
        Registry reg;
        std::string error;
        EXPECT_FALSE(reg.ImportText(text, error)) << text;
        EXPECT_NE(error.find("line "), std::string::npos);
        EXPECT_FALSE(reg.KeyExists(Hive::CurrentUser, "A"));
    }
}

TEST(Registry, FileIsWrittenAtomicallyForItsOwnerOnly) {
    std::string dir = test::MakeTempDir("reg");
    std::string path = dir + "/registry.reg";
    Registry reg;
    std::string error;
    ASSERT_TRUE(reg.LoadFile(path, error));  // missing: empty
    reg.OpenKey(Hive::CurrentUser, "K", true).WriteInt("V", 7);
    ASSERT_TRUE(reg.SaveFile(path, error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(std::ifstream(path + ".tmp").good());
    Registry back;
    ASSERT_TRUE(back.LoadFile(path, error)) << error;
    std::int32_t v = 0;
    EXPECT_TRUE(back.OpenKey(Hive::CurrentUser, "K", false).ReadInt("V", v));
    EXPECT_EQ(v, 7);
}

}  // namespace
}  // namespace qm::platform
