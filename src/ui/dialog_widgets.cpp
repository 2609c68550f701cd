#include "ui/dialog_widgets.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QPushButton>
#include <QLabel>
#include <QRadioButton>

#include "ui/help_window.h"

namespace qm::ui::dialog {

namespace {

class ClickFilter : public QObject {
public:
    ClickFilter(QObject* parent, std::function<void()> fn) : QObject(parent), fn_(std::move(fn)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::MouseButtonRelease) return QObject::eventFilter(watched, event);
        fn_();
        return true;
    }

private:
    std::function<void()> fn_;
};

}  // namespace

QLabel* Label(QWidget* parent, const QString& name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QCheckBox* CheckBox(QWidget* parent, const char* name, const QString& text) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    return c;
}

QButtonGroup* Radios(QWidget* parent, QBoxLayout* layout, const QString& prefix, const QStringList& texts) {
    auto* group = new QButtonGroup(parent);
    group->setObjectName("rg" + prefix);
    for (int i = 0; i < texts.size(); ++i) {
        auto* r = new QRadioButton(texts[i], parent);
        r->setObjectName(QString("rb%1%2").arg(prefix).arg(i));
        group->addButton(r, i);
        layout->addWidget(r);
    }
    return group;
}

QDialogButtonBox* OkCancelHelp(QDialog* dialog) {
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, dialog);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("btnCancel");
    buttons->button(QDialogButtonBox::Help)->setObjectName("btnHelp");
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

void OnClick(QWidget* widget, std::function<void()> fn) {
    widget->installEventFilter(new ClickFilter(widget, std::move(fn)));
}

void OpenHelp(QWidget* parent, const QString& topic, const std::function<void(const QString&)>& onHelp) {
    if (topic.isEmpty()) return;
    if (onHelp)
        onHelp(topic);
    else
        ShowHelpTopic(parent, topic);
}

void Check(QButtonGroup* group, int id) {
    if (QAbstractButton* b = group->button(id))
        b->setChecked(true);
    else if (QAbstractButton* first = group->button(0))
        first->setChecked(true);
}

}  // namespace qm::ui::dialog
