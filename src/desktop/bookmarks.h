#pragma once
// The user's web-browser bookmarks as plain data, ready to become a menu: folders become
// submenus, bookmarks items whose caption is the shortened title and whose hint is the
// address, separators items with the caption "-". Reading happens on a background thread;
// only the finished tree is handed to the window.
//
// Every reader takes files anyone may have written: files are capped in size, folders in
// depth, the whole tree in entries, and folder links are never followed round in a circle.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::platform {
class Registry;
}  // namespace qm::platform

namespace qm::desktop {

constexpr std::size_t kBookmarkFileMaxBytes = 16 * 1024 * 1024;
constexpr std::size_t kBookmarkDatabaseMaxBytes = 256 * 1024 * 1024;
constexpr int kBookmarkMaxDepth = 32;
constexpr std::size_t kBookmarkMaxEntries = 50000;
// Menu levels below the top, ">>" levels included: keeps every walk over the tree shallow.
constexpr int kBookmarkMaxMenuDepth = 300;

struct BookmarkItem {
    enum class Kind { Folder, Link, Separator };
    Kind kind = Kind::Link;
    std::string caption;  // shortened title ("-" for a separator, ">>" for an overflow level)
    std::string url;      // bookmarks only
    std::vector<BookmarkItem> children;
};

// A title of 46 characters or more: its first 21 characters, "..." and its last 21.
std::string ShortenedTitle(std::string_view title);

// Adds entries to one menu level with the overflow rule: with maxPerMenu above 0 a level
// holds at most maxPerMenu entries, the last of them a ">>" submenu holding the rest. A
// maxPerMenu below 3 means no limit (a level could not hold more than its ">>").
class BookmarkLevel {
public:
    BookmarkLevel(BookmarkItem& level, int maxPerMenu, std::size_t& entries, int depth = 0)
        : current_(&level), max_(maxPerMenu < 3 ? 0 : maxPerMenu), entries_(entries), depth_(depth) {}
    // The level of a folder added here.
    BookmarkLevel Inner(BookmarkItem& folder) { return BookmarkLevel(folder, max_, entries_, depth_ + 1); }
    // The added item, or null when the tree is full.
    BookmarkItem* AddFolder(const std::string& title);
    BookmarkItem* AddLink(const std::string& title, const std::string& url);
    BookmarkItem* AddSeparator();
    int MaxPerMenu() const { return max_; }
    std::size_t& Entries() { return entries_; }

private:
    BookmarkItem* Add(BookmarkItem item);
    BookmarkItem* current_;
    int count_ = 0;
    int max_;
    std::size_t& entries_;
    int depth_;
};

// Readers into a level (title shortening and the overflow rule applied). The text forms
// take the file's contents; the path forms read a file (capped) and return false when it is
// missing or too large.
void ReadBookmarkHtml(std::string_view text, BookmarkLevel& level);
void ReadOperaHotList(std::string_view text, BookmarkLevel& level);
// A favorites folder: subfolders, then the ".url" shortcut files, each sorted by caption
// without regard to case, the first of equal captions kept.
void ReadFavoritesFolder(const std::string& folder, BookmarkLevel& level);
// An ini-style shortcut file's "URL" of "[InternetShortcut]", "N/A" when absent.
std::string ShortcutAddress(std::string_view text);
// Firefox places.sqlite (read from a private copy, since Firefox keeps it locked) and
// Chromium's "Bookmarks" JSON. False with error when the file cannot be read.
bool ReadFirefoxPlaces(const std::string& placesFile, BookmarkLevel& level, std::string& error);
void ReadChromiumBookmarks(std::string_view json, BookmarkLevel& level);
bool ReadFileCapped(const std::string& path, std::size_t cap, std::string& data);

// Where the bookmarks are looked for. The registry's entries are read into it on the main
// thread (ReadRegistrySources); the files are read on the bookmark thread.
struct BookmarkSources {
    std::string favoritesFolder;                                         // the favorites folder's "Favorites" entry
    std::string navigatorFile;                                           // Navigator's "File Location"
    std::vector<std::pair<std::string, std::string>> communicatorUsers;  // user name, "DirRoot"
    std::string home;           // the user's home folder (Firefox and Chromium profiles)
    std::string programFolder;  // "opera.ini" is looked for here
    std::string bookmarksFile;  // a bookmarks HTML file the user named (option), or empty
    int maxPerMenu = 0;         // 0: no overflow levels
};

// Fills the registry part of sources from the browsers' registry entries.
void ReadRegistrySources(platform::Registry& registry, BookmarkSources& sources);
// The sources of this machine: the registry's entries, the home folder, the program folder.
BookmarkSources MachineSources(platform::Registry& registry, const std::string& bookmarksFile, int maxPerMenu);

// Reads every source present, in order: the favorites folder, Navigator, Communicator
// users, the Opera hot list, then Firefox, Chromium, Chrome and the named file. Each
// becomes a submenu of the returned folder.
BookmarkItem ReadAllBookmarks(const BookmarkSources& sources);

// Menu lines per level for a screen: available height / line height - 4; 0 (no limit) when
// either metric is below 1 or the result is below 3.
int MaxPerMenuFor(int availableHeight, int lineHeight);

// Text lines for listing (quillmoor-cli bookmarks): folders indented by two spaces a level,
// bookmarks as "caption<TAB>address".
std::string BookmarkListing(const BookmarkItem& root);

}  // namespace qm::desktop
