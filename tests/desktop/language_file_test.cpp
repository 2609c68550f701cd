// Language files: reading with comments, unknown sections and damaged lines; the message
// list; the template written and read back; the size cap.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "desktop/language_file.h"
#include "store/ui_messages.h"
#include "support/peers.h"

namespace qm::app {
namespace {

// A window that records what the file set, and knows a few components.
class FakeWindow : public desktop::LanguageTarget {
public:
    explicit FakeWindow(std::string name) : name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    void SetTitle(const std::string& t) override { set["title"] = t; }
    void SetCaption(const std::string& c, const std::string& t) override {
        if (Known(c)) set[c + ".Caption"] = t;
    }
    void SetHint(const std::string& c, const std::string& t) override {
        if (Known(c)) set[c + ".Hint"] = t;
    }
    void SetItem(const std::string& c, int i, const std::string& t) override {
        if (Known(c) && i < 3) set[c + "." + std::to_string(i)] = t;  // three items exist
    }
    std::map<std::string, std::string> set;

private:
    bool Known(const std::string& c) const { return c == "miFile" || c == "rgMode"; }
    std::string name_;
};

struct MessagesRestored {
    ~MessagesRestored() { store::ResetUIMessages(); }
};

TEST(LanguageFile, EntriesCommentsSectionsAndMessages) {
    MessagesRestored restore;
    desktop::LanguageFile f;
    f.SetText(
        "[Intl File 4.0]\r\nLanguage=Deutsch\r\n\r\n"
        "; a comment\r\n"
        "[MainForm]\r\n"
        "Caption=Hauptfenster\r\n"
        "miFile.Caption=&Datei=Ablage\r\n"  // everything after the first "=" is the text
        "# miFile.Hint=not applied\r\n"
        "miFile.Hint=Dateibefehle\r\n"
        "rgMode.1=Zweiter\r\n"
        "rgMode.7=beyond the items\r\n"
        "rgMode.99999999999=too large a number\r\n"
        "noSuch.Caption=ignored\r\n"
        "line without equals\r\n"
        "a=b.c\r\n"  // "." after "=": not a component entry
        "[NoSuchWindow]\r\n"
        "Caption=must not reach MainForm\r\n"
        "miFile.Caption=must not reach MainForm\r\n"
        "[Strings]\r\n"
        "Vorgabe\r\n"
        "; comment inside strings\r\n"
        "Leer\r\n");
    FakeWindow main("MainForm"), other("LogWindow");
    f.Apply({&other, &main});
    EXPECT_EQ(main.set["title"], "Hauptfenster");
    EXPECT_EQ(main.set["miFile.Caption"], "&Datei=Ablage");
    EXPECT_EQ(main.set["miFile.Hint"], "Dateibefehle");
    EXPECT_EQ(main.set["rgMode.1"], "Zweiter");
    EXPECT_EQ(main.set.size(), 4u);
    EXPECT_TRUE(other.set.empty());
    // Two lines replace entries 0 and 1 only.
    EXPECT_EQ(store::UIMessage(store::UIText::Default), "Vorgabe");
    EXPECT_EQ(store::UIMessage(store::UIText::Empty), "Leer");
    EXPECT_EQ(store::UIMessage(store::UIText::NoDefaultBrowser), "Could not find default Browser");
    EXPECT_EQ(f.Strings(), (std::vector<std::string>{"Vorgabe", "Leer"}));

    // Applying to one window leaves the others alone.
    FakeWindow only("MainForm");
    f.Apply({&only});
    EXPECT_EQ(only.set["title"], "Hauptfenster");
}

TEST(LanguageFile, DamagedAndOversizedFiles) {
    MessagesRestored restore;
    const std::string dir = test::MakeTempDir("langdamaged");
    desktop::LanguageFile f;
    std::string error;
    EXPECT_FALSE(f.Load(dir + "/missing.int", error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(f.Loaded());

    // Binary rubbish, a section without "]", a header as the last line, strings beyond the
    // table: nothing crashes and the table keeps its size.
    static const char raw[] = "[Main\0Form\r\n\xff\xfe=\x01.\r\n[Strings\r\n";
    std::string rubbish(raw, sizeof raw - 1);
    for (int i = 0; i < 100; ++i) rubbish += "line " + std::to_string(i) + "\n";
    rubbish += "[Intl File 4.0]";
    ASSERT_TRUE(test::WriteFile(dir + "/bad.int", rubbish));
    ASSERT_TRUE(f.Load(dir + "/bad.int", error)) << error;
    FakeWindow w("MainForm");
    f.Apply({&w});
    EXPECT_TRUE(w.set.empty());
    EXPECT_EQ(store::UIMessage(store::kUIMessageCount - 1), "line " + std::to_string(store::kUIMessageCount - 1));
    EXPECT_EQ(store::UIMessage(store::kUIMessageCount), "");

    ASSERT_TRUE(test::WriteFile(dir + "/huge.int", std::string(desktop::kLanguageFileMaxBytes + 1, 'x')));
    desktop::LanguageFile huge;
    EXPECT_FALSE(huge.Load(dir + "/huge.int", error));
    EXPECT_NE(error.find("larger"), std::string::npos);
}

TEST(LanguageFile, TemplateRoundTripAndTranslatedTemplate) {
    MessagesRestored restore;
    std::vector<desktop::WindowTexts> windows = {
        {"MainForm",
         "Brantforge Quillmoor 1.0",
         {{"miFile", "&File", "File commands", {}},
          {"rgMode", "Mode:", "", {"One", "Two", "3"}},  // "3" has no letter: not written
          {"lblNumber", "42", "", {}}}},
        {"LogWindow", "Messages Window", {}},
    };
    const std::string text = desktop::LanguageTemplateText(windows, desktop::CurrentMessages());
    EXPECT_EQ(
        text.rfind("[Intl File 4.0]\r\nLanguage=English\r\n\r\n[MainForm]\r\nCaption=Brantforge Quillmoor 1.0\r\n", 0),
        0u);
    EXPECT_NE(text.find("miFile.Hint=File commands\r\n"), std::string::npos);
    EXPECT_NE(text.find("rgMode.1=Two\r\n"), std::string::npos);
    EXPECT_EQ(text.find("rgMode.2="), std::string::npos);
    EXPECT_EQ(text.find("lblNumber"), std::string::npos);
    EXPECT_NE(text.find("[Strings]\r\nDefault\r\nEmpty\r\n"), std::string::npos);

    // Written atomically, edited by a translator, read back.
    const std::string dir = test::MakeTempDir("langround");
    std::string error;
    ASSERT_TRUE(desktop::WriteLanguageText(dir + "/qm.int", text, error)) << error;
    std::string edited = test::ReadFile(dir + "/qm.int");
    edited.replace(edited.find("&File"), 5, "&Datei");
    edited.replace(edited.find("\r\nDefault\r\n"), 11, "\r\nStandard\r\n");
    ASSERT_TRUE(desktop::WriteLanguageText(dir + "/qm.int", edited, error)) << error;
    desktop::LanguageFile f;
    ASSERT_TRUE(f.Load(dir + "/qm.int", error)) << error;
    FakeWindow main("MainForm");
    f.Apply({&main});
    EXPECT_EQ(main.set["miFile.Caption"], "&Datei");
    EXPECT_EQ(main.set["rgMode.0"], "One");
    EXPECT_EQ(store::UIMessage(store::UIText::Default), "Standard");
    EXPECT_EQ(store::UIMessage(store::UIText::ImportFavorites), "Import &Favorites");

    // The template with the translation put in: the translated entries, the others English.
    const std::string merged = desktop::TranslatedTemplateText(text, f, desktop::CurrentMessages());
    EXPECT_NE(merged.find("miFile.Caption=&Datei\r\n"), std::string::npos);
    EXPECT_NE(merged.find("miFile.Hint=File commands\r\n"), std::string::npos);
    EXPECT_NE(merged.find("[Strings]\r\nStandard\r\nEmpty\r\n"), std::string::npos);
    EXPECT_EQ(merged.find("[Strings]"), merged.rfind("[Strings]"));
}

// Sets environment variables for one test and puts the old values back.
class EnvironmentFor {
public:
    void Set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvironmentFor() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                ::setenv(it->first, it->second->c_str(), 1);
            else
                ::unsetenv(it->first);
        }
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// The program folder's file wins; without one, the translation installed for the user's
// language is read; English and the C locale read none.
TEST(LanguageFile, ProgramFolderFirstThenTheInstalledTranslation) {
    const std::string root = test::MakeTempDir("lang-choice");
    const std::string home = root + "/home", installed = root + "/share/quillmoor/lang";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(installed);
    ASSERT_TRUE(test::WriteFile(installed + "/qm.int.de", "[Strings]\nFehler\n"));
    ASSERT_TRUE(test::WriteFile(installed + "/qm.int.en", "[Strings]\nError\n"));
    EnvironmentFor env;
    env.Set("XDG_DATA_HOME", root + "/nothing-here");
    env.Set("XDG_DATA_DIRS", root + "/share");
    env.Set("LC_ALL", "");
    env.Set("LC_MESSAGES", "");
    env.Set("LANG", "de_DE.UTF-8");
    EXPECT_EQ(desktop::ChooseLanguageFile(home), installed + "/qm.int.de");
    env.Set("LC_MESSAGES", "de_AT@euro");
    env.Set("LANG", "en_GB.UTF-8");
    EXPECT_EQ(desktop::ChooseLanguageFile(home), installed + "/qm.int.de");  // LC_MESSAGES before LANG
    env.Set("LC_ALL", "C");
    EXPECT_EQ(desktop::ChooseLanguageFile(home), "");
    env.Set("LC_ALL", "en_US.UTF-8");
    EXPECT_EQ(desktop::ChooseLanguageFile(home), "");
    env.Set("LC_ALL", "fr_FR.UTF-8");
    EXPECT_EQ(desktop::ChooseLanguageFile(home), "");  // no French installed
    env.Set("LC_ALL", "../../etc");
    EXPECT_EQ(desktop::ChooseLanguageFile(home), "");  // not a language code: no path from it
    env.Set("LC_ALL", "de");
    ASSERT_TRUE(test::WriteFile(home + "/qm.int", "[Strings]\nMine\n"));
    EXPECT_EQ(desktop::ChooseLanguageFile(home), home + "/qm.int");
}

}  // namespace
}  // namespace qm::app
