#pragma once
// DirectoryTreeView: the site-map tree view of the map page and the keyword picker. The nodes and
// every rule live in app::DirTreeModel; this view shows them and fills folders on expansion.
#include <QAbstractItemModel>
#include <QTreeView>

#include "viewmodels/dir_tree_model.h"

namespace qm::ui {

class DirTreeItems : public QAbstractItemModel {
public:
    explicit DirTreeItems(viewmodels::DirTreeModel& model, QObject* parent = nullptr);
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& = {}) const override { return 1; }
    QVariant data(const QModelIndex& index, int role) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;

    viewmodels::MapNode* Node(const QModelIndex& index) const;
    QModelIndex IndexOf(const viewmodels::MapNode* node) const;

private:
    const std::vector<std::unique_ptr<viewmodels::MapNode>>& Kids(const viewmodels::MapNode* n) const;
    viewmodels::DirTreeModel& model_;
};

class DirectoryTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit DirectoryTreeView(QWidget* parent = nullptr);
    viewmodels::DirTreeModel& Model() { return model_; }
    DirTreeItems& Items() { return *items_; }
    viewmodels::MapNode* SelectedNode() const;
    void SelectNode(const viewmodels::MapNode* node);  // expands the path to it

signals:
    void nodeSelected();

private:
    viewmodels::DirTreeModel model_;
    DirTreeItems* items_;
};

}  // namespace qm::ui
