#pragma once
// Small builders for the controls of the property dialogs: each control gets the component
// name the language files address it by.
#include <functional>

#include <QString>
#include <QStringList>

class QBoxLayout;
class QButtonGroup;
class QCheckBox;
class QDialog;
class QDialogButtonBox;
class QLabel;
class QWidget;

namespace qm::ui::dialog {

QLabel* Label(QWidget* parent, const QString& name, const QString& text);
QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& text);
// Radio buttons named "rb" + prefix + index, added to layout and numbered from 0 in the
// returned group (named "rg" + prefix).
QButtonGroup* Radios(QWidget* parent, QBoxLayout* layout, const QString& prefix, const QStringList& texts);
// OK, Cancel and Help named "btnOK", "btnCancel" and "btnHelp"; OK accepts and Cancel rejects
// the dialog, Help is the caller's.
QDialogButtonBox* OkCancelHelp(QDialog* dialog);
// Runs fn when the mouse button is released over widget (the click is taken).
void OnClick(QWidget* widget, std::function<void()> fn);
// Opens the help page of topic, through onHelp when it is set, else in the help window; an
// empty topic opens nothing.
void OpenHelp(QWidget* parent, const QString& topic, const std::function<void(const QString&)>& onHelp);
// Checks the button with id, or the first one when there is no such button.
void Check(QButtonGroup* group, int id);

}  // namespace qm::ui::dialog
