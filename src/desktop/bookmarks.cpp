#include "desktop/bookmarks.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

#include "platform/registry.h"
#include "store/string_list.h"

namespace qm::desktop {

namespace fs = std::filesystem;

namespace {

// Byte offsets of the characters of a UTF-8 text (continuation bytes belong to the character
// before them; other bytes count one each).
std::vector<std::size_t> CharacterStarts(std::string_view s) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 || starts.empty()) starts.push_back(i);
    return starts;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && store::CompareNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

std::size_t FindNoCase(std::string_view s, std::string_view what, std::size_t from = 0) {
    if (what.empty() || s.size() < what.size()) return std::string_view::npos;
    for (std::size_t i = from; i + what.size() <= s.size(); ++i)
        if (store::CompareNoCase(s.substr(i, what.size()), what) == 0) return i;
    return std::string_view::npos;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// Exported bookmark files escape "&", "<", ">" and quotes in titles and addresses; the
// common entities and numeric ASCII references are read back (others stay as written).
std::string DecodeEntities(std::string_view s) {
    static const std::pair<std::string_view, char> named[] = {{"&amp;", '&'},  {"&lt;", '<'},   {"&gt;", '>'},
                                                              {"&quot;", '"'}, {"&#39;", '\''}, {"&apos;", '\''}};
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        bool done = false;
        if (s[i] == '&') {
            for (const auto& [entity, c] : named)
                if (s.substr(i, entity.size()) == entity) {
                    out += c;
                    i += entity.size();
                    done = true;
                    break;
                }
            if (!done && s.substr(i, 2) == "&#") {
                std::size_t j = i + 2;
                int code = 0;
                while (j < s.size() && j < i + 5 && s[j] >= '0' && s[j] <= '9') code = code * 10 + (s[j++] - '0');
                if (j > i + 2 && j < s.size() && s[j] == ';' && code >= 32 && code < 127) {
                    out += static_cast<char>(code);
                    i = j + 1;
                    done = true;
                }
            }
        }
        if (!done) out += s[i++];
    }
    return out;
}

// The text between the first ">" at or after from and the next "<"; false without ">".
bool TextAfterTag(std::string_view line, std::size_t from, std::string& text) {
    const std::size_t gt = line.find('>', from);
    if (gt == std::string_view::npos) return false;
    const std::size_t lt = line.find('<', gt + 1);
    text = std::string(line.substr(gt + 1, lt == std::string_view::npos ? std::string_view::npos : lt - gt - 1));
    return true;
}

// One bookmark line: the address after "HREF" and the title after it.
bool ParseAnchor(std::string_view line, std::string& url, std::string& title) {
    std::size_t i = FindNoCase(line, "HREF");
    if (i == std::string_view::npos) return false;
    i += 4;
    char close = ' ';
    while (i < line.size() && (line[i] == ' ' || line[i] == '"' || line[i] == '\'' || line[i] == '=')) {
        if (line[i] == '"' || line[i] == '\'') close = line[i];
        ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '>' && line[i] != close) ++i;
    url = std::string(line.substr(start, i - start));
    return TextAfterTag(line, i, title);
}

void ReadHtmlLevel(const std::vector<std::string>& lines, std::size_t& pos, BookmarkLevel& level, int depth) {
    int flattened = 0;  // folders below the depth cap, read into this level
    while (pos < lines.size()) {
        const std::string& line = lines[pos++];
        if (const std::size_t h3 = FindNoCase(line, "<H3"); h3 != std::string::npos) {
            std::string title;
            TextAfterTag(line, h3, title);
            title = DecodeEntities(title);
            if (depth >= kBookmarkMaxDepth) {
                ++flattened;
                continue;
            }
            BookmarkItem* folder = level.AddFolder(title);
            if (!folder) return;
            BookmarkLevel inner = level.Inner(*folder);
            ReadHtmlLevel(lines, pos, inner, depth + 1);
        } else if (FindNoCase(line, "</DL") != std::string::npos) {
            if (flattened == 0) return;
            --flattened;
        } else if (FindNoCase(line, "<HR") != std::string::npos) {
            if (!level.AddSeparator()) return;
        } else if (FindNoCase(line, "<A ") != std::string::npos && FindNoCase(line, "HREF") != std::string::npos) {
            std::string url, title;
            if (ParseAnchor(line, url, title) && !level.AddLink(DecodeEntities(title), DecodeEntities(url))) return;
        }
    }
}

// The value after the first "=" of a hot-list line.
std::string AfterEquals(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string() : std::string(line.substr(eq + 1));
}

// Moves pos to the next line starting (lower case) with prefix; false at the end.
bool SkipTo(const std::vector<std::string_view>& lines, std::size_t& pos, std::string_view prefix) {
    while (pos < lines.size()) {
        if (StartsNoCase(lines[pos], prefix)) return true;
        ++pos;
    }
    return false;
}

void ReadOperaLevel(const std::vector<std::string_view>& lines, std::size_t& pos, BookmarkLevel& level, int depth) {
    int flattened = 0;
    while (pos < lines.size()) {
        const std::string_view line = lines[pos++];
        if (line.empty() || (line.front() != '#' && line.front() != '-')) continue;
        if (line.front() == '-') {
            if (flattened == 0) return;
            --flattened;
        } else if (StartsNoCase(line, "#folder")) {
            if (!SkipTo(lines, pos, "name")) return;
            const std::string title = AfterEquals(lines[pos++]);
            if (depth >= kBookmarkMaxDepth) {
                ++flattened;
                continue;
            }
            BookmarkItem* folder = level.AddFolder(title);
            if (!folder) return;
            BookmarkLevel inner = level.Inner(*folder);
            ReadOperaLevel(lines, pos, inner, depth + 1);
        } else if (StartsNoCase(line, "#url")) {
            if (!SkipTo(lines, pos, "name")) return;
            const std::string title = AfterEquals(lines[pos++]);
            if (!SkipTo(lines, pos, "url")) return;
            if (!level.AddLink(title, AfterEquals(lines[pos++]))) return;
        }
    }
}

struct DirId {
    dev_t dev;
    ino_t ino;
    bool operator<(const DirId& o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

void ReadFavoritesLevel(const fs::path& folder, BookmarkLevel& level, int depth, std::set<DirId>& seen) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return;
    seen.insert({st.st_dev, st.st_ino});
    std::vector<std::pair<std::string, fs::path>> folders, shortcuts;
    std::error_code ec;
    std::size_t count = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end && count < kBookmarkMaxEntries;
         it.increment(ec), ++count) {
        const std::string name = it->path().filename().string();
        std::error_code e2;
        if (it->is_directory(e2)) {
            if (!name.empty() && name.front() != '.') folders.emplace_back(ShortenedTitle(name), it->path());
        } else if (name.size() > 4 &&
                   store::CompareNoCase(std::string_view(name).substr(name.size() - 4), ".url") == 0) {
            shortcuts.emplace_back(ShortenedTitle(std::string_view(name).substr(0, name.size() - 4)), it->path());
        }
    }
    // Sorted by caption without regard to case; of equal captions only the first is kept.
    auto sortUnique = [](std::vector<std::pair<std::string, fs::path>>& list) {
        std::stable_sort(list.begin(), list.end(),
                         [](const auto& a, const auto& b) { return store::CompareNoCase(a.first, b.first) < 0; });
        list.erase(
            std::unique(list.begin(), list.end(),
                        [](const auto& a, const auto& b) { return store::CompareNoCase(a.first, b.first) == 0; }),
            list.end());
    };
    sortUnique(folders);
    sortUnique(shortcuts);
    for (const auto& [caption, path] : folders) {
        if (depth >= kBookmarkMaxDepth) break;
        // A folder reached before (a link back up the tree) is left out.
        if (::stat(path.c_str(), &st) != 0 || seen.count({st.st_dev, st.st_ino})) continue;
        BookmarkItem* sub = level.AddFolder(caption);
        if (!sub) return;
        BookmarkLevel inner = level.Inner(*sub);
        ReadFavoritesLevel(path, inner, depth + 1, seen);
    }
    for (const auto& [caption, path] : shortcuts) {
        std::string text;
        ReadFileCapped(path.string(), 64 * 1024, text);
        if (!level.AddLink(caption, ShortcutAddress(text))) return;
    }
}

}  // namespace

std::string ShortenedTitle(std::string_view title) {
    const std::vector<std::size_t> starts = CharacterStarts(title);
    if (starts.size() < 46) return std::string(title);
    return std::string(title.substr(0, starts[21])) + "..." + std::string(title.substr(starts[starts.size() - 21]));
}

BookmarkItem* BookmarkLevel::Add(BookmarkItem item) {
    if (entries_ >= kBookmarkMaxEntries) return nullptr;
    if (item.kind == BookmarkItem::Kind::Folder && depth_ + 1 >= kBookmarkMaxMenuDepth) return nullptr;
    ++count_;
    if (max_ > 0 && count_ >= max_) {
        if (depth_ + 1 >= kBookmarkMaxMenuDepth) return nullptr;
        ++depth_;
        BookmarkItem more;
        more.kind = BookmarkItem::Kind::Folder;
        more.caption = ">>";
        current_->children.push_back(std::move(more));
        current_ = &current_->children.back();
        count_ = 1;
        ++entries_;
    }
    ++entries_;
    current_->children.push_back(std::move(item));
    return &current_->children.back();
}

BookmarkItem* BookmarkLevel::AddFolder(const std::string& title) {
    BookmarkItem item;
    item.kind = BookmarkItem::Kind::Folder;
    item.caption = ShortenedTitle(title);
    return Add(std::move(item));
}

BookmarkItem* BookmarkLevel::AddLink(const std::string& title, const std::string& url) {
    BookmarkItem item;
    item.caption = ShortenedTitle(title);
    item.url = url;
    return Add(std::move(item));
}

BookmarkItem* BookmarkLevel::AddSeparator() {
    BookmarkItem item;
    item.kind = BookmarkItem::Kind::Separator;
    item.caption = "-";
    return Add(std::move(item));
}

bool ReadFileCapped(const std::string& path, std::size_t cap, std::string& data) {
    data.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > cap)
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    data.resize(static_cast<std::size_t>(st.st_size));
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

void ReadBookmarkHtml(std::string_view text, BookmarkLevel& level) {
    if (text.size() > kBookmarkFileMaxBytes) text = text.substr(0, kBookmarkFileMaxBytes);
    const std::vector<std::string> lines = store::SplitLines(text);
    std::size_t pos = 0;
    // The file's last closing list tag ends the top level; anything after it is not read.
    ReadHtmlLevel(lines, pos, level, 0);
}

void ReadOperaHotList(std::string_view text, BookmarkLevel& level) {
    if (text.size() > kBookmarkFileMaxBytes) text = text.substr(0, kBookmarkFileMaxBytes);
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(TrimBlanks(text.substr(at, end - at)));
        at = end + 1;
    }
    std::size_t pos = 0;
    ReadOperaLevel(lines, pos, level, 0);
}

std::string ShortcutAddress(std::string_view text) {
    bool inSection = false;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = TrimBlanks(text.substr(at, end - at));
        at = end + 1;
        if (!line.empty() && line.front() == '[') {
            inSection = store::CompareNoCase(line, "[InternetShortcut]") == 0;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (inSection && eq != std::string_view::npos &&
            store::CompareNoCase(TrimBlanks(line.substr(0, eq)), "URL") == 0)
            return std::string(line.substr(eq + 1));
    }
    return "N/A";
}

void ReadFavoritesFolder(const std::string& folder, BookmarkLevel& level) {
    std::set<DirId> seen;
    ReadFavoritesLevel(folder, level, 0, seen);
}

int MaxPerMenuFor(int availableHeight, int lineHeight) {
    if (availableHeight < 1 || lineHeight < 1) return 0;
    const int n = availableHeight / lineHeight - 4;
    return n < 3 ? 0 : n;
}

namespace {
void List(const BookmarkItem& item, int depth, std::string& out) {
    for (const BookmarkItem& c : item.children) {
        out.append(static_cast<std::size_t>(depth) * 2, ' ');
        if (c.kind == BookmarkItem::Kind::Link)
            out += c.caption + "\t" + c.url + "\n";
        else
            out += c.caption + "\n";
        if (c.kind == BookmarkItem::Kind::Folder) List(c, depth + 1, out);
    }
}
}  // namespace

std::string BookmarkListing(const BookmarkItem& root) {
    std::string out;
    List(root, 0, out);
    return out;
}

}  // namespace qm::desktop
