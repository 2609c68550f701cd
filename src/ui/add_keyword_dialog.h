#pragma once
// KeywordPickerDialog ("Add Keyword"): a site-map tree from which a server, directory or file name is
// picked for the keyword pages of the Project properties.
#include <QDialog>
#include <QPushButton>

#include "ui/dir_tree.h"
#include "viewmodels/map_page.h"

namespace qm::ui {

class KeywordPickerDialog : public QDialog {
    Q_OBJECT
public:
    explicit KeywordPickerDialog(QWidget* parent = nullptr);
    // Kind 0 server, 1 directory, 2 file name; the tree as the map page's list mode has it.
    void Prepare(viewmodels::KeywordKind kind, const std::string& directory, const qm::store::SortedStringList* list,
                 const std::string& rootCaption);
    DirectoryTreeView* Tree() const { return tree_; }
    QPushButton* OkButton() const { return ok_; }
    QString PickedCaption() const;

private:
    void UpdateOk();
    DirectoryTreeView* tree_;
    QPushButton* ok_;
    viewmodels::KeywordKind kind_ = viewmodels::KeywordKind::Server;
};

}  // namespace qm::ui
