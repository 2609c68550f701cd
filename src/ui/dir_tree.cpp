// The site-map tree view and its item model over app::DirTreeModel.
#include "ui/dir_tree.h"

#include <QHeaderView>

#include "ui/image_list.h"

namespace qm::ui {

using viewmodels::MapNode;

DirTreeItems::DirTreeItems(viewmodels::DirTreeModel& model, QObject* parent)
    : QAbstractItemModel(parent), model_(model) {
    auto& n = model_.Notify;
    n.beginReset = [this] { beginResetModel(); };
    n.endReset = [this] { endResetModel(); };
    n.beginInsert = [this](MapNode* p, int first, int last) { beginInsertRows(IndexOf(p), first, last); };
    n.endInsert = [this] { endInsertRows(); };
    n.beginRemove = [this](MapNode* p, int first, int last) { beginRemoveRows(IndexOf(p), first, last); };
    n.endRemove = [this] { endRemoveRows(); };
}

const std::vector<std::unique_ptr<MapNode>>& DirTreeItems::Kids(const MapNode* n) const {
    return n ? n->Children : model_.Top();
}

MapNode* DirTreeItems::Node(const QModelIndex& index) const {
    return index.isValid() ? static_cast<MapNode*>(index.internalPointer()) : nullptr;
}

QModelIndex DirTreeItems::IndexOf(const MapNode* node) const {
    if (!node) return {};
    const auto& siblings = Kids(node->Parent);
    for (std::size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == node) return createIndex(static_cast<int>(i), 0, const_cast<MapNode*>(node));
    return {};
}

QModelIndex DirTreeItems::index(int row, int column, const QModelIndex& parent) const {
    const auto& kids = Kids(Node(parent));
    if (column != 0 || row < 0 || static_cast<std::size_t>(row) >= kids.size()) return {};
    return createIndex(row, 0, kids[row].get());
}

QModelIndex DirTreeItems::parent(const QModelIndex& child) const {
    MapNode* n = Node(child);
    return n ? IndexOf(n->Parent) : QModelIndex();
}

int DirTreeItems::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    return static_cast<int>(Kids(Node(parent)).size());
}

bool DirTreeItems::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant DirTreeItems::data(const QModelIndex& index, int role) const {
    MapNode* n = Node(index);
    if (!n) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return QString::fromStdString(n->Caption);
    if (role == Qt::DecorationRole) return Picture(n->Image);
    return {};
}

DirectoryTreeView::DirectoryTreeView(QWidget* parent) : QTreeView(parent) {
    setObjectName("SiteMap");
    items_ = new DirTreeItems(model_, this);
    setModel(items_);
    header()->hide();
    setEditTriggers(NoEditTriggers);  // node captions cannot be edited
    setUniformRowHeights(true);
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& i) {
        if (MapNode* n = items_->Node(i)) model_.Fill(*n, false);
    });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { emit nodeSelected(); });
    connect(items_, &QAbstractItemModel::modelReset, this, [this] {
        // The root shows its first level, as after a rebuild.
        if (items_->rowCount() > 0) expand(items_->index(0, 0));
    });
}

MapNode* DirectoryTreeView::SelectedNode() const { return items_->Node(currentIndex()); }

void DirectoryTreeView::SelectNode(const MapNode* node) {
    QModelIndex i = items_->IndexOf(node);
    if (!i.isValid()) return;
    for (QModelIndex p = i.parent(); p.isValid(); p = p.parent()) expand(p);
    setCurrentIndex(i);
    scrollTo(i);
}

}  // namespace qm::ui
