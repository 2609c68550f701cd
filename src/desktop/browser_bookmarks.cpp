// The sources of the bookmarks menu: the browsers' registry entries and files, Firefox's
// places database and Chromium's bookmarks file.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <set>

#include "desktop/bookmarks.h"
#include "engine/local_path.h"
#include "platform/program_folder.h"
#include "platform/registry.h"
#include "store/string_list.h"

namespace qm::desktop {

namespace fs = std::filesystem;

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool IsFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Registry paths may be written the Windows way.
std::string LocalPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// The value of name in section of an ini text.
std::string IniValue(std::string_view text, std::string_view section, std::string_view name) {
    bool in = false;
    for (const std::string& raw : store::SplitLines(text)) {
        std::string_view line = raw;
        while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ') line.remove_prefix(1);
        if (!line.empty() && line.front() == '[') {
            const std::size_t close = line.find(']');
            in =
                store::CompareNoCase(line.substr(1, close == std::string_view::npos ? close : close - 1), section) == 0;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (in && eq != std::string_view::npos && store::CompareNoCase(line.substr(0, eq), name) == 0)
            return std::string(line.substr(eq + 1));
    }
    return {};
}

BookmarkLevel Sub(BookmarkLevel& level, const std::string& caption) {
    BookmarkItem* folder = level.AddFolder(caption);
    static BookmarkItem overflow;  // never shown: the tree is full
    return level.Inner(folder ? *folder : overflow);
}

// Subfolders of dir, sorted, holding file.
std::vector<std::string> ProfilesWith(const std::string& dir, const std::string& file) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end && out.size() < 100; it.increment(ec))
        if (IsFile((it->path() / file).string())) out.push_back(it->path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

struct PlaceRow {
    std::int64_t id = 0, parent = 0, position = 0;
    int type = 0;
    std::string title, url, guid;
};

void AddPlaces(const std::map<std::int64_t, std::vector<const PlaceRow*>>& children, std::int64_t parent,
               BookmarkLevel& level, int depth, std::set<std::int64_t>& seen) {
    auto it = children.find(parent);
    if (it == children.end() || depth > kBookmarkMaxDepth || !seen.insert(parent).second) return;
    for (const PlaceRow* row : it->second) {
        if (row->type == 3) {
            if (!level.AddSeparator()) return;
        } else if (row->type == 2) {
            BookmarkItem* folder = level.AddFolder(row->title);
            if (!folder) return;
            BookmarkLevel inner = level.Inner(*folder);
            AddPlaces(children, row->id, inner, depth + 1, seen);
        } else if (row->type == 1 && !row->url.empty() && row->url.rfind("place:", 0) != 0) {
            if (!level.AddLink(row->title.empty() ? row->url : row->title, row->url)) return;
        }
    }
}

std::string ColumnText(sqlite3_stmt* st, int col) {
    const unsigned char* t = sqlite3_column_text(st, col);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           std::min<std::size_t>(static_cast<std::size_t>(sqlite3_column_bytes(st, col)), 8192))
             : std::string();
}

void AddChromiumNode(const QJsonObject& node, BookmarkLevel& level, int depth) {
    const QString type = node.value("type").toString();
    const std::string name = node.value("name").toString().toStdString();
    if (type == "url") {
        level.AddLink(name, node.value("url").toString().toStdString());
        return;
    }
    if (type != "folder" || depth > kBookmarkMaxDepth) return;
    BookmarkItem* folder = level.AddFolder(name);
    if (!folder) return;
    BookmarkLevel inner = level.Inner(*folder);
    for (const QJsonValue& child : node.value("children").toArray())
        if (child.isObject()) AddChromiumNode(child.toObject(), inner, depth + 1);
}

}  // namespace

bool ReadFirefoxPlaces(const std::string& placesFile, BookmarkLevel& level, std::string& error) {
    struct stat st {};
    if (::stat(placesFile.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = placesFile + " not found";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kBookmarkDatabaseMaxBytes) {
        error = placesFile + " is too large";
        return false;
    }
    static std::atomic<unsigned> copies{0};
    // Firefox keeps its database locked while it runs: a private copy (with its write-ahead
    // log, which holds the newest changes) is read instead.
    const std::string dir = engine::TemporaryFolder();
    if (dir.empty()) {
        error = "no private temporary folder";
        return false;
    }
    const std::string copy = dir + "/places-" + std::to_string(::getpid()) + "-" + std::to_string(++copies) + ".sqlite";
    std::error_code ec;
    fs::copy_file(placesFile, copy, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        error = "could not copy " + placesFile + ": " + ec.message();
        return false;
    }
    if (IsFile(placesFile + "-wal"))
        fs::copy_file(placesFile + "-wal", copy + "-wal", fs::copy_options::overwrite_existing, ec);
    auto cleanup = [&copy] {
        std::error_code e;
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(copy + suffix, e);
    };

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        error = std::string("cannot open the copy: ") + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        cleanup();
        return false;
    }
    sqlite3_busy_timeout(db, 1000);
    const char* sql =
        "SELECT b.id, b.parent, b.position, b.type, IFNULL(b.title, ''), IFNULL(p.url, ''), IFNULL(b.guid, '') "
        "FROM moz_bookmarks b LEFT JOIN moz_places p ON p.id = b.fk ORDER BY b.parent, b.position LIMIT ?";
    sqlite3_stmt* stmt = nullptr;
    std::vector<PlaceRow> rows;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_int64(stmt, 1, static_cast<sqlite3_int64>(kBookmarkMaxEntries));
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            PlaceRow r;
            r.id = sqlite3_column_int64(stmt, 0);
            r.parent = sqlite3_column_int64(stmt, 1);
            r.position = sqlite3_column_int64(stmt, 2);
            r.type = sqlite3_column_int(stmt, 3);
            r.title = ColumnText(stmt, 4);
            r.url = ColumnText(stmt, 5);
            r.guid = ColumnText(stmt, 6);
            rows.push_back(std::move(r));
        }
    } else {
        error = std::string("not a Firefox places database: ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    cleanup();
    if (!error.empty()) return false;

    std::map<std::int64_t, std::vector<const PlaceRow*>> children;
    for (const PlaceRow& r : rows) children[r.parent].push_back(&r);
    // The roots (menu, toolbar, other, mobile) under the root folder, with readable names.
    static const std::map<std::string, std::string> rootNames = {
        {"menu________", "Bookmarks Menu"},
        {"toolbar_____", "Bookmarks Toolbar"},
        {"unfiled_____", "Other Bookmarks"},
        {"mobile______", "Mobile Bookmarks"},
    };
    std::set<std::int64_t> seen;
    for (const PlaceRow& r : rows) {
        if (r.guid != "root________") continue;
        seen.insert(r.id);
        auto it = children.find(r.id);
        if (it == children.end()) break;
        for (const PlaceRow* root : it->second) {
            if (root->type != 2 || root->guid == "tags________") continue;
            auto name = rootNames.find(root->guid);
            BookmarkItem* folder = level.AddFolder(name != rootNames.end() ? name->second : root->title);
            if (!folder) break;
            BookmarkLevel inner = level.Inner(*folder);
            AddPlaces(children, root->id, inner, 1, seen);
        }
    }
    return true;
}

void ReadChromiumBookmarks(std::string_view json, BookmarkLevel& level) {
    if (json.size() > kBookmarkFileMaxBytes) return;
    QJsonParseError err;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &err);
    if (!doc.isObject()) return;
    const QJsonObject roots = doc.object().value("roots").toObject();
    for (const char* key : {"bookmark_bar", "other", "synced"}) {
        const QJsonObject root = roots.value(key).toObject();
        if (root.value("children").toArray().isEmpty()) continue;
        AddChromiumNode(root, level, 1);
    }
}

void ReadRegistrySources(platform::Registry& registry, BookmarkSources& s) {
    using platform::Hive;
    platform::RegKey shell = registry.OpenKey(
        Hive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false);
    shell.ReadString("Favorites", s.favoritesFolder);
    platform::RegKey list =
        registry.OpenKey(Hive::CurrentUser, "Software\\Netscape\\Netscape Navigator\\Bookmark List", false);
    list.ReadString("File Location", s.navigatorFile);
    platform::RegKey users =
        registry.OpenKey(Hive::LocalMachine, "Software\\Netscape\\Netscape Navigator\\Users", false);
    for (const std::string& user : users.SubKeys()) {
        std::string root;
        users.OpenKey(user, false).ReadString("DirRoot", root);
        s.communicatorUsers.emplace_back(user, root);
    }
}

BookmarkSources MachineSources(platform::Registry& registry, const std::string& bookmarksFile, int maxPerMenu) {
    BookmarkSources s;
    ReadRegistrySources(registry, s);
    s.home = platform::HomeDirectory();
    s.programFolder = platform::ProgramFolder();
    s.bookmarksFile = bookmarksFile;
    s.maxPerMenu = maxPerMenu;
    return s;
}

BookmarkItem ReadAllBookmarks(const BookmarkSources& s) {
    BookmarkItem root;
    root.kind = BookmarkItem::Kind::Folder;
    std::size_t entries = 0;
    BookmarkLevel top(root, s.maxPerMenu, entries);
    std::string text;

    if (IsFolder(LocalPath(s.favoritesFolder))) {
        BookmarkLevel sub = Sub(top, "MS IE Favorites");
        ReadFavoritesFolder(LocalPath(s.favoritesFolder), sub);
    }
    if (IsFile(LocalPath(s.navigatorFile)) && ReadFileCapped(LocalPath(s.navigatorFile), kBookmarkFileMaxBytes, text)) {
        BookmarkLevel sub = Sub(top, "Navigator Bookmarks");
        ReadBookmarkHtml(text, sub);
    }
    if (!s.communicatorUsers.empty()) {
        BookmarkLevel users = Sub(top, "Communicator Users Bookmarks");
        for (const auto& [user, dirRoot] : s.communicatorUsers) {
            const std::string file = LocalPath(dirRoot) + "/bookmark.htm";
            if (!IsFile(file) || !ReadFileCapped(file, kBookmarkFileMaxBytes, text)) continue;
            BookmarkLevel sub = Sub(users, user);
            ReadBookmarkHtml(text, sub);
        }
    }
    // The Windows folder's "opera.ini" is looked for in the program folder; Opera for Linux
    // keeps its hot list as ~/.opera/opera6.adr.
    std::string hotList;
    if (!s.programFolder.empty() && ReadFileCapped(s.programFolder + "/opera.ini", 1024 * 1024, text))
        hotList = LocalPath(IniValue(text, "USER PREFS", "HOT LIST FILE VER2"));
    if (!IsFile(hotList) && !s.home.empty()) hotList = s.home + "/.opera/opera6.adr";
    if (IsFile(hotList) && ReadFileCapped(hotList, kBookmarkFileMaxBytes, text)) {
        BookmarkLevel sub = Sub(top, "Opera HotList");
        ReadOperaHotList(text, sub);
    }

    if (!s.home.empty()) {
        const std::string firefox = s.home + "/.mozilla/firefox";
        const std::vector<std::string> profiles = ProfilesWith(firefox, "places.sqlite");
        if (!profiles.empty()) {
            BookmarkLevel sub = Sub(top, "Firefox Bookmarks");
            for (const std::string& p : profiles) {
                std::string error;
                if (profiles.size() == 1) {
                    ReadFirefoxPlaces(firefox + "/" + p + "/places.sqlite", sub, error);
                } else {
                    BookmarkLevel profile = Sub(sub, p);
                    ReadFirefoxPlaces(firefox + "/" + p + "/places.sqlite", profile, error);
                }
            }
        }
        for (const auto& [dir, caption] :
             {std::pair<std::string, std::string>{"/.config/chromium", "Chromium Bookmarks"},
              {"/.config/google-chrome", "Chrome Bookmarks"}}) {
            const std::vector<std::string> chromeProfiles = ProfilesWith(s.home + dir, "Bookmarks");
            if (chromeProfiles.empty()) continue;
            BookmarkLevel sub = Sub(top, caption);
            for (const std::string& p : chromeProfiles) {
                if (!ReadFileCapped(s.home + dir + "/" + p + "/Bookmarks", kBookmarkFileMaxBytes, text)) continue;
                if (chromeProfiles.size() == 1) {
                    ReadChromiumBookmarks(text, sub);
                } else {
                    BookmarkLevel profile = Sub(sub, p);
                    ReadChromiumBookmarks(text, profile);
                }
            }
        }
    }
    if (IsFile(s.bookmarksFile) && ReadFileCapped(s.bookmarksFile, kBookmarkFileMaxBytes, text)) {
        BookmarkLevel sub = Sub(top, "Bookmarks File");
        ReadBookmarkHtml(text, sub);
    }
    return root;
}

}  // namespace qm::desktop
