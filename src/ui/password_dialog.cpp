// The password question window.
#include "ui/password_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/language.h"
#include "ui/qt_text.h"

namespace qm::ui {

PasswordDialog::PasswordDialog(const viewmodels::PasswordQuestion& question, QWidget* parent) : QDialog(parent) {
    setObjectName("dlgPassword");
    setWindowTitle(Q(question.caption));
    lblQuestion_ = new QLabel(Q(question.text), this);
    lblQuestion_->setObjectName("lblQuestion");
    lblQuestion_->setTextFormat(Qt::PlainText);  // the address and realm come from a server
    lblQuestion_->setWordWrap(true);
    edtUser_ = new QLineEdit(Q(question.user), this);
    edtUser_->setObjectName("edtUser");
    edtPsw_ = new QLineEdit(this);
    edtPsw_->setObjectName("edtPsw");
    edtPsw_->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow("User name:", edtUser_);
    form->addRow("Password:", edtPsw_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* l = new QVBoxLayout(this);
    l->addWidget(lblQuestion_);
    l->addLayout(form);
    l->addWidget(buttons);
    (question.user.empty() ? edtUser_ : edtPsw_)->setFocus();
    RegisterLanguageWindow(this);
    ApplyLanguage(this);
}

std::string PasswordDialog::User() const { return S(edtUser_->text()); }
std::string PasswordDialog::Password() const { return S(edtPsw_->text()); }

}  // namespace qm::ui
