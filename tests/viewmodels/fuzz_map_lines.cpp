// Site-map lines and tool lists as read from files the user or another program may have
// written: every line goes into a list-mode map below "/" and through the tool list reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "viewmodels/dir_tree_model.h"
#include "desktop/tool_list.h"
#include "store/string_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    qm::store::SortedStringList list;
    list.SetText(text);
    qm::viewmodels::DirTreeModel map;
    map.Mode = 0;
    map.List = &list;
    map.RootCaption = "fuzz";
    map.OnGetIndex = [](const std::string&, const std::string&, const std::string& name) {
        return static_cast<int>(name.size() % 30);
    };
    map.SetDirectory("/");
    map.SetActive(true);
    for (const std::string& line : qm::store::SplitLines(text)) {
        map.AddLine(line);
        map.FindNode(line);
    }
    for (qm::viewmodels::MapNode* n = map.First(); n; n = qm::viewmodels::DirTreeModel::Next(n, map.Top()))
        map.NodePath(*n);
    qm::desktop::ParseToolList(text);
    return 0;
}
