#pragma once
// Small builders for the controls of the property dialogs: each control gets the component
// name the language files address it by.
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
// Checks the button with id, or the first one when there is no such button.
void Check(QButtonGroup* group, int id);

}  // namespace qm::ui::dialog
