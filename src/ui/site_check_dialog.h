#pragma once
// "Check stored site...": the broken links of the selected Project under their reasons; a
// double click on a line opens the Project properties at the page of the rule behind it.
#include <QDialog>
#include <functional>

#include "app/stored_site_check.h"

class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm::ui {

class SiteCheckDialog : public QDialog {
    Q_OBJECT
public:
    explicit SiteCheckDialog(QWidget* parent = nullptr);
    void Show(const app::SiteCheck& check);
    // A line was double-clicked: the navigation node of the Project properties to open.
    std::function<void(const QString& node)> OnOpenRule;

    QTreeWidget* List() const { return lvBroken_; }
    QString SummaryText() const;

private:
    void Activated(QTreeWidgetItem* item);
    QTreeWidget* lvBroken_;
    QLabel* lblSummary_;
};

}  // namespace qm::ui
