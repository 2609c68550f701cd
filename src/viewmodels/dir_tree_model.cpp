// Building the site-map tree from a list or from the disk.
#include "viewmodels/dir_tree_model.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "store/options.h"

namespace qm::viewmodels {

namespace fs = std::filesystem;

namespace {
constexpr char kSep = '/';
bool IsSep(char c) { return c == '/' || c == '\\'; }

bool StartsNoCase(const std::string& text, const std::string& prefix) {
    return !prefix.empty() && text.size() >= prefix.size() &&
           store::CompareNoCase(std::string_view(text).substr(0, prefix.size()), prefix) == 0;
}

std::unique_ptr<MapNode> MakeNode(const std::string& caption, int image, int selected) {
    auto n = std::make_unique<MapNode>();
    n->Caption = caption;
    n->Key = store::LowerCase(caption);
    n->Image = image;
    n->SelectedImage = selected;
    return n;
}

std::vector<std::string> Split(const std::string& rest) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : rest) {
        if (IsSep(c)) {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

bool FileThere(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}
}  // namespace

int MapNode::Depth() const {
    int d = 0;
    for (const MapNode* p = Parent; p; p = p->Parent) ++d;
    return d;
}

bool DirTreeModel::Hidden(const std::string& name) {
    std::string l = store::LowerCase(name);
    return l.empty() || l == "." || l == ".." || l == "descr.dat" || l == "descr.qv3" ||
           (l.size() >= 8 && l.compare(l.size() - 8, 8, ".primary") == 0);
}

std::string& DirTreeModel::CachedRoot() {
    static std::string root;
    return root;
}

void DirTreeModel::SetDirectory(const std::string& path) {
    std::string d = path;
    if (Mode == kFolderMode && !d.empty() && !IsSep(d.back())) d += kSep;
    directory_ = d;
    if (active_) Rebuild();
}

void DirTreeModel::SetActive(bool active) {
    active_ = active;
    if (active) {
        Rebuild();
    } else {
        if (Notify.beginReset) Notify.beginReset();
        top_.clear();
        if (Notify.endReset) Notify.endReset();
    }
}

void DirTreeModel::Rebuild() {
    if (Notify.beginReset) Notify.beginReset();
    resetting_ = true;
    top_.clear();
    if (Mode == kFolderMode && !directory_.empty() && !IsSep(directory_.back())) directory_ += kSep;
    if (!directory_.empty()) {
        if (Mode == kFolderMode) {
            top_.push_back(MakeNode("Web Sites", 0, 0));
            std::error_code ec;
            if (fs::is_directory(directory_, ec)) Fill(*top_.front(), true);
        } else if (List) {
            top_.push_back(MakeNode(RootCaption, 0, 0));
            const auto& items = List->Items();
            int last = static_cast<int>(items.size()) - 1;
            for (int i = 0; i <= last; ++i) {
                if (OnProgress) OnProgress(i, last);
                AddLine(items[i]);
            }
            if (OnProgress) OnProgress(-1, -1);
        } else {
            top_.push_back(MakeNode("No Project selected", 0, 0));
        }
    }
    resetting_ = false;
    if (Notify.endReset) Notify.endReset();
}

std::string DirTreeModel::RootFor(const std::string& path) const {
    if (StartsNoCase(path, directory_)) return directory_;
    std::string& cached = CachedRoot();
    if (StartsNoCase(path, cached)) return cached;
    cached.clear();
    // An empty download folder would match every path: it is never taken.
    for (const std::string& dd : store::Options().DDs.Items())
        if (StartsNoCase(path, dd)) {
            cached = dd;
            return dd;
        }
    return {};
}

void DirTreeModel::Insert(MapNode& parent, std::size_t at, std::unique_ptr<MapNode> node) {
    node->Parent = &parent;
    bool tell = !resetting_ && Notify.beginInsert;
    if (tell) Notify.beginInsert(&parent, static_cast<int>(at), static_cast<int>(at));
    parent.Children.insert(parent.Children.begin() + static_cast<std::ptrdiff_t>(at), std::move(node));
    if (tell && Notify.endInsert) Notify.endInsert();
}

MapNode* DirTreeModel::FindOrInsert(MapNode& parent, const std::string& name, bool folder) {
    if (Hidden(name)) return nullptr;
    auto& kids = parent.Children;
    std::string key = store::LowerCase(name);
    // Folders come first, each group in ascending order of lower-case names: both searches
    // are binary, which keeps a map of many thousands of files quick to build.
    auto folderEnd = std::partition_point(kids.begin(), kids.end(), [](const auto& n) { return n->IsFolder(); });
    auto from = folder ? kids.begin() : folderEnd;
    auto to = folder ? folderEnd : kids.end();
    auto it = std::lower_bound(from, to, key, [](const auto& n, const std::string& k) { return n->Key < k; });
    if (it != to && (*it)->Key == key) return it->get();
    std::size_t at = static_cast<std::size_t>(it - kids.begin());
    int depth = parent.Depth() + 1;
    auto node = folder ? MakeNode(name, depth == 1 ? 1 : 2, depth == 1 ? 1 : 3) : MakeNode(name, 4, 4);
    MapNode* raw = node.get();
    Insert(parent, at, std::move(node));
    return raw;
}

MapNode* DirTreeModel::AddLine(const std::string& line) {
    if (top_.empty()) return nullptr;
    std::string path = line, text;
    if (auto tab = line.find('\t'); tab != std::string::npos) {
        path = line.substr(0, tab);
        text = line.substr(tab + 1);
    }
    if (path.empty() || !FileThere(path)) return nullptr;
    std::string root = RootFor(path);
    if (root.empty()) return nullptr;
    std::vector<std::string> parts = Split(path.substr(root.size()));
    if (parts.empty()) return nullptr;
    for (const std::string& p : parts)
        if (p == "." || p == "..") return nullptr;
    MapNode* node = top_.front().get();
    std::string folder = root;
    while (!folder.empty() && IsSep(folder.back())) folder.pop_back();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        node = FindOrInsert(*node, parts[i], true);
        if (!node) return nullptr;
        folder += kSep + parts[i];
    }
    folder += kSep;
    MapNode* file = FindOrInsert(*node, parts.back(), false);
    if (!file) return nullptr;
    int index = OnGetIndex ? OnGetIndex(folder, text, parts.back()) : 4;
    file->Image = file->SelectedImage = index;
    return file;
}

std::string DirTreeModel::NodePath(const MapNode& node) const {
    std::vector<const MapNode*> chain;
    for (const MapNode* p = &node; p && p->Parent; p = p->Parent) chain.push_back(p);
    if (chain.empty()) return {};
    std::string path = directory_;
    if (!path.empty() && !IsSep(path.back())) path += kSep;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path += (*it)->Caption;
        if (it + 1 != chain.rend()) path += kSep;
    }
    return path;
}

void DirTreeModel::Fill(MapNode& node, bool force) {
    if (Mode != kFolderMode) return;
    if (!force && (node.Children.empty() || !node.Children.front()->Placeholder)) return;
    if (!node.Children.empty()) {
        bool tell = !resetting_ && Notify.beginRemove;
        if (tell) Notify.beginRemove(&node, 0, static_cast<int>(node.Children.size()) - 1);
        node.Children.clear();
        if (tell && Notify.endRemove) Notify.endRemove();
    }
    std::string folder = node.Parent ? NodePath(node) + kSep : directory_;
    std::vector<std::string> folders, files;
    std::error_code ec;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return;
    std::size_t entries = 0;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        ++entries;
        std::string name = it->path().filename().string();
        if (Hidden(name)) continue;
        std::error_code e2;
        (it->is_directory(e2) ? folders : files).push_back(name);
    }
    auto byName = [](const std::string& a, const std::string& b) { return store::CompareNoCase(a, b) < 0; };
    std::sort(folders.begin(), folders.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    int depth = node.Depth() + 1;
    std::vector<std::unique_ptr<MapNode>> kids;
    for (const std::string& f : folders) {
        auto n = MakeNode(f, depth == 1 ? 1 : 2, depth == 1 ? 1 : 3);
        auto fake = MakeNode("fake", -1, -1);
        fake->Placeholder = true;
        fake->Parent = n.get();
        n->Children.push_back(std::move(fake));
        kids.push_back(std::move(n));
    }
    int last = static_cast<int>(entries) - 1, pos = 0;
    for (const std::string& f : files) {
        if (OnProgress) OnProgress(pos++, last);
        int index = OnGetIndex ? OnGetIndex(folder, "", f) : 4;
        kids.push_back(MakeNode(f, index, index));
    }
    if (OnProgress) OnProgress(-1, -1);
    if (kids.empty()) return;
    bool tell = !resetting_ && Notify.beginInsert;
    if (tell) Notify.beginInsert(&node, 0, static_cast<int>(kids.size()) - 1);
    for (auto& k : kids) {
        k->Parent = &node;
        node.Children.push_back(std::move(k));
    }
    if (tell && Notify.endInsert) Notify.endInsert();
}

MapNode* DirTreeModel::FindNode(const std::string& path) {
    MapNode* node = First();
    if (!node) return nullptr;
    std::string rest = path;
    if (StartsNoCase(rest, directory_))
        rest = rest.substr(directory_.size());
    else if (!directory_.empty() && IsSep(directory_.back()) &&
             StartsNoCase(rest, directory_.substr(0, directory_.size() - 1)))
        rest = rest.substr(directory_.size() - 1);
    for (const std::string& seg : Split(rest)) {
        Fill(*node, false);
        std::string key = store::LowerCase(seg);
        MapNode* found = nullptr;
        for (auto& c : node->Children)
            if (!c->Placeholder && c->Key == key) {
                found = c.get();
                break;
            }
        if (!found) return nullptr;
        node = found;
    }
    return node == First() ? nullptr : node;
}

bool DirTreeModel::Remove(MapNode& node) {
    MapNode* parent = node.Parent;
    if (!parent) return false;
    auto& kids = parent->Children;
    auto it = std::find_if(kids.begin(), kids.end(), [&](const auto& k) { return k.get() == &node; });
    if (it == kids.end()) return false;
    int row = static_cast<int>(it - kids.begin());
    if (Notify.beginRemove) Notify.beginRemove(parent, row, row);
    kids.erase(it);
    if (Notify.endRemove) Notify.endRemove();
    return true;
}

MapNode* DirTreeModel::Next(const MapNode* after, const std::vector<std::unique_ptr<MapNode>>& top) {
    if (!after) return top.empty() ? nullptr : top.front().get();
    if (!after->Children.empty()) return after->Children.front().get();
    for (const MapNode* n = after; n; n = n->Parent) {
        const auto& siblings = n->Parent ? n->Parent->Children : top;
        auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& k) { return k.get() == n; });
        if (it != siblings.end() && it + 1 != siblings.end()) return (it + 1)->get();
    }
    return nullptr;
}

}  // namespace qm::viewmodels
