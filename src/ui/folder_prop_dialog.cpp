// The folder properties dialog.
#include "ui/folder_prop_dialog.h"
#include "ui/language.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

#include "viewmodels/map_page.h"
#include "store/ui_messages.h"

namespace qm::ui {

FolderPropertiesDialog::FolderPropertiesDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("dlgFolderProp");
    setWindowTitle("Folder Properties");
    categories_ = new QTreeWidget(this);
    categories_->setObjectName("tvCategories");
    categories_->setHeaderHidden(true);
    categories_->setMaximumWidth(140);
    auto* download = new QTreeWidgetItem(categories_, QStringList("Download"));
    captionPanel_ = new QLabel(this);
    captionPanel_->setObjectName("pnlCaption");
    captionPanel_->setStyleSheet("font-weight: bold");
    description_ = new QLabel(this);
    description_->setObjectName("lblDescription");

    auto* general = new QGroupBox("General:", this);
    general->setObjectName("gbGeneral");
    edtName_ = new QLineEdit(general);
    edtName_->setObjectName("edtName");
    auto* gl = new QHBoxLayout(general);
    auto* lblName = new QLabel("Folder name:", general);
    lblName->setObjectName("lblName");
    gl->addWidget(lblName);
    gl->addWidget(edtName_);

    auto* dirBox = new QGroupBox("Download directory:", this);
    dirBox->setObjectName("gbDirectory");
    edtDir_ = new QLineEdit(dirBox);
    edtDir_->setObjectName("edtDir");
    files_ = new QFileSystemModel(this);
    files_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    files_->setRootPath("/");
    picker_ = new QTreeView(dirBox);
    picker_->setObjectName("tvFolders");
    picker_->setModel(files_);
    for (int c = 1; c < files_->columnCount(); ++c) picker_->hideColumn(c);
    picker_->header()->hide();
    picker_->setMinimumSize(401, 121);
    auto* dl = new QVBoxLayout(dirBox);
    dl->addWidget(edtDir_);
    dl->addWidget(picker_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* page = new QVBoxLayout;
    page->addWidget(captionPanel_);
    page->addWidget(description_);
    page->addWidget(general);
    page->addWidget(dirBox);
    auto* top = new QHBoxLayout;
    top->addWidget(categories_);
    top->addLayout(page);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(buttons);
    RegisterLanguageWindow(this);
    ApplyLanguage(this);

    connect(files_, &QFileSystemModel::directoryLoaded, this, [this] {
        if (!scrollPending_ || !picker_->currentIndex().isValid()) return;
        picker_->scrollTo(picker_->currentIndex(), QAbstractItemView::PositionAtCenter);
        if (files_->filePath(picker_->currentIndex()) ==
            QString::fromStdString(viewmodels::PickerFolderFor(edtDir_->text().toStdString())))
            scrollPending_ = !files_->canFetchMore(picker_->currentIndex().parent());
    });
    connect(edtDir_, &QLineEdit::textChanged, this, [this] { FollowField(); });
    connect(picker_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& i) {
        if (guard_ || !i.isValid()) return;
        PickFolder(files_->filePath(i));
    });
    connect(categories_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!item) return;
        QStringList parts;
        for (QTreeWidgetItem* p = item; p; p = p->parent()) parts << p->text(0);
        captionPanel_->setText("  " + parts.join(" - "));
        if (item->childCount() == 0) {
            description_->setText(QString::fromStdString(store::UIMessage(store::UIText::HintFolders)));
            FollowField();
        }
    });
    categories_->setCurrentItem(download);
}

void FolderPropertiesDialog::SetValues(const QString& caption, const QString& directory) {
    caption_ = caption;
    directory_ = directory;
    edtName_->setText(caption);
    edtDir_->setText(directory);
    FollowField();
}

QString FolderPropertiesDialog::PickerFolder() const { return files_->filePath(picker_->currentIndex()); }

void FolderPropertiesDialog::FollowField() {
    if (guard_) return;
    guard_ = true;
    QString folder = QString::fromStdString(viewmodels::PickerFolderFor(edtDir_->text().toStdString()));
    // A directory not created yet: show the nearest folder above it that exists.
    for (int up = 0; up < 64 && !folder.isEmpty() && !QDir(folder).exists(); ++up) {
        QString parent = QFileInfo(folder).path();
        if (parent == folder) break;
        folder = parent;
    }
    QModelIndex i = files_->index(folder);
    if (i.isValid()) {
        for (QModelIndex p = i.parent(); p.isValid(); p = p.parent()) picker_->expand(p);
        picker_->setCurrentIndex(i);
        picker_->scrollTo(i);
        scrollPending_ = true;  // the folders above load in the background
    }
    guard_ = false;
}

void FolderPropertiesDialog::PickFolder(const QString& path) {
    guard_ = true;
    edtDir_->setText(QString::fromStdString(viewmodels::FieldTextForPicked(path.toStdString())));
    guard_ = false;
}

void FolderPropertiesDialog::accept() {
    if (!edtName_->text().isEmpty()) caption_ = edtName_->text();
    directory_ = edtDir_->text();
    QDialog::accept();
}

}  // namespace qm::ui
