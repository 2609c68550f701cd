// The "Check stored site..." window: shows the lines the view model makes.
#include "ui/site_check_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "viewmodels/site_check_list.h"

namespace qm::ui {

namespace {
constexpr int kNodeRole = Qt::UserRole + 1;
QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
}  // namespace

SiteCheckDialog::SiteCheckDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("dlgSiteCheck");
    setWindowTitle("Check Stored Site");
    lvBroken_ = new QTreeWidget(this);
    lvBroken_->setObjectName("lvBroken");
    lvBroken_->setColumnCount(2);
    lvBroken_->setHeaderLabels({"Link", "On page"});
    lvBroken_->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    lvBroken_->setColumnWidth(0, 420);
    lblSummary_ = new QLabel(this);
    lblSummary_->setObjectName("lblSummary");
    lblSummary_->setTextFormat(Qt::PlainText);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lvBroken_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { Activated(item); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lvBroken_);
    layout->addWidget(lblSummary_);
    layout->addWidget(buttons);
    resize(760, 460);
}

void SiteCheckDialog::Show(const app::SiteCheck& check) {
    lvBroken_->clear();
    QTreeWidgetItem* group = nullptr;
    for (const viewmodels::SiteCheckLine& line : viewmodels::SiteCheckLines(check)) {
        QTreeWidgetItem* item = line.heading || !group ? new QTreeWidgetItem(lvBroken_) : new QTreeWidgetItem(group);
        if (line.heading) group = item;
        item->setText(0, Q(line.text));
        item->setText(1, Q(line.page));
        item->setData(0, kNodeRole, Q(line.propertiesNode));
    }
    lvBroken_->expandAll();
    lblSummary_->setText(Q(viewmodels::SiteCheckSummary(check)));
}

QString SiteCheckDialog::SummaryText() const { return lblSummary_->text(); }

void SiteCheckDialog::Activated(QTreeWidgetItem* item) {
    if (!item || !OnOpenRule) return;
    OnOpenRule(item->data(0, kNodeRole).toString());
}

}  // namespace qm::ui
