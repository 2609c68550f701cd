// The rules under the Project properties and options dialogs: numbers typed into fields,
// enabled controls, ticked lists, what OK hands back, and the options' ranges.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "app/project_cookies_commands.h"
#include "platform/program_folder.h"
#include "support/peers.h"
#include "viewmodels/cookie_panel.h"
#include "viewmodels/dialog_values.h"
#include "viewmodels/options_form.h"
#include "viewmodels/project_prop_rules.h"
#include "desktop/tool_list.h"
#include "app/window_state.h"
#include "store/options.h"
#include "store/ui_messages.h"

using namespace qm;
using namespace qm::app;

TEST(ProjectDialogRules, FieldTextsBecomeSettings) {
    EXPECT_EQ(viewmodels::ReadNumber(" 42 ", 7), 42);
    EXPECT_EQ(viewmodels::ReadNumber("-3", 7), -3);
    EXPECT_EQ(viewmodels::ReadNumber("4x", 7), 7);
    EXPECT_EQ(viewmodels::ReadNumber("", 7), 7);
    EXPECT_EQ(viewmodels::ReadNumber("99999999999", 7), 7);  // does not fit in 32 bits

    EXPECT_EQ(viewmodels::ReadLevel("abc"), 1);
    EXPECT_EQ(viewmodels::ReadLevel("5000"), 999);
    EXPECT_EQ(viewmodels::ReadSkipLevel("5", 2), 2);  // a Level of 2 caps the skip level
    EXPECT_EQ(viewmodels::ReadSkipLevel("x", 2), 0);
    EXPECT_EQ(viewmodels::ReadDay("31"), 30);
    EXPECT_EQ(viewmodels::ReadDay(""), 0);
    EXPECT_EQ(viewmodels::ReadDay("1"), 0);
    EXPECT_EQ(viewmodels::ReadDay("0"), 0);
    EXPECT_EQ(viewmodels::ReadDay("77"), 30);
    EXPECT_EQ(viewmodels::ReadTotalSizeLimit("?"), 10000);
    EXPECT_EQ(viewmodels::ReadFileCountLimit(""), 5000);
    EXPECT_EQ(viewmodels::ReadCategorySize("", 100), 100);
}

TEST(ProjectDialogRules, NameFollowsAddressUntilItDiffers) {
    std::string name = "http://";
    name = viewmodels::MirroredName(name, "http://a");
    name = viewmodels::MirroredName(name, "http://ab.org");
    EXPECT_EQ(name, "http://ab.org");
    name = "https:/ my site";  // first seven characters differ now
    EXPECT_EQ(viewmodels::MirroredName(name, "http://ab.org/x"), "https:/ my site");
    EXPECT_EQ(viewmodels::MirroredName("http://old", "http://new"), "http://new");
}

TEST(ProjectDialogRules, EnabledControls) {
    store::FileCategory c;
    viewmodels::CategoryEnables e = viewmodels::CategoryControls(c);
    EXPECT_TRUE(e.groups);
    EXPECT_FALSE(e.minCheck);
    c.Flag(store::CategoryFlag::SelectedSizesOnly) = true;
    c.Flag(store::CategoryFlag::MaxSizeOn) = true;
    e = viewmodels::CategoryControls(c);
    EXPECT_TRUE(e.minCheck && e.maxCheck && e.maxEdit);
    EXPECT_FALSE(e.minEdit);
    c.Flag(store::CategoryFlag::Excluded) = true;  // excluded
    e = viewmodels::CategoryControls(c);
    EXPECT_FALSE(e.groups || e.maxCheck || e.maxEdit);

    const bool expected[6][6] = {
        // time weekday day month once interval
        {0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 1, 0}, {1, 1, 0, 0, 1, 0},
        {1, 0, 1, 0, 1, 0}, {1, 0, 1, 1, 1, 0}, {1, 0, 0, 0, 1, 1},
    };
    for (int when = 0; when < 6; ++when) {
        viewmodels::ScheduleEnables s = viewmodels::ScheduleControls(when);
        bool got[6] = {s.time, s.weekday, s.day, s.month, s.once, s.interval};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], expected[when][i]) << when << " " << i;
    }
}

TEST(ProjectDialogRules, TickedListsKeepTheirSelectionLine) {
    store::TickedList list = store::ParseTickedList("gif\r\njpg\r\n");
    ASSERT_EQ(list.Entries.size(), 2u);
    EXPECT_EQ(store::FormatTickedList(list), "gif\r\njpg\r\n xx");  // no selection line: all ticked
    viewmodels::SetTicked(list, 1, false);
    EXPECT_TRUE(viewmodels::AddTickedEntry(list, "  png "));
    EXPECT_FALSE(viewmodels::AddTickedEntry(list, "   "));
    EXPECT_EQ(store::FormatTickedList(list), "gif\r\njpg\r\npng\r\n xox");
    EXPECT_EQ(viewmodels::RemoveTickedEntry(list, 1), "jpg");
    EXPECT_EQ(viewmodels::RemoveTickedEntry(list, 9), "");
    EXPECT_EQ(store::FormatTickedList(list), "gif\r\npng\r\n xx");

    store::TickedList only = store::ParseTickedList("zip");
    EXPECT_EQ(viewmodels::RemoveTickedEntry(only, 0), "zip");
    EXPECT_EQ(store::FormatTickedList(only), "");  // the only extension removed: empty text
}

TEST(ProjectDialogRules, OkHandsBackOnlyWhatTheUserChanged) {
    store::Project live;
    live.URL = "http://a.org/";
    live.Caption = "A";
    live.Lev = 2;
    live.When = 1;
    live.Once = true;
    live.RSrvsEx = "ads\r\n x";
    store::Project original, edited;
    original.Assign(live);
    edited.Assign(live);
    // While the dialog is open the engine and the scheduler change the Project.
    live.When = 0;  // a "Once" schedule switched to manual
    live.LastStart = 12345.5;
    live.S200 = 17;
    live.StatusText = "Downloading";
    // The user changes the level and a keyword list.
    edited.Lev = 4;
    edited.RSrvsEx = "ads\r\ntrack\r\n xx";
    edited.LastStart = 1;  // never handed back
    CopyEditedSettings(live, original, edited);
    EXPECT_EQ(live.Lev, 4);
    EXPECT_EQ(live.RSrvsEx, "ads\r\ntrack\r\n xx");
    EXPECT_EQ(live.When, 0);
    EXPECT_TRUE(live.Once);
    EXPECT_EQ(live.LastStart, 12345.5);
    EXPECT_EQ(live.S200, 17);
    EXPECT_EQ(live.Caption, "A");
    // A schedule the user did change wins.
    edited.When = 3;
    CopyEditedSettings(live, original, edited);
    EXPECT_EQ(live.When, 3);
}

TEST(OptionsDialogRules, TakenBackWithDefaultsAndRanges) {
    store::ProgramOptions o;
    o.Reset();
    WindowState st;
    viewmodels::OptionsForm f = viewmodels::FillOptionsForm(o, st);
    EXPECT_EQ(f.timeOutSeconds, "300");
    f.timeOutSeconds = "abc";
    f.connections = "";
    f.port = "800";
    f.proxyAddr = std::string(60, 'p');
    f.proxyPort = "0";
    f.downloadFolder = "/srv/sites";
    f.diskSpace = "lots";
    f.autoSaveMinutes = "soon";
    viewmodels::OptionsApplied a = viewmodels::ApplyOptionsForm(f, o, st);
    EXPECT_EQ(o.TimeOut, 300000);
    EXPECT_EQ(o.HTTPCount, 10);
    EXPECT_FALSE(a.portChanged);
    EXPECT_EQ(o.ProxyAddr.size(), 50u);
    EXPECT_EQ(o.ProxyPort, 1);
    EXPECT_EQ(o.PathPrefix, "/srv/sites/");
    EXPECT_TRUE(a.folderChanged);
    EXPECT_EQ(o.DiskSpace, 5);
    EXPECT_EQ(st.Int("iAutoSave"), 5);

    // The time-out in milliseconds never overflows; the port stays a port.
    EXPECT_EQ(viewmodels::TakeBackTimeOut("99999999"), INT_MAX / 1000 * 1000);
    EXPECT_EQ(viewmodels::TakeBackTimeOut("0"), 1000);
    EXPECT_EQ(viewmodels::TakeBackPort("70000", 800), 65535);
    EXPECT_EQ(viewmodels::TakeBackPort("-1", 800), 1);
    EXPECT_EQ(viewmodels::TakeBackPort("x", 800), 800);
    f = viewmodels::FillOptionsForm(o, st);
    f.port = "8123";
    EXPECT_TRUE(viewmodels::ApplyOptionsForm(f, o, st).portChanged);
    EXPECT_FALSE(viewmodels::ApplyOptionsForm(f, o, st).portChanged);
    f.connections = "500";
    viewmodels::ApplyOptionsForm(f, o, st);
    EXPECT_EQ(o.HTTPCount, 100);  // the most the connection pool takes
    EXPECT_EQ(viewmodels::TakeBackDownloadFolder(""), store::DefaultDownloadFolder());
    EXPECT_EQ(viewmodels::TakeBackDownloadFolder("C:\\sites\\"), "C:\\sites\\");

    std::string free = viewmodels::FreeSpaceText("/no/such/folder/below/root");
    EXPECT_NE(free.find(" " + store::UIMessage(store::UIText::MegabytesFree)), std::string::npos) << free;
    EXPECT_EQ(viewmodels::FreeSpaceText("relative/folder"), "");
}

TEST(OptionsDialogRules, UserAgentSelector) {
    store::ProgramOptions o;
    o.Reset();
    WindowState st;
    o.UAgent = "Quillmoor/1.0";
    viewmodels::OptionsForm f = viewmodels::FillOptionsForm(o, st);
    EXPECT_TRUE(f.agentFromList);
    EXPECT_EQ(f.agentIndex, 0);
    f.agentIndex = 6;  // "Anonymous"
    viewmodels::ApplyOptionsForm(f, o, st);
    EXPECT_EQ(o.UAgent, "");
    f = viewmodels::FillOptionsForm(o, st);
    EXPECT_TRUE(f.agentFromList);
    EXPECT_STREQ(viewmodels::UserAgentEntries()[f.agentIndex].caption, "Anonymous");
    o.UAgent = "MyBot/2";
    f = viewmodels::FillOptionsForm(o, st);
    EXPECT_FALSE(f.agentFromList);
    EXPECT_EQ(f.agentText, "MyBot/2");
    f.agentText = "Other/3";
    viewmodels::ApplyOptionsForm(f, o, st);
    EXPECT_EQ(o.UAgent, "Other/3");
}

TEST(OptionsDialogRules, ToolEntriesReadSafely) {
    desktop::ToolEntry e = desktop::ParseToolEntry("Firefox=/usr/bin/firefoxx");
    EXPECT_EQ(e.caption, "Firefox");
    EXPECT_EQ(e.program, "/usr/bin/firefox");
    EXPECT_TRUE(e.ticked);
    e = desktop::ParseToolEntry("Off=/usr/bin/lesso");
    EXPECT_EQ(e.program, "/usr/bin/less");
    EXPECT_FALSE(e.ticked);
    for (const char* shortLine : {"", "=", "x", "no equals", "a="}) {
        e = desktop::ParseToolEntry(shortLine);
        EXPECT_EQ(e.program, "") << shortLine;
        EXPECT_FALSE(e.ticked) << shortLine;
    }
    EXPECT_EQ(desktop::ParseToolEntry("a=b=cx").program, "b=c");
    std::vector<desktop::ToolEntry> list = desktop::ParseToolEntries("A=/a x\r\nB=/bo\r\n");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(desktop::FormatToolEntries(list), "A=/a x\r\nB=/bo\r\n");
    desktop::ToolEntry made;
    EXPECT_FALSE(desktop::MakeToolEntry("Name", "  ", made));
    ASSERT_TRUE(desktop::MakeToolEntry("We=ird\r\n", "/opt/web/bin/browse", made));
    EXPECT_EQ(desktop::FormatToolEntry(made), "Weird=/opt/web/bin/browsex");
    ASSERT_TRUE(desktop::MakeToolEntry("", "/opt/web/bin/browse", made));
    EXPECT_EQ(made.caption, "browse");
}

TEST(OptionsDialogRules, TransferOptionsAndBookmarksFile) {
    store::ProgramOptions o;
    o.Reset();
    WindowState st;
    viewmodels::OptionsForm f = viewmodels::FillOptionsForm(o, st);
    EXPECT_TRUE(f.keepAlive);
    EXPECT_FALSE(f.ftpPassive || f.sslAnyCert || f.extLast);
    EXPECT_TRUE(f.lowMemory);
    EXPECT_EQ(f.pauseSeconds, "0");
    EXPECT_STREQ(viewmodels::PriorityEntries()[f.priorityIndex], "Lower");  // the stored default 2

    f.keepAlive = false;
    f.ftpPassive = f.sslAnyCert = f.extLast = true;
    f.lowMemory = false;
    f.pauseSeconds = "7";
    f.priorityIndex = 4;
    f.bookmarksFile = "  /home/u/bookmarks.html ";
    viewmodels::ApplyOptionsForm(f, o, st);
    EXPECT_FALSE(o.KeepAlive);
    EXPECT_TRUE(o.FtpPassive && o.SSLAnyCert && o.ExtLast);
    EXPECT_FALSE(o.LowMemory);
    EXPECT_EQ(o.Pause, 7);
    EXPECT_EQ(o.Priority, 5);
    EXPECT_EQ(o.BookmarksFile, "/home/u/bookmarks.html");
    // Filled again, the form shows what was kept.
    viewmodels::OptionsForm again = viewmodels::FillOptionsForm(o, st);
    EXPECT_EQ(again.priorityIndex, 4);
    EXPECT_EQ(again.pauseSeconds, "7");
    EXPECT_EQ(again.bookmarksFile, o.BookmarksFile);
    EXPECT_FALSE(again.keepAlive);

    // Out of range and not numbers: the pause stays within an hour, the priority within 1..5.
    f.pauseSeconds = "soon";
    f.priorityIndex = -3;
    viewmodels::ApplyOptionsForm(f, o, st);
    EXPECT_EQ(o.Pause, 0);
    EXPECT_EQ(o.Priority, 1);
    EXPECT_EQ(viewmodels::TakeBackPause("999999"), 3600);
    EXPECT_EQ(viewmodels::TakeBackPause("-5"), 0);
    o.Priority = 9;  // a stored value the start-up repair did not see
    EXPECT_EQ(viewmodels::FillOptionsForm(o, st).priorityIndex, 4);
}

// The log-in fields as typed, and the cookie list with its clear button.
TEST(ProjectDialogRules, LogInFieldsAndCookiePanel) {
    EXPECT_EQ(viewmodels::FormFieldsText("user=alice\n\n  password = x y \r\n\t\r\nremember=1"),
              "user=alice\r\npassword = x y\r\nremember=1");
    EXPECT_EQ(viewmodels::FormFieldsText(" \n\n"), "");

    platform::SetProgramFolder(test::MakeTempDir("cookiepanel"));
    store::Project p;
    p.IID = 41;
    EXPECT_TRUE(viewmodels::ShowCookies(p, false).lines.empty());
    EXPECT_FALSE(viewmodels::ShowCookies(p, false).canClear);
    ASSERT_TRUE(test::WriteFile(platform::ProgramFile("jar.txt"),
                                "#HttpOnly_.site.test\tTRUE\t/\tTRUE\t2147483647\tsid\tabc\n"
                                "site.test\tFALSE\t/a\tFALSE\t0\tlang\tde\n"));
    std::string error;
    ASSERT_EQ(app::ImportCookies(p, platform::ProgramFile("jar.txt"), error), 2) << error;
    viewmodels::CookiePanel panel = viewmodels::ShowCookies(p, false);
    ASSERT_EQ(panel.lines.size(), 2u);
    EXPECT_EQ(panel.lines[0], ".site.test / sid=abc secure httponly (until 2038-01-19 03:14 UTC)");
    EXPECT_EQ(panel.lines[1], "site.test /a lang=de (session)");
    EXPECT_TRUE(panel.canClear);
    EXPECT_TRUE(viewmodels::ShowCookies(p, true).lines.empty());  // the Defaults Project has none
    EXPECT_TRUE(std::filesystem::exists(platform::ProgramFile("41.cookies")));
    panel = viewmodels::ClearCookies(p);
    EXPECT_TRUE(panel.lines.empty());
    EXPECT_FALSE(panel.canClear);
    EXPECT_FALSE(std::filesystem::exists(platform::ProgramFile("41.cookies")));
}
