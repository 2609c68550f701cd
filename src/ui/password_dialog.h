#pragma once
// PasswordDialog: asks for the user name and password of a page the Project's server protects.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

#include "viewmodels/password_question.h"

namespace qm::ui {

class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    explicit PasswordDialog(const viewmodels::PasswordQuestion& question, QWidget* parent = nullptr);
    std::string User() const;
    std::string Password() const;

private:
    QLabel* lblQuestion_;
    QLineEdit* edtUser_;
    QLineEdit* edtPsw_;
};

}  // namespace qm::ui
