#pragma once
// The site-map tree of the map page and of the keyword picker, without widgets: in list
// mode it is built from a Project's site-map list, in folder mode it reads the download
// folder one folder at a time as nodes are expanded. A view adapter listens to the change
// hooks and shows the nodes; pictures are indexes into the window's image list.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/string_list.h"

namespace qm::viewmodels {

struct MapNode {
    std::string Caption;
    std::string Key;  // Caption in lower case: the order and the comparisons use it
    int Image = -1;
    int SelectedImage = -1;
    bool Placeholder = false;  // stands for the unread content of a folder (folder mode)
    MapNode* Parent = nullptr;
    std::vector<std::unique_ptr<MapNode>> Children;

    bool IsFolder() const { return Image < 4 || !Children.empty(); }
    int Depth() const;  // 0 for a root node
};

class DirTreeModel {
public:
    static constexpr int kFolderMode = 1;

    // Change hooks for a view (parent nullptr = the top level).
    struct Hooks {
        std::function<void()> beginReset, endReset;
        std::function<void(MapNode*parent, int first, int last)> beginInsert, beginRemove;
        std::function<void()> endInsert, endRemove;
    } Notify;
    // The picture of a file: its folder (ending with the separator), the text after a tab of
    // its list line (empty in folder mode) and its name. Unset: picture 4.
    std::function<int(const std::string& folder, const std::string& text, const std::string& name)> OnGetIndex;
    // Progress while nodes are added; a maximum of -1 ends the report.
    std::function<void(int position, int maximum)> OnProgress;

    // The root folder. Names are kept as they are; only comparisons fold case. In folder mode
    // a separator is appended. Rebuilds while active.
    void SetDirectory(const std::string& path);
    const std::string& Directory() const { return directory_; }
    void SetActive(bool active);
    bool Active() const { return active_; }
    int Mode = kFolderMode;
    const store::SortedStringList* List = nullptr;  // not owned
    std::string RootCaption;

    const std::vector<std::unique_ptr<MapNode>>& Top() const { return top_; }
    MapNode* First() const { return top_.empty() ? nullptr : top_.front().get(); }

    void Rebuild();
    // List mode: adds one site-map line; returns the file node or nullptr when skipped.
    MapNode* AddLine(const std::string& line);
    // Folder mode: reads the node's folder unless its children are real already.
    void Fill(MapNode& node, bool force);
    // The node of a full local path, filling folders on the way in folder mode.
    MapNode* FindNode(const std::string& path);
    // The local path a node stands for: the root folder and the captions below the root
    // joined by the separator (folders end without one). Empty for the root node itself.
    std::string NodePath(const MapNode& node) const;
    // Removes node (not a root node) with its children.
    bool Remove(MapNode& node);

    // The next node in tree order after `after` (nullptr: the first node).
    static MapNode* Next(const MapNode* after, const std::vector<std::unique_ptr<MapNode>>& top);

    // Names that never become nodes.
    static bool Hidden(const std::string& name);
    // The download folder under which the last list line was found, shared by every tree.
    static std::string& CachedRoot();

private:
    std::string RootFor(const std::string& path) const;
    MapNode* FindOrInsert(MapNode& parent, const std::string& name, bool folder);
    void Insert(MapNode& parent, std::size_t at, std::unique_ptr<MapNode> node);
    bool Resetting() const { return resetting_; }

    std::string directory_;
    bool active_ = false;
    bool resetting_ = false;
    std::vector<std::unique_ptr<MapNode>> top_;
};

}  // namespace qm::viewmodels
