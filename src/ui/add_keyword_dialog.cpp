// The keyword picker window.
#include "ui/add_keyword_dialog.h"
#include "ui/language.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

#include "viewmodels/map_page.h"
#include "app/tree_commands.h"

namespace qm::ui {

KeywordPickerDialog::KeywordPickerDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("dlgAddR");
    setWindowTitle("Add Keyword");
    tree_ = new DirectoryTreeView(this);
    tree_->setObjectName("DirTree");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setObjectName("btnOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* l = new QVBoxLayout(this);
    l->addWidget(tree_);
    l->addWidget(buttons);
    connect(tree_, &DirectoryTreeView::nodeSelected, this, &KeywordPickerDialog::UpdateOk);
    resize(360, 420);
    RegisterLanguageWindow(this);
    ApplyLanguage(this);
}

void KeywordPickerDialog::Prepare(viewmodels::KeywordKind kind, const std::string& directory,
                                  const qm::store::SortedStringList* list, const std::string& rootCaption) {
    kind_ = kind;
    viewmodels::DirTreeModel& m = tree_->Model();
    m.SetActive(false);
    m.Mode = 0;
    m.List = list;
    m.RootCaption = rootCaption;
    m.OnGetIndex = [](const std::string& folder, const std::string&, const std::string& name) {
        return app::SiteMapIcon(folder + name);
    };
    m.SetDirectory(directory);
    m.SetActive(true);
    UpdateOk();
}

void KeywordPickerDialog::UpdateOk() {
    viewmodels::MapNode* n = tree_->SelectedNode();
    ok_->setEnabled(n && viewmodels::KeywordPickOk(kind_, n->Depth(), !n->Children.empty()));
}

QString KeywordPickerDialog::PickedCaption() const {
    viewmodels::MapNode* n = tree_->SelectedNode();
    return n ? QString::fromStdString(n->Caption) : QString();
}

}  // namespace qm::ui
