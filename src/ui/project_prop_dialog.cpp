// The Project properties dialog: widgets and their wiring. What a control's text becomes,
// which controls are enabled and what OK hands back are the rules of app/project_prop_rules.
#include "ui/project_prop_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "viewmodels/dialog_values.h"
#include "viewmodels/project_prop_rules.h"
#include "store/defaults_project.h"
#include "store/ui_messages.h"
#include "ui/dialog_widgets.h"
#include "ui/help_window.h"
#include "ui/language.h"
#include "ui/qt_text.h"

namespace qm::ui {

namespace {

using dialog::Check;
using dialog::CheckBox;
using dialog::Label;
using dialog::Radios;

enum Role { kPage = Qt::UserRole, kTopic, kMessage, kCategory, kFilter };

QSpinBox* SpinBox(QWidget* parent, const char* name, int low, int high) {
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(low, high);
    return s;
}

void FillChecklist(QListWidget* list, const store::TickedList& entries) {
    QSignalBlocker block(list);
    list->clear();
    for (std::size_t i = 0; i < entries.Entries.size(); ++i) {
        auto* item = new QListWidgetItem(Q(entries.Entries[i]), list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        bool ticked = i >= entries.Ticked.size() || entries.Ticked[i];
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    }
}

}  // namespace

ProjectPropertiesDialog::ProjectPropertiesDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("dlgProp");
    setWindowTitle("Project Properties");
    tvProp_ = new QTreeWidget(this);
    tvProp_->setObjectName("tvProp");
    tvProp_->setHeaderHidden(true);
    tvProp_->setFixedWidth(150);
    pnlCaption_ = new QLabel(this);
    pnlCaption_->setObjectName("pnlCaption");
    pnlCaption_->setStyleSheet(
        "font-weight: bold; background: palette(dark); color: palette(bright-text); padding: 3px");
    pnlCaption_->setCursor(Qt::PointingHandCursor);
    dialog::OnClick(pnlCaption_, [this] { ShowHelp(); });
    lblDescription_ = new QLabel(this);
    lblDescription_->setObjectName("lblDescription");
    pages_ = new QStackedWidget(this);
    pages_->setObjectName("pgcProp");

    pgEmpty_ = new QWidget(this);
    pgEmpty_->setObjectName("empty");
    auto* el = new QVBoxLayout(pgEmpty_);
    auto* emptyText = Label(pgEmpty_, "lblEmpty", "Select a subcategory to display");
    emptyText->setAlignment(Qt::AlignCenter);
    el->addWidget(emptyText);
    pages_->addWidget(pgEmpty_);
    pages_->addWidget(BuildAddressPage());
    pages_->addWidget(pgFileType_ = BuildFileTypePage());
    pages_->addWidget(BuildFilterPage(
        filters_[0], "newr", "Srvs",
        {"Load files from all servers", "Load files only within the starting server", "Custom servers configuration"},
        {"View excluded server keywords", "View included server keywords"}));
    pages_->addWidget(
        BuildFilterPage(filters_[1], "newd", "Path",
                        {"Load files from all directories", "Load files only within the starting directory and below",
                         "Custom directories configuration"},
                        {"View excluded directory keywords", "View included directory keywords"}));
    pages_->addWidget(BuildFilterPage(
        filters_[2], "newf", "File",
        {"Load all filenames", "Load files only with the starting filename", "Custom filenames configuration"},
        {"View excluded filename keywords", "View included filename keywords"}));
    pages_->addWidget(BuildLimitsPage());
    pages_->addWidget(BuildSchedulePage());
    pages_->addWidget(BuildPasswordsPage());
    BuildNavigation();

    QDialogButtonBox* buttons = dialog::OkCancelHelp(this);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &ProjectPropertiesDialog::ShowHelp);

    auto* right = new QVBoxLayout;
    right->addWidget(pnlCaption_);
    right->addWidget(lblDescription_);
    right->addWidget(pages_, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(tvProp_);
    top->addLayout(right, 1);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addWidget(buttons);
    resize(680, 500);

    SetProject(copy_, false);
    // The caption strip and description follow the node shown, from the message list.
    MarkUserData(pnlCaption_);
    MarkUserData(lblDescription_);
    RegisterLanguageWindow(this);
    ApplyLanguage(this);
}

void ProjectPropertiesDialog::BuildNavigation() {
    struct NodeDef {
        const char* text;
        int parent;  // index of the parent node, -1 for a top node
        const char* page;
        const char* topic;
        int message;
        int category;
        int filter;
    };
    static const NodeDef nodes[] = {
        {"Project", -1, "Address", "PropProject", 26, -1, -1},
        {"File Types", -1, nullptr, nullptr, 28, -1, -1},
        {"Text", 1, "FileType", "PropFT", 33, store::kCatText, -1},
        {"Images", 1, "FileType", "PropFT", 33, store::kCatImages, -1},
        {"Video", 1, "FileType", "PropFT", 33, store::kCatVideo, -1},
        {"Audio", 1, "FileType", "PropFT", 33, store::kCatAudio, -1},
        {"Archive", 1, "FileType", "PropFT", 33, store::kCatArchive, -1},
        {"User Defined", 1, "FileType", "PropFT", 33, store::kCatUserDefined, -1},
        {"Other", 1, "FileType", "PropFT", 33, store::kCatOther, -1},
        {"URL Filters", -1, nullptr, nullptr, 24, -1, -1},
        {"Server", 9, "newr", "PropFilters", 29, -1, 0},
        {"Directory", 9, "newd", "PropFilters", 30, -1, 1},
        {"Filename", 9, "newf", "PropFilters", 31, -1, 2},
        {"Advanced", -1, "Limits", "PropAdv", 25, -1, -1},
        {"Scheduling", -1, "Shed", "PropSchedule", 32, -1, -1},
        {"Passwords", -1, "Passwords", "PropPassword", 27, -1, -1},
    };
    std::vector<QTreeWidgetItem*> items;
    for (const NodeDef& n : nodes) {
        auto* item = n.parent < 0 ? new QTreeWidgetItem(tvProp_) : new QTreeWidgetItem(items[n.parent]);
        item->setText(0, n.text);
        item->setData(0, kPage, n.page ? QString(n.page) : QString());
        item->setData(0, kTopic, n.topic ? QString(n.topic) : QString());
        item->setData(0, kMessage, n.message);
        item->setData(0, kCategory, n.category);
        item->setData(0, kFilter, n.filter);
        if (n.category >= 0) {
            // The tick is the category's picture: ticked included, unticked excluded.
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Checked);
            categoryItems_[n.category] = item;
        }
        items.push_back(item);
    }
    tvProp_->expandAll();
    connect(tvProp_, &QTreeWidget::currentItemChanged, this, &ProjectPropertiesDialog::NodeChanged);
    connect(tvProp_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        int cat = item->data(0, kCategory).toInt();
        if (loading_ || cat < 0) return;
        copy_.Categories[cat].Flag(store::CategoryFlag::Excluded) = item->checkState(0) != Qt::Checked;
        if (cat == category_) UpdateCategoryEnables();
    });
}

QWidget* ProjectPropertiesDialog::BuildAddressPage() {
    auto* page = new QWidget(this);
    page->setObjectName("Address");
    edtURL_ = new QLineEdit(page);
    edtURL_->setObjectName("edtURL");
    edtName_ = new QLineEdit(page);
    edtName_->setObjectName("edtName");
    lblName_ = Label(page, "lblName", "Project name:");
    edtLevel_ = SpinBox(page, "edtLevel", 0, 999);
    auto* form = new QFormLayout;
    form->addRow(Label(this, "lblURL", "Address (URL):"), edtURL_);
    form->addRow(lblName_, edtName_);
    form->addRow(Label(this, "lblLevel", "Level:"), edtLevel_);

    auto* box = new QGroupBox("File modification check", page);
    box->setObjectName("gbFMGroup");
    auto* bl = new QVBoxLayout(box);
    rgFMGroup_ = Radios(box, bl, "FMGroup",
                        {"Download only &Modified files", "Download &All Files", "Do &not download existing files",
                         "&Skip existing files on levels higher than"});
    edtFM3Lev_ = SpinBox(box, "FM3Lev", 0, 999);
    auto* skipRow = new QHBoxLayout;
    skipRow->addWidget(rgFMGroup_->button(3));
    skipRow->addWidget(edtFM3Lev_);
    skipRow->addStretch();
    bl->addLayout(skipRow);

    auto* l = new QVBoxLayout(page);
    l->addLayout(form);
    l->addWidget(box);
    l->addStretch();

    connect(edtURL_, &QLineEdit::textChanged, this, [this](const QString& address) {
        if (loading_ || defaults_) return;
        edtName_->setText(Q(viewmodels::MirroredName(S(edtName_->text()), S(address))));
    });
    connect(edtLevel_, &QSpinBox::valueChanged, this, [this](int level) { edtFM3Lev_->setMaximum(level); });
    connect(rgFMGroup_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (!on) return;
        edtFM3Lev_->setEnabled(id == 3);
        if (!loading_) copy_.FMGroup = id;
    });
    return page;
}

QWidget* ProjectPropertiesDialog::BuildLimitsPage() {
    auto* page = new QWidget(this);
    page->setObjectName("Limits");
    chkLimBTSize_ = CheckBox(page, "chkLimBTSize", "Stop loading a web site if its total size exceeds");
    edtLimTSize_ = SpinBox(page, "edtLimTSize", 0, 32500);
    chkLimBNumber_ = CheckBox(page, "chkLimBNumber", "Stop loading if the total number of files exceeds");
    edtLimNumber_ = SpinBox(page, "edtLimNumber", 0, 32500);
    chkEnableScript_ = CheckBox(page, "chkEnableScript", "Enable scripts processing");
    chkEnableJava_ = CheckBox(page, "chkEnableJava", "Enable Java classes processing");
    chkLTranslate_ = CheckBox(page, "chkLTranslate", "Do not translate links");
    chkCrawlTraps_ =
        CheckBox(page, "chkCrawlTraps", "Avoid crawl traps (paths that repeat themselves, endless query strings)");
    chkWebArchive_ = CheckBox(page, "chkWebArchive", "Record a web archive");
    chkRobots_ = CheckBox(page, "chkRobots", "Obey robots.txt and robots tags");
    edtPerSecond_ = SpinBox(page, "edtPerSecond", 0, 1000);
    chkSitemaps_ = CheckBox(page, "chkSitemaps", "Read the start server's sitemaps");
    chkRenderPages_ = CheckBox(page, "chkRenderPages", "Render pages with a browser");
    auto* grid = new QGridLayout;
    grid->addWidget(chkLimBTSize_, 0, 0);
    grid->addWidget(edtLimTSize_, 0, 1);
    grid->addWidget(Label(page, "lblKBytes", "KBytes"), 0, 2);
    grid->addWidget(chkLimBNumber_, 1, 0);
    grid->addWidget(edtLimNumber_, 1, 1);
    auto* l = new QVBoxLayout(page);
    l->addLayout(grid);
    l->addWidget(chkEnableScript_);
    l->addWidget(chkEnableJava_);
    l->addWidget(chkLTranslate_);
    l->addWidget(chkCrawlTraps_);
    l->addWidget(chkWebArchive_);
    l->addWidget(chkRobots_);
    auto* pace = new QHBoxLayout;
    pace->addWidget(Label(page, "lblPerSecond", "Most requests a second to one server (0: no limit):"));
    pace->addWidget(edtPerSecond_);
    pace->addStretch();
    l->addLayout(pace);
    l->addWidget(chkSitemaps_);
    l->addWidget(chkRenderPages_);
    l->addStretch();
    return page;
}

QWidget* ProjectPropertiesDialog::BuildFileTypePage() {
    auto* page = new QWidget(this);
    page->setObjectName("FileType");
    gbTypes_ = new QGroupBox("File types", page);
    gbTypes_->setObjectName("gbTypes");
    auto* tl = new QVBoxLayout(gbTypes_);
    rgTypes_ =
        Radios(gbTypes_, tl, "Types", {"Load all file types listed below", "Load only the selected file types:"});
    lbExts_ = new QListWidget(gbTypes_);
    lbExts_->setObjectName("lbExts");
    edtExt_ = new QLineEdit(gbTypes_);
    edtExt_->setObjectName("edtExt");
    auto* add = new QPushButton("<<        &Add", gbTypes_);
    add->setObjectName("btnAddExt");
    auto* remove = new QPushButton(">> &Remove", gbTypes_);
    remove->setObjectName("btnRemoveExt");
    auto* side = new QVBoxLayout;
    side->addWidget(edtExt_);
    side->addWidget(add);
    side->addWidget(remove);
    side->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(lbExts_, 1);
    row->addLayout(side);
    tl->addLayout(row);

    gbSizes_ = new QGroupBox("File sizes", page);
    gbSizes_->setObjectName("gbSizes");
    auto* sl = new QVBoxLayout(gbSizes_);
    rgSizes_ = Radios(gbSizes_, sl, "Sizes", {"Load all file sizes", "Load only the selected file sizes:"});
    chkMinSize_ = CheckBox(gbSizes_, "chkMinSize", "Minimum size");
    edtMinSize_ = SpinBox(gbSizes_, "edtMinSize", 0, 2000000);
    chkMaxSize_ = CheckBox(gbSizes_, "chkMaxSize", "Maximum size");
    edtMaxSize_ = SpinBox(gbSizes_, "edtMaxSize", 0, 2000000);
    edtMaxSize_->setValue(100);
    auto* grid = new QGridLayout;
    grid->addWidget(chkMinSize_, 0, 0);
    grid->addWidget(edtMinSize_, 0, 1);
    grid->addWidget(Label(gbSizes_, "lblMinKb", "kb"), 0, 2);
    grid->addWidget(chkMaxSize_, 1, 0);
    grid->addWidget(edtMaxSize_, 1, 1);
    grid->addWidget(Label(gbSizes_, "lblMaxKb", "kb"), 1, 2);
    sl->addLayout(grid);

    auto* l = new QVBoxLayout(page);
    l->addWidget(gbTypes_, 1);
    l->addWidget(gbSizes_);

    auto current = [this]() -> store::FileCategory* {
        return loading_ || category_ < 0 ? nullptr : &copy_.Categories[category_];
    };
    connect(rgTypes_, &QButtonGroup::idToggled, this, [current](int id, bool on) {
        if (store::FileCategory* c = current(); c && on) c->Flag(store::CategoryFlag::SelectedTypesOnly) = id == 1;
    });
    connect(rgSizes_, &QButtonGroup::idToggled, this, [this, current](int id, bool on) {
        if (store::FileCategory* c = current(); c && on) c->Flag(store::CategoryFlag::SelectedSizesOnly) = id == 1;
        UpdateCategoryEnables();
    });
    auto sizeCheck = [this, current](QSpinBox* edit, store::CategoryFlag flag, int store::FileCategory::*size) {
        return [this, current, edit, flag, size](bool on) {
            if (store::FileCategory* c = current()) {
                c->Flag(flag) = on;
                if (on) c->*size = viewmodels::ReadCategorySize(S(edit->cleanText()), edit->value());
            }
            UpdateCategoryEnables();
        };
    };
    connect(chkMinSize_, &QCheckBox::toggled, this,
            sizeCheck(edtMinSize_, store::CategoryFlag::MinSizeOn, &store::FileCategory::MinSize));
    connect(chkMaxSize_, &QCheckBox::toggled, this,
            sizeCheck(edtMaxSize_, store::CategoryFlag::MaxSizeOn, &store::FileCategory::MaxSize));
    connect(edtMinSize_, &QSpinBox::textChanged, this, [this, current] {
        if (store::FileCategory* c = current())
            c->MinSize = viewmodels::ReadCategorySize(S(edtMinSize_->cleanText()), edtMinSize_->value());
    });
    connect(edtMaxSize_, &QSpinBox::textChanged, this, [this, current] {
        if (store::FileCategory* c = current())
            c->MaxSize = viewmodels::ReadCategorySize(S(edtMaxSize_->cleanText()), edtMaxSize_->value());
    });
    connect(lbExts_, &QListWidget::itemChanged, this, [this, current](QListWidgetItem* item) {
        store::FileCategory* c = current();
        if (!c) return;
        store::TickedList list = store::ParseTickedList(c->Exts);
        viewmodels::SetTicked(list, lbExts_->row(item), item->checkState() == Qt::Checked);
        StoreExtensions(list);
    });
    connect(add, &QPushButton::clicked, this, [this, current] {
        store::FileCategory* c = current();
        if (!c) return;
        store::TickedList list = store::ParseTickedList(c->Exts);
        if (!viewmodels::AddTickedEntry(list, S(edtExt_->text()))) return;
        StoreExtensions(list);
        FillChecklist(lbExts_, list);
        edtExt_->clear();
    });
    connect(remove, &QPushButton::clicked, this, [this, current] {
        store::FileCategory* c = current();
        if (!c || lbExts_->currentRow() < 0) return;
        store::TickedList list = store::ParseTickedList(c->Exts);
        std::string text = viewmodels::RemoveTickedEntry(list, lbExts_->currentRow());
        StoreExtensions(list);
        FillChecklist(lbExts_, list);
        edtExt_->setText(Q(text));
    });
    return page;
}

QWidget* ProjectPropertiesDialog::BuildFilterPage(FilterPage& f, const char* name, const char* suffix,
                                                  const QStringList& rules, const QStringList& views) {
    f.index = static_cast<int>(&f - filters_);
    f.page = new QWidget(this);
    f.page->setObjectName(name);
    auto* l = new QVBoxLayout(f.page);
    f.rule = Radios(f.page, l, QString("%1Bx").arg(suffix), rules);
    f.keywords = new QGroupBox("Keywords", f.page);
    f.keywords->setObjectName(QString("gbKeywords%1").arg(suffix));
    f.view = new QComboBox(f.keywords);
    f.view->setObjectName(QString("cbView%1").arg(suffix));
    f.view->addItems(views);
    f.list = new QListWidget(f.keywords);
    f.list->setObjectName(QString("lbKeywords%1").arg(suffix));
    f.edit = new QLineEdit(f.keywords);
    f.edit->setObjectName(QString("edtKeyword%1").arg(suffix));
    f.pick = new QPushButton("...", f.keywords);
    f.pick->setObjectName(QString("btnPick%1").arg(suffix));
    f.pick->setFixedWidth(30);
    auto* add = new QPushButton("&Add        >>", f.keywords);
    add->setObjectName(QString("btnAdd%1").arg(suffix));
    auto* remove = new QPushButton("&Remove <<", f.keywords);
    remove->setObjectName(QString("btnRemove%1").arg(suffix));
    auto* editRow = new QHBoxLayout;
    editRow->addWidget(f.edit);
    editRow->addWidget(f.pick);
    auto* side = new QVBoxLayout;
    side->addWidget(Label(f.keywords, QString("lblKeyword%1").arg(suffix), "Keyword:"));
    side->addLayout(editRow);
    side->addWidget(add);
    side->addWidget(remove);
    side->addStretch();
    auto* row = new QHBoxLayout;
    row->addLayout(side);
    row->addWidget(f.list, 1);
    auto* kl = new QVBoxLayout(f.keywords);
    kl->addWidget(f.view);
    kl->addLayout(row);
    l->addWidget(f.keywords, 1);

    FilterPage* fp = &f;
    connect(f.rule, &QButtonGroup::idToggled, this, [fp](int id, bool on) {
        if (on) fp->keywords->setEnabled(id == 2);
    });
    connect(f.view, &QComboBox::currentIndexChanged, this, [this, fp] {
        if (!loading_) FillKeywordList(*fp);
    });
    auto text = [this, fp]() -> std::string& {
        return app::KeywordList(copy_, fp->index, fp->view->currentIndex() == 1);
    };
    connect(f.list, &QListWidget::itemChanged, this, [this, fp, text](QListWidgetItem* item) {
        if (loading_) return;
        store::TickedList list = store::ParseTickedList(text());
        viewmodels::SetTicked(list, fp->list->row(item), item->checkState() == Qt::Checked);
        StoreKeywordList(*fp, list);
    });
    connect(add, &QPushButton::clicked, this, [this, fp, text] {
        store::TickedList list = store::ParseTickedList(text());
        if (viewmodels::AddTickedEntry(list, S(fp->edit->text()))) {
            StoreKeywordList(*fp, list);
            FillChecklist(fp->list, list);
        }
        fp->edit->clear();
        fp->edit->setFocus();
    });
    connect(remove, &QPushButton::clicked, this, [this, fp, text] {
        int row = fp->list->currentRow();
        if (row < 0) return;
        store::TickedList list = store::ParseTickedList(text());
        std::string removed = viewmodels::RemoveTickedEntry(list, row);
        StoreKeywordList(*fp, list);
        FillChecklist(fp->list, list);
        fp->edit->setText(Q(removed));
    });
    connect(f.pick, &QPushButton::clicked, this, [this, fp] {
        if (!KeywordPicker) return;
        QString picked = KeywordPicker(static_cast<viewmodels::KeywordKind>(fp->index));
        if (!picked.isEmpty()) fp->edit->setText(picked);
    });
    return f.page;
}

QWidget* ProjectPropertiesDialog::BuildPasswordsPage() {
    auto* page = new QWidget(this);
    page->setObjectName("Passwords");
    auto* l = new QVBoxLayout(page);
    rgPswMethod_ = Radios(page, l, "pswMethod",
                          {"Use this user name and password to log on to protected Web Sites",
                           "Prompt for user name and password on protected sites",
                           "Ignore protected sites and continue downloading", "Stop download if site is protected"});
    edtUser_ = new QLineEdit(page);
    edtUser_->setObjectName("edtUser");
    edtPsw_ = new QLineEdit(page);
    edtPsw_->setObjectName("edtPsw");
    edtPsw_->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(Label(this, "lblUser", "Username:"), edtUser_);
    form->addRow(Label(this, "lblPsw", "Password:"), edtPsw_);
    l->insertLayout(1, form);
    edtLoginURL_ = new QLineEdit(page);
    edtLoginURL_->setObjectName("edtLoginURL");
    memLoginFields_ = new QPlainTextEdit(page);
    memLoginFields_->setObjectName("memLoginFields");
    memLoginFields_->setTabChangesFocus(true);
    auto* login = new QFormLayout;
    login->addRow(Label(this, "lblLoginURL", "Log-in form address:"), edtLoginURL_);
    login->addRow(Label(this, "lblLoginFields", "Form fields (name=value lines):"), memLoginFields_);
    l->addLayout(login);
    lstCookies_ = new QListWidget(page);
    lstCookies_->setObjectName("lstCookies");
    btnClearCookies_ = new QPushButton("Clear cookies", page);
    btnClearCookies_->setObjectName("btnClearCookies");
    auto* cookies = new QHBoxLayout;
    cookies->addWidget(Label(this, "lblCookies", "Cookies:"));
    cookies->addStretch();
    cookies->addWidget(btnClearCookies_);
    l->addLayout(cookies);
    l->addWidget(lstCookies_, 1);
    connect(btnClearCookies_, &QPushButton::clicked, this, [this] { FillCookies(viewmodels::ClearCookies(copy_)); });
    connect(rgPswMethod_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (!on) return;
        edtUser_->setEnabled(id == 0);
        edtPsw_->setEnabled(id == 0);
    });
    return page;
}

QWidget* ProjectPropertiesDialog::BuildSchedulePage() {
    auto* page = new QWidget(this);
    page->setObjectName("Shed");
    cbWhen_ = new QComboBox(page);
    cbWhen_->setObjectName("cbWhen");
    cbWhen_->addItems({"Manually", "Daily", "Weekly", "Monthly", "Yearly", "Every"});
    // Two labels, one shown, so that both texts can be translated.
    auto* timeLabels = new QWidget(page);
    lblTime_ = Label(timeLabels, "lblTime", "Time:");
    lblTimeInterval_ = Label(timeLabels, "lblTimeInterval", "Time interval:");
    auto* tl = new QHBoxLayout(timeLabels);
    tl->setContentsMargins(0, 0, 0, 0);
    tl->addWidget(lblTime_);
    tl->addWidget(lblTimeInterval_);
    tpTime_ = new QTimeEdit(page);
    tpTime_->setObjectName("tpTime");
    tpTime_->setDisplayFormat("HH:mm");
    cbWeekday_ = new QComboBox(page);
    cbWeekday_->setObjectName("cbWeekday");
    cbWeekday_->addItems({"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"});
    edtDay_ = SpinBox(page, "edtDay", 1, 31);
    cbMonth_ = new QComboBox(page);
    cbMonth_->setObjectName("cbMonth");
    cbMonth_->addItems({"January", "February", "March", "April", "May", "June", "July", "August", "September",
                        "October", "November", "December"});
    chkOnce_ = CheckBox(page, "chkOnce", "Only once");
    auto* form = new QFormLayout;
    form->addRow(Label(this, "lblWhen", "Download intervals:"), cbWhen_);
    form->addRow(timeLabels, tpTime_);
    form->addRow(Label(this, "lblWeekday", "Weekday:"), cbWeekday_);
    form->addRow(Label(this, "lblDay", "Day:"), edtDay_);
    form->addRow(Label(this, "lblMonth", "Month:"), cbMonth_);
    form->addRow(chkOnce_);
    auto* l = new QVBoxLayout(page);
    l->addLayout(form);
    l->addStretch();
    connect(cbWhen_, &QComboBox::currentIndexChanged, this, &ProjectPropertiesDialog::UpdateScheduleEnables);
    return page;
}

// ---- filling -------------------------------------------------------------------------------

void ProjectPropertiesDialog::SetProject(const store::Project& settings, bool isDefaults) {
    copy_.Assign(settings);
    original_.Assign(settings);
    defaults_ = isDefaults;
    setWindowTitle(isDefaults ? Q(store::UIMessage(store::UIText::DefaultProjectProperties))
                              : QString("Project Properties"));
    lblName_->setVisible(!isDefaults);
    edtName_->setVisible(!isDefaults);
    FillAll();
    for (FilterPage& f : filters_) f.pick->setVisible(static_cast<bool>(KeywordPicker));
    category_ = -1;
    filter_ = nullptr;
    tvProp_->setCurrentItem(nullptr);
    SelectNode("Project");
}

void ProjectPropertiesDialog::FillCookies(const viewmodels::CookiePanel& panel) {
    lstCookies_->clear();
    for (const std::string& line : panel.lines) lstCookies_->addItem(Q(line));
    btnClearCookies_->setEnabled(panel.canClear);
}

void ProjectPropertiesDialog::FillAll() {
    loading_ = true;
    edtURL_->setText(Q(copy_.URL));
    edtName_->setText(Q(copy_.Caption));
    edtLevel_->setValue(viewmodels::Clamp(copy_.Lev, 0, 999));
    edtFM3Lev_->setMaximum(edtLevel_->value());
    edtFM3Lev_->setValue(copy_.FM3Lev);
    Check(rgFMGroup_, copy_.FMGroup);
    edtFM3Lev_->setEnabled(rgFMGroup_->checkedId() == 3);

    chkLimBTSize_->setChecked(copy_.LimBTSize);
    edtLimTSize_->setValue(copy_.LimTSize);
    chkLimBNumber_->setChecked(copy_.LimBNumber);
    edtLimNumber_->setValue(copy_.LimNumber);
    chkEnableScript_->setChecked(copy_.EnableScript);
    chkEnableJava_->setChecked(copy_.EnableJava);
    chkLTranslate_->setChecked(copy_.LTranslate);
    chkCrawlTraps_->setChecked(copy_.CrawlTraps);
    chkWebArchive_->setChecked(copy_.WebArchive);
    chkRobots_->setChecked(copy_.Robots);
    edtPerSecond_->setValue(viewmodels::Clamp(copy_.PerSecond, 0, 1000));
    chkSitemaps_->setChecked(copy_.Sitemaps);
    chkRenderPages_->setChecked(copy_.RenderPages);
    edtLoginURL_->setText(Q(copy_.LoginURL));
    memLoginFields_->setPlainText(Q(copy_.LoginFields));
    FillCookies(viewmodels::ShowCookies(copy_, defaults_));

    for (int i = 0; i < store::kCategoryCount; ++i)
        categoryItems_[i]->setCheckState(
            0, copy_.Categories[i].Flag(store::CategoryFlag::Excluded) ? Qt::Unchecked : Qt::Checked);

    for (FilterPage& f : filters_) {
        Check(f.rule, app::FilterRule(copy_, f.index));
        f.keywords->setEnabled(f.rule->checkedId() == 2);
        f.view->setCurrentIndex(0);
        f.edit->clear();
    }

    Check(rgPswMethod_, copy_.pswMethod);
    edtUser_->setText(Q(copy_.User));
    edtPsw_->setText(Q(copy_.Psw));

    cbWhen_->setCurrentIndex(viewmodels::Clamp(copy_.When, 0, 5));
    tpTime_->setTime(QTime(viewmodels::Clamp(copy_.Hour, 0, 23), viewmodels::Clamp(copy_.Minute, 0, 59)));
    cbWeekday_->setCurrentIndex(viewmodels::Clamp(copy_.Weekday, 0, 6));
    edtDay_->setValue(viewmodels::Clamp(copy_.Day, 0, 30) + 1);
    cbMonth_->setCurrentIndex(viewmodels::Clamp(copy_.Month, 0, 11));
    chkOnce_->setChecked(copy_.Once);
    UpdateScheduleEnables();
    loading_ = false;
}

void ProjectPropertiesDialog::FillCategoryPage() {
    if (category_ < 0) return;
    const store::FileCategory& c = copy_.Categories[category_];
    loading_ = true;
    gbTypes_->setVisible(category_ != store::kCatOther);
    Check(rgTypes_, c.Flag(store::CategoryFlag::SelectedTypesOnly) ? 1 : 0);
    FillChecklist(lbExts_, store::ParseTickedList(c.Exts));
    edtExt_->clear();
    Check(rgSizes_, c.Flag(store::CategoryFlag::SelectedSizesOnly) ? 1 : 0);
    chkMinSize_->setChecked(c.Flag(store::CategoryFlag::MinSizeOn));
    edtMinSize_->setValue(c.MinSize);
    chkMaxSize_->setChecked(c.Flag(store::CategoryFlag::MaxSizeOn));
    edtMaxSize_->setValue(c.MaxSize == 0 && !c.Flag(store::CategoryFlag::MaxSizeOn) ? 100 : c.MaxSize);
    loading_ = false;
    UpdateCategoryEnables();
}

void ProjectPropertiesDialog::FillKeywordList(FilterPage& f) {
    loading_ = true;
    FillChecklist(f.list, store::ParseTickedList(app::KeywordList(copy_, f.index, f.view->currentIndex() == 1)));
    loading_ = false;
}

void ProjectPropertiesDialog::StoreKeywordList(FilterPage& f, const store::TickedList& list) {
    app::KeywordList(copy_, f.index, f.view->currentIndex() == 1) = store::FormatTickedList(list);
}

void ProjectPropertiesDialog::StoreExtensions(const store::TickedList& list) {
    if (category_ >= 0 && category_ != store::kCatOther)
        copy_.Categories[category_].Exts = store::FormatTickedList(list);
}

void ProjectPropertiesDialog::UpdateCategoryEnables() {
    if (category_ < 0) return;
    viewmodels::CategoryEnables e = viewmodels::CategoryControls(copy_.Categories[category_]);
    gbTypes_->setEnabled(e.groups);
    gbSizes_->setEnabled(e.groups);
    chkMinSize_->setEnabled(e.minCheck);
    chkMaxSize_->setEnabled(e.maxCheck);
    edtMinSize_->setEnabled(e.minEdit);
    edtMaxSize_->setEnabled(e.maxEdit);
}

void ProjectPropertiesDialog::UpdateScheduleEnables() {
    viewmodels::ScheduleEnables e = viewmodels::ScheduleControls(cbWhen_->currentIndex());
    lblTime_->setVisible(!e.interval);
    lblTimeInterval_->setVisible(e.interval);
    tpTime_->setEnabled(e.time);
    cbWeekday_->setEnabled(e.weekday);
    edtDay_->setEnabled(e.day);
    cbMonth_->setEnabled(e.month);
    chkOnce_->setEnabled(e.once);
}

// ---- navigation and help -----------------------------------------------------------------

bool ProjectPropertiesDialog::SelectNode(const QString& text) {
    QList<QTreeWidgetItem*> found = tvProp_->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty()) return false;
    tvProp_->setCurrentItem(found.first());
    return true;
}

void ProjectPropertiesDialog::NodeChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (!current) return;
    QTreeWidgetItem* parent = current->parent();
    pnlCaption_->setText("  " + (parent ? parent->text(0) + " - " : QString()) + current->text(0));
    lblDescription_->setText(Q(store::UIMessage(current->data(0, kMessage).toInt())));
    category_ = -1;
    filter_ = nullptr;
    if (current->childCount() > 0) {
        // A group: its first child, unless the user came up from one of its children.
        if (previous && previous->parent() == current)
            pages_->setCurrentWidget(pgEmpty_);
        else
            tvProp_->setCurrentItem(current->child(0));
        return;
    }
    QWidget* page = pages_->findChild<QWidget*>(current->data(0, kPage).toString(), Qt::FindDirectChildrenOnly);
    if (page) pages_->setCurrentWidget(page);
    if (int cat = current->data(0, kCategory).toInt(); cat >= 0) {
        category_ = cat;
        FillCategoryPage();
    }
    if (int f = current->data(0, kFilter).toInt(); f >= 0) {
        filter_ = &filters_[f];
        FillKeywordList(*filter_);
    }
}

QString ProjectPropertiesDialog::CurrentPage() const { return pages_->currentWidget()->objectName(); }

QString ProjectPropertiesDialog::CurrentTopic() const {
    QTreeWidgetItem* item = tvProp_->currentItem();
    return item && pages_->currentWidget() != pgEmpty_ ? item->data(0, kTopic).toString() : QString();
}

void ProjectPropertiesDialog::ShowHelp() { dialog::OpenHelp(this, CurrentTopic(), OnHelp); }

// ---- OK ----------------------------------------------------------------------------------------

void ProjectPropertiesDialog::ReadOnOk() {
    copy_.URL = S(edtURL_->text());
    if (!defaults_) {
        // As when the store is read: an empty name shows the address, a long one is cut.
        copy_.Caption = store::LimitCaption(S(edtName_->text()));
        if (copy_.Caption.empty()) copy_.Caption = copy_.URL;
    }
    copy_.Lev = viewmodels::ReadLevel(S(edtLevel_->cleanText()));
    copy_.FM3Lev = viewmodels::ReadSkipLevel(S(edtFM3Lev_->cleanText()), copy_.Lev);

    copy_.LimBTSize = chkLimBTSize_->isChecked();
    copy_.LimTSize = viewmodels::ReadTotalSizeLimit(S(edtLimTSize_->cleanText()));
    copy_.LimBNumber = chkLimBNumber_->isChecked();
    copy_.LimNumber = viewmodels::ReadFileCountLimit(S(edtLimNumber_->cleanText()));
    copy_.EnableScript = chkEnableScript_->isChecked();
    copy_.EnableJava = chkEnableJava_->isChecked();
    copy_.LTranslate = chkLTranslate_->isChecked();
    copy_.CrawlTraps = chkCrawlTraps_->isChecked();
    copy_.WebArchive = chkWebArchive_->isChecked();
    copy_.Robots = chkRobots_->isChecked();
    copy_.PerSecond = edtPerSecond_->value();
    copy_.Sitemaps = chkSitemaps_->isChecked();
    copy_.RenderPages = chkRenderPages_->isChecked();
    copy_.LoginURL = S(edtLoginURL_->text());
    copy_.LoginFields = viewmodels::FormFieldsText(S(memLoginFields_->toPlainText()));

    for (FilterPage& f : filters_) app::FilterRule(copy_, f.index) = f.rule->checkedId();

    copy_.pswMethod = rgPswMethod_->checkedId();
    copy_.User = S(edtUser_->text());
    copy_.Psw = S(edtPsw_->text());

    copy_.When = cbWhen_->currentIndex();
    copy_.Hour = tpTime_->time().hour();
    copy_.Minute = tpTime_->time().minute();
    copy_.Weekday = cbWeekday_->currentIndex();
    copy_.Day = viewmodels::ReadDay(S(edtDay_->cleanText()));
    copy_.Month = cbMonth_->currentIndex();
    copy_.Once = chkOnce_->isChecked();
}

void ProjectPropertiesDialog::accept() {
    ReadOnOk();
    QDialog::accept();
}

}  // namespace qm::ui
