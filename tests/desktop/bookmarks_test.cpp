// Bookmark readers on files of each kind, the overflow rule, shortened titles, the sources
// found through the registry and the home folder (a real Firefox places database and
// Chromium bookmarks file made here), and the Project a bookmark makes.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>

#include "app/bookmark_project.h"
#include "desktop/bookmarks.h"
#include "platform/registry.h"
#include "store/project_tree.h"
#include "support/peers.h"

namespace fs = std::filesystem;

namespace qm::app {
namespace {

using Kind = desktop::BookmarkItem::Kind;

desktop::BookmarkItem Read(void (*reader)(std::string_view, desktop::BookmarkLevel&), std::string_view text,
                           int max = 0) {
    desktop::BookmarkItem root;
    std::size_t entries = 0;
    desktop::BookmarkLevel level(root, max, entries);
    reader(text, level);
    return root;
}

int Depth(const desktop::BookmarkItem& item) {
    int d = 0;
    for (const desktop::BookmarkItem& c : item.children) d = std::max(d, 1 + Depth(c));
    return d;
}

TEST(Bookmarks, ShortenedTitlesAndOverflowLevels) {
    const std::string t45(45, 'a');
    EXPECT_EQ(desktop::ShortenedTitle(t45), t45);
    const std::string t46 = std::string(21, 'b') + "1234" + std::string(21, 'e');
    EXPECT_EQ(desktop::ShortenedTitle(t46), std::string(21, 'b') + "..." + std::string(21, 'e'));
    // Characters, not bytes: a title of 46 two-byte letters keeps whole letters.
    std::string umlauts;
    for (int i = 0; i < 46; ++i) umlauts += "\xc3\xa4";
    EXPECT_EQ(desktop::ShortenedTitle(umlauts).size(), 42u * 2 + 3);

    // 25 bookmarks with 10 a menu: 9 and ">>", 9 and ">>", then 7.
    std::string html;
    for (int i = 0; i < 25; ++i)
        html += "<DT><A HREF=\"http://h/" + std::to_string(i) + "\">B" + std::to_string(i) + "</A>\n";
    desktop::BookmarkItem root = Read(desktop::ReadBookmarkHtml, html, 10);
    ASSERT_EQ(root.children.size(), 10u);
    EXPECT_EQ(root.children[8].caption, "B8");
    const desktop::BookmarkItem& more = root.children[9];
    EXPECT_EQ(more.caption, ">>");
    ASSERT_EQ(more.children.size(), 10u);
    EXPECT_EQ(more.children[0].caption, "B9");
    EXPECT_EQ(more.children[9].caption, ">>");
    ASSERT_EQ(more.children[9].children.size(), 7u);
    EXPECT_EQ(more.children[9].children[6].url, "http://h/24");

    EXPECT_EQ(desktop::MaxPerMenuFor(1000, 25), 36);
    EXPECT_EQ(desktop::MaxPerMenuFor(150, 25), 0);  // 2 lines: below 3
    EXPECT_EQ(desktop::MaxPerMenuFor(1000, 0), 0);
}

TEST(Bookmarks, HtmlAndHotListFiles) {
    desktop::BookmarkItem root = Read(desktop::ReadBookmarkHtml,
                                      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n"
                                      "<DT><A HREF='x.htm'>Title</A>\n"
                                      "<DT><A HREF = \"http://a/b c\" ADD_DATE=\"1\">Spaced</A>\n"
                                      "<DT><A HREF=http://bare/?a=1&amp;b=2>Bare &#60;3&#x;</A>\n"
                                      "<DT><A HREF=\"http://nogt\"\n"  // no ">": nothing
                                      "<HR>\n"
                                      "<DT><H3 FOLDED>Folder &amp; more</H3>\n<DL><p>\n"
                                      "  <DT><A HREF=\"http://in/\">Inside</A>\n"
                                      "</DL><p>\n"
                                      "<DT><A HREF=\"http://after/\">After</A>\n"
                                      "</DL>\n"
                                      "<DT><A HREF=\"http://never/\">Past the end</A>\n");
    ASSERT_EQ(root.children.size(), 6u);
    EXPECT_EQ(root.children[0].url, "x.htm");
    EXPECT_EQ(root.children[0].caption, "Title");
    EXPECT_EQ(root.children[1].url, "http://a/b");
    EXPECT_EQ(root.children[1].caption, "Spaced");
    EXPECT_EQ(root.children[2].url, "http://bare/?a=1&b=2");
    EXPECT_EQ(root.children[2].caption, "Bare <3&#x;");
    EXPECT_EQ(root.children[3].kind, Kind::Separator);
    EXPECT_EQ(root.children[4].caption, "Folder & more");  // exported files escape "&"
    ASSERT_EQ(root.children[4].children.size(), 1u);
    EXPECT_EQ(root.children[5].caption, "After");

    // Deeply nested folders neither exhaust the stack nor lose the bookmarks inside.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "<DT><H3>F</H3>\n<DL>\n";
    deep += "<DT><A HREF=\"http://deep/\">Deep</A>\n";
    desktop::BookmarkItem nested = Read(desktop::ReadBookmarkHtml, deep);
    EXPECT_LE(Depth(nested), desktop::kBookmarkMaxDepth + 1);
    EXPECT_NE(desktop::BookmarkListing(nested).find("http://deep/"), std::string::npos);

    desktop::BookmarkItem opera = Read(desktop::ReadOperaHotList,
                                       "Opera Hotlist version 2.0\n\n"
                                       "#FOLDER\n\tID=1\n\tNAME=Work\n"
                                       "#URL\n\tNAME=Intranet\n\tURL=http://intra/\n"
                                       "-\n"
                                       "#url\n\tname=Top\n\tcreated=1\n\turl=http://top/\n"
                                       "#URL\n\tNAME=Cut off\n");
    ASSERT_EQ(opera.children.size(), 2u);
    EXPECT_EQ(opera.children[0].caption, "Work");
    ASSERT_EQ(opera.children[0].children.size(), 1u);
    EXPECT_EQ(opera.children[0].children[0].url, "http://intra/");
    EXPECT_EQ(opera.children[1].url, "http://top/");
}

TEST(Bookmarks, FavoritesFolderWithShortcuts) {
    const std::string dir = test::MakeTempDir("favorites");
    const std::string longA = std::string(21, 'L') + "aaaa" + std::string(21, 'R');
    const std::string longB = std::string(21, 'L') + "bbbbbb" + std::string(21, 'R');
    ASSERT_TRUE(test::WriteFile(dir + "/zeta.url", "[InternetShortcut]\r\nURL=http://zeta/\r\n"));
    ASSERT_TRUE(
        test::WriteFile(dir + "/Alpha.URL", "[Other]\r\nURL=wrong\r\n[InternetShortcut]\r\nURL=http://alpha/\r\n"));
    ASSERT_TRUE(test::WriteFile(dir + "/nourl.url", "[InternetShortcut]\r\nIconIndex=1\r\n"));
    ASSERT_TRUE(test::WriteFile(dir + "/" + longA + ".url", "[InternetShortcut]\nURL=http://a/\n"));
    ASSERT_TRUE(test::WriteFile(dir + "/" + longB + ".url", "[InternetShortcut]\nURL=http://b/\n"));
    ASSERT_TRUE(test::WriteFile(dir + "/notes.txt", "not a shortcut"));
    ASSERT_TRUE(test::WriteFile(dir + "/Sub/" + longB + ".url", "[InternetShortcut]\nURL=http://b2/\n"));
    ASSERT_TRUE(test::WriteFile(dir + "/.hidden/x.url", "[InternetShortcut]\nURL=http://hidden/\n"));
    fs::create_symlink(dir, dir + "/Sub/loop");  // a folder link back to the top

    desktop::BookmarkItem root;
    std::size_t entries = 0;
    desktop::BookmarkLevel level(root, 0, entries);
    desktop::ReadFavoritesFolder(dir, level);
    ASSERT_EQ(root.children.size(), 5u);  // Sub, Alpha, one of the two long ones, nourl, zeta
    EXPECT_EQ(root.children[0].caption, "Sub");
    EXPECT_EQ(root.children[0].children.size(), 1u);  // its own long one; the loop adds nothing
    EXPECT_EQ(root.children[0].children[0].url, "http://b2/");
    EXPECT_EQ(root.children[1].url, "http://alpha/");
    EXPECT_EQ(root.children[2].caption, desktop::ShortenedTitle(longA));
    EXPECT_EQ(root.children[3].caption, "nourl");
    EXPECT_EQ(root.children[3].url, "N/A");
    EXPECT_EQ(root.children[4].url, "http://zeta/");
}

void Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
}

// A home folder with a Firefox profile, a Chromium profile and the registry entries of the
// classic browsers.
TEST(Bookmarks, AllSourcesOfAMachine) {
    const std::string home = test::MakeTempDir("bmhome");
    const std::string profile = home + "/.mozilla/firefox/abcd.default";
    fs::create_directories(profile);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((profile + "/places.sqlite").c_str(), &db), SQLITE_OK);
    Exec(db,
         "PRAGMA journal_mode=WAL;"
         "CREATE TABLE moz_places (id INTEGER PRIMARY KEY, url LONGVARCHAR, title LONGVARCHAR);"
         "CREATE TABLE moz_bookmarks (id INTEGER PRIMARY KEY, type INTEGER, fk INTEGER, parent INTEGER,"
         " position INTEGER, title LONGVARCHAR, guid TEXT);"
         "INSERT INTO moz_places VALUES (1, 'https://www.debian.org/', 'Debian'), (2, 'place:sort=8', ''),"
         " (3, 'http://127.0.0.1/docs', 'Docs');"
         "INSERT INTO moz_bookmarks VALUES (1, 2, NULL, 0, 0, '', 'root________'),"
         " (2, 2, NULL, 1, 0, 'menu', 'menu________'), (3, 2, NULL, 1, 1, 'toolbar', 'toolbar_____'),"
         " (4, 2, NULL, 1, 2, 'tags', 'tags________'),"
         " (10, 1, 1, 2, 1, 'Debian', 'a'), (11, 3, NULL, 2, 0, '', 'b'), (12, 1, 2, 2, 2, 'Recent', 'c'),"
         " (13, 2, NULL, 3, 0, 'Work', 'd'), (14, 1, 3, 13, 0, 'Local docs', 'e'),"
         " (15, 2, NULL, 15, 0, 'Self-parented', 'f');");
    // Firefox holds its database open while it runs: read from a copy all the same.
    ASSERT_TRUE(test::WriteFile(home + "/.config/chromium/Default/Bookmarks",
                                R"({"roots": {"bookmark_bar": {"type": "folder", "name": "Bookmarks bar", "children": [
                                     {"type": "url", "name": "Chromium", "url": "https://www.chromium.org/"},
                                     {"type": "folder", "name": "Nested", "children": [{"type": "url", "name": "In", "url": "http://in/"}]}]},
                                   "other": {"type": "folder", "name": "Other bookmarks", "children": []}}})"));
    ASSERT_TRUE(test::WriteFile(home + "/nav/bookmark.htm", "<DT><A HREF=\"http://nav/\">Nav</A>\n"));
    ASSERT_TRUE(test::WriteFile(home + "/users/jo/bookmark.htm", "<DT><A HREF=\"http://jo/\">Jo</A>\n"));
    ASSERT_TRUE(test::WriteFile(home + "/fav/Site.url", "[InternetShortcut]\nURL=http://fav/\n"));
    ASSERT_TRUE(test::WriteFile(home + "/prog/opera.ini", "[USER PREFS]\nHot List File Ver2=" + home + "/hot.adr\n"));
    ASSERT_TRUE(test::WriteFile(home + "/hot.adr", "#URL\nNAME=Hot\nURL=http://hot/\n"));
    ASSERT_TRUE(test::WriteFile(home + "/mine.html", "<DT><A HREF=\"http://mine/\">Mine</A>\n"));

    platform::Registry reg;
    using platform::Hive;
    reg.OpenKey(Hive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", true)
        .WriteString("Favorites", home + "/fav");
    reg.OpenKey(Hive::CurrentUser, "Software\\Netscape\\Netscape Navigator\\Bookmark List", true)
        .WriteString("File Location", home + "\\nav\\bookmark.htm");
    reg.OpenKey(Hive::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\jo", true)
        .WriteString("DirRoot", home + "/users/jo");
    reg.OpenKey(Hive::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users\\gone", true)
        .WriteString("DirRoot", home + "/none");

    desktop::BookmarkSources s;
    desktop::ReadRegistrySources(reg, s);
    s.home = home;
    s.programFolder = home + "/prog";
    s.bookmarksFile = home + "/mine.html";
    sqlite3* keepOpen = nullptr;  // Firefox holds its database open while it runs
    ASSERT_EQ(sqlite3_open((profile + "/places.sqlite").c_str(), &keepOpen), SQLITE_OK);
    const desktop::BookmarkItem root = desktop::ReadAllBookmarks(s);
    sqlite3_close(keepOpen);
    sqlite3_close(db);
    EXPECT_EQ(desktop::BookmarkListing(root),
              "MS IE Favorites\n  Site\thttp://fav/\n"
              "Navigator Bookmarks\n  Nav\thttp://nav/\n"
              "Communicator Users Bookmarks\n  jo\n    Jo\thttp://jo/\n"
              "Opera HotList\n  Hot\thttp://hot/\n"
              "Firefox Bookmarks\n  Bookmarks Menu\n    -\n    Debian\thttps://www.debian.org/\n"
              "  Bookmarks Toolbar\n    Work\n      Local docs\thttp://127.0.0.1/docs\n"
              "Chromium Bookmarks\n  Bookmarks bar\n    Chromium\thttps://www.chromium.org/\n    Nested\n      "
              "In\thttp://in/\n"
              "Bookmarks File\n  Mine\thttp://mine/\n");

    desktop::BookmarkItem broken;
    std::size_t entries = 0;
    desktop::BookmarkLevel level(broken, 0, entries);
    std::string error;
    ASSERT_TRUE(test::WriteFile(home + "/bad.sqlite", "not a database at all"));
    EXPECT_FALSE(desktop::ReadFirefoxPlaces(home + "/bad.sqlite", level, error));
    EXPECT_FALSE(error.empty());
}

TEST(Bookmarks, ChosenBookmarkBecomesAProject) {
    store::ProjectTree tree;
    store::ProjectFolder& first = tree.AddFolder("Default");
    store::ProjectFolder& second = tree.AddFolder("Second");
    store::Project defaults;
    defaults.Lev = 3;
    struct NoQuestions : Confirmation {
        bool Ask(Question, const std::string&, const std::string&) override { return false; }
        void ShowError(const std::string&, const std::string&) override {}
    } answers;
    TreeCommands commands(tree, defaults, answers, nullptr);
    store::Project& a = ProjectFromBookmark(commands, tree, defaults, "Host A", "host\\a?x\\y");
    EXPECT_EQ(a.URL, "http://host/a?x\\y");
    EXPECT_EQ(a.Caption, "Host A");
    EXPECT_EQ(a.Folder, &first);
    EXPECT_EQ(a.Lev, 3);
    commands.Select(Node{&second, nullptr});
    store::Project& b = ProjectFromBookmark(commands, tree, defaults, "Local", "file:///home/x.htm");
    EXPECT_EQ(b.URL, "file://home/x.htm");
    commands.Select(Node{&second, &b});  // a Project selected: its folder takes the new one
    store::Project& c = ProjectFromBookmark(commands, tree, defaults, "Third", "http://c/");
    EXPECT_EQ(c.Folder, &second);
    EXPECT_EQ(commands.Selected().project, &c);
}

}  // namespace
}  // namespace qm::app
