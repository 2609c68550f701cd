#pragma once
// ProjectPropertiesDialog ("Project Properties"): every setting of one Project, or of the Defaults Project,
// on a private copy that OK hands back. A navigation tree on the left chooses the page.
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>
#include <QTreeWidget>
#include <functional>

#include "store/project.h"
#include "viewmodels/cookie_panel.h"
#include "viewmodels/map_page.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimeEdit;

namespace qm::ui {

class ProjectPropertiesDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProjectPropertiesDialog(QWidget* parent = nullptr);

    // Fills every page from a copy of settings and selects the "Project" node. isDefaults:
    // the Defaults Project (no name field, caption UI message 22).
    void SetProject(const store::Project& settings, bool isDefaults);
    // The private copy: after OK it holds what the user set.
    const store::Project& Settings() const { return copy_; }
    // The settings the dialog was filled from (OK hands back only what differs from them).
    const store::Project& Original() const { return original_; }

    // The keyword picker of the filter pages: given the kind (0 server, 1 directory, 2 file
    // name) it returns the chosen text, or an empty text. Unset: the "..." buttons are hidden.
    std::function<QString(viewmodels::KeywordKind kind)> KeywordPicker;
    // Opens a help topic; the dialog's own help window when unset.
    std::function<void(const QString& topic)> OnHelp;

    // Navigation: selects the node with this text ("Project", "Images", "Server", ...).
    bool SelectNode(const QString& text);
    QTreeWidget* Navigation() const { return tvProp_; }
    QString CurrentPage() const;   // object name of the page shown
    QString CurrentTopic() const;  // help topic of the page shown
    QString HeaderText() const { return pnlCaption_->text(); }
    QString DescriptionText() const { return lblDescription_->text(); }
    void ShowHelp();

    void accept() override;

private:
    struct FilterPage {
        int index = 0;  // 0 servers, 1 directories, 2 file names
        QWidget* page = nullptr;
        QButtonGroup* rule = nullptr;
        QGroupBox* keywords = nullptr;
        QComboBox* view = nullptr;
        QListWidget* list = nullptr;
        QLineEdit* edit = nullptr;
        QPushButton* pick = nullptr;
    };

    QWidget* BuildAddressPage();
    QWidget* BuildLimitsPage();
    QWidget* BuildFileTypePage();
    QWidget* BuildFilterPage(FilterPage& f, const char* page, const char* suffix, const QStringList& rules,
                             const QStringList& views);
    QWidget* BuildPasswordsPage();
    QWidget* BuildSchedulePage();
    void BuildNavigation();

    void NodeChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void FillAll();
    void FillCategoryPage();
    void FillKeywordList(FilterPage& f);
    void StoreKeywordList(FilterPage& f, const store::TickedList& list);
    void StoreExtensions(const store::TickedList& list);
    void UpdateCategoryEnables();
    void UpdateScheduleEnables();
    void ReadOnOk();

    store::Project copy_, original_;
    bool defaults_ = false;
    bool loading_ = false;
    int category_ = -1;  // the category whose page is shown
    FilterPage* filter_ = nullptr;

    QTreeWidget* tvProp_;
    QLabel* pnlCaption_;
    QLabel* lblDescription_;
    QStackedWidget* pages_;
    QWidget* pgEmpty_ = nullptr;
    QTreeWidgetItem* categoryItems_[store::kCategoryCount] = {};

    // Address page.
    QLineEdit* edtURL_ = nullptr;
    QLabel* lblName_ = nullptr;
    QLineEdit* edtName_ = nullptr;
    QSpinBox* edtLevel_ = nullptr;
    QButtonGroup* rgFMGroup_ = nullptr;
    QSpinBox* edtFM3Lev_ = nullptr;
    // Limits page.
    QCheckBox* chkLimBTSize_ = nullptr;
    QSpinBox* edtLimTSize_ = nullptr;
    QCheckBox* chkLimBNumber_ = nullptr;
    QSpinBox* edtLimNumber_ = nullptr;
    QCheckBox* chkEnableScript_ = nullptr;
    QCheckBox* chkEnableJava_ = nullptr;
    QCheckBox* chkLTranslate_ = nullptr;
    QCheckBox* chkCrawlTraps_ = nullptr;
    QCheckBox* chkWebArchive_ = nullptr;
    QCheckBox* chkRobots_ = nullptr;
    QSpinBox* edtPerSecond_ = nullptr;
    QCheckBox* chkSitemaps_ = nullptr;
    QCheckBox* chkRenderPages_ = nullptr;
    // File type page.
    QWidget* pgFileType_ = nullptr;
    QGroupBox* gbTypes_ = nullptr;
    QButtonGroup* rgTypes_ = nullptr;
    QListWidget* lbExts_ = nullptr;
    QLineEdit* edtExt_ = nullptr;
    QGroupBox* gbSizes_ = nullptr;
    QButtonGroup* rgSizes_ = nullptr;
    QCheckBox* chkMinSize_ = nullptr;
    QSpinBox* edtMinSize_ = nullptr;
    QCheckBox* chkMaxSize_ = nullptr;
    QSpinBox* edtMaxSize_ = nullptr;
    // Filter pages.
    FilterPage filters_[3];
    // Passwords page.
    QButtonGroup* rgPswMethod_ = nullptr;
    QLineEdit* edtUser_ = nullptr;
    QLineEdit* edtPsw_ = nullptr;
    QLineEdit* edtLoginURL_ = nullptr;
    QPlainTextEdit* memLoginFields_ = nullptr;
    QListWidget* lstCookies_ = nullptr;
    QPushButton* btnClearCookies_ = nullptr;
    void FillCookies(const viewmodels::CookiePanel& panel);
    // Scheduling page.
    QComboBox* cbWhen_ = nullptr;
    QLabel* lblTime_ = nullptr;
    QLabel* lblTimeInterval_ = nullptr;
    QTimeEdit* tpTime_ = nullptr;
    QComboBox* cbWeekday_ = nullptr;
    QSpinBox* edtDay_ = nullptr;
    QComboBox* cbMonth_ = nullptr;
    QCheckBox* chkOnce_ = nullptr;
};

}  // namespace qm::ui
