#pragma once
// ProgramOptionsDialog ("Options"): the program options and the main window's tool lists and
// preferences. A category tree on the left chooses the page; the caption strip above it
// shows the category's description and opens its help topic when clicked.
#include <QDialog>
#include <functional>

#include "desktop/browser_detect.h"
#include "viewmodels/options_form.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm::ui {

class ProgramOptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProgramOptionsDialog(QWidget* parent = nullptr);

    // Fills every control from form (the current options and window values).
    void SetForm(const viewmodels::OptionsForm& form);
    // What the controls hold now, for app::ApplyOptionsForm.
    viewmodels::OptionsForm Form() const;

    // Where "Auto Detect" looks for browsers.
    desktop::BrowserSources DetectSources;
    // Opens a help topic; the help window when unset.
    std::function<void(const QString& topic)> OnHelp;

    bool SelectCategory(const QString& text);
    QString CurrentPage() const;
    QString CurrentTopic() const;
    QString DescriptionText() const;
    void ShowHelp();
    void AutoDetect();

private:
    QWidget* BuildConnectionPage();
    QWidget* BuildProxyPage();
    QWidget* BuildDownloadPage();
    QWidget* BuildDiskSpacePage();
    QWidget* BuildAdvancedPage();
    QWidget* BuildTransfersPage();
    QWidget* BuildToolsPage();
    void BuildCategories();
    void CategoryChanged(QTreeWidgetItem* current);
    std::vector<desktop::ToolEntry>* CurrentTools();
    void FillTools();
    void UpdateFreeSpace();
    void UpdateAgentEnables();

    viewmodels::OptionsForm form_;  // the tool lists are edited here; the rest lives in the controls
    int toolList_ = -1;             // 0 browsers, 1 viewers, 2 editors

    QTreeWidget* tvOptions_;
    QLabel* pnlCaption_;
    QStackedWidget* pages_;
    QWidget* pgNil_ = nullptr;
    QWidget* pgTools_ = nullptr;
    // Connection.
    QLineEdit* edtHTTPCount_ = nullptr;
    QLineEdit* edtTimeOut_ = nullptr;
    QLineEdit* edtConnRetries_ = nullptr;
    QCheckBox* chkHTTPStart_ = nullptr;
    QLineEdit* edtHTTPPort_ = nullptr;
    // Proxy.
    QButtonGroup* rgProxyType_ = nullptr;
    QLineEdit* edtProxyAddr_ = nullptr;
    QLineEdit* edtProxyPort_ = nullptr;
    QLineEdit* edtHTTPUser_ = nullptr;
    QLineEdit* edtHTTPPass_ = nullptr;
    // Download and disk space.
    QLineEdit* edtPathPrefix_ = nullptr;
    QLineEdit* edtDiskSpace_ = nullptr;
    QLabel* lblFreeSpace_ = nullptr;
    // Advanced.
    QButtonGroup* rgShowMode_ = nullptr;
    QCheckBox* chkConfirmDel_ = nullptr;
    QCheckBox* chkConfirmExit_ = nullptr;
    QCheckBox* chkSysTray_ = nullptr;
    QCheckBox* chkSplash_ = nullptr;
    QButtonGroup* rgMapMode_ = nullptr;
    QButtonGroup* rgDblClkAction_ = nullptr;
    QCheckBox* chkAutoSave_ = nullptr;
    QLineEdit* edtAutoSave_ = nullptr;
    QRadioButton* rbAgentList_ = nullptr;
    QRadioButton* rbAgentText_ = nullptr;
    QComboBox* cbAgent_ = nullptr;
    QLineEdit* edtAgent_ = nullptr;
    QLineEdit* edtBookmarksFile_ = nullptr;
    // Transfers.
    QCheckBox* chkKeepAlive_ = nullptr;
    QCheckBox* chkFtpPassive_ = nullptr;
    QCheckBox* chkSSLAnyCert_ = nullptr;
    QCheckBox* chkExtLast_ = nullptr;
    QCheckBox* chkLowMemory_ = nullptr;
    QLineEdit* edtPause_ = nullptr;
    QComboBox* cbPriority_ = nullptr;
    // Tools.
    QLabel* lblToolList_ = nullptr;
    QListWidget* lbTools_ = nullptr;
    QLineEdit* edtToolCaption_ = nullptr;
    QLineEdit* edtToolFile_ = nullptr;
    QPushButton* btnAutoDetect_ = nullptr;
};

}  // namespace qm::ui
