#pragma once
// FolderPropertiesDialog ("Folder Properties"): a folder's name and download directory, with a
// folder picker showing the file system.
#include <QDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <QTreeWidget>

namespace qm::ui {

class FolderPropertiesDialog : public QDialog {
    Q_OBJECT
public:
    explicit FolderPropertiesDialog(QWidget* parent = nullptr);
    // The folder's caption and directory before showing; after OK the results.
    void SetValues(const QString& caption, const QString& directory);
    QString Caption() const { return caption_; }
    QString Directory() const { return directory_; }

    QLineEdit* NameField() const { return edtName_; }
    QLineEdit* DirectoryField() const { return edtDir_; }
    QTreeView* Picker() const { return picker_; }
    QString PickerFolder() const;          // the folder the picker shows
    void PickFolder(const QString& path);  // as a click in the picker does

    void accept() override;

private:
    void FollowField();
    QTreeWidget* categories_;
    QLabel* captionPanel_;
    QLabel* description_;
    QLineEdit* edtName_;
    QLineEdit* edtDir_;
    QTreeView* picker_;
    QFileSystemModel* files_;
    bool guard_ = false;
    bool scrollPending_ = false;  // stops the field and the picker from updating each other in a loop
    QString caption_, directory_;
};

}  // namespace qm::ui
