// The options dialog: widgets and their wiring. The values and the rules for taking them
// back are app/options_form's; browser detection is app/browser_detect's.
#include "ui/options_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

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

enum Role { kPage = Qt::UserRole, kTopic, kMessage, kToolList };

QLineEdit* Field(QWidget* parent, const char* name, int width = 0) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    if (width > 0) e->setMaximumWidth(width);
    return e;
}

QWidget* Page(QWidget* parent, const char* name) {
    auto* page = new QWidget(parent);
    page->setObjectName(name);
    return page;
}

}  // namespace

ProgramOptionsDialog::ProgramOptionsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("dlgOptions");
    setWindowTitle("Options");
    tvOptions_ = new QTreeWidget(this);
    tvOptions_->setObjectName("tvOptions");
    tvOptions_->setHeaderHidden(true);
    tvOptions_->setFixedWidth(150);
    pnlCaption_ = new QLabel(this);
    pnlCaption_->setObjectName("pnlCaption");
    pnlCaption_->setWordWrap(true);
    pnlCaption_->setStyleSheet(
        "font-weight: bold; background: palette(dark); color: palette(bright-text); padding: 3px");
    pnlCaption_->setCursor(Qt::PointingHandCursor);
    dialog::OnClick(pnlCaption_, [this] { ShowHelp(); });
    pages_ = new QStackedWidget(this);
    pages_->setObjectName("pgcOptions");

    pgNil_ = Page(this, "Nil");
    auto* nl = new QVBoxLayout(pgNil_);
    auto* nilText = Label(pgNil_, "lblNil", "Select a subcategory to display");
    nilText->setAlignment(Qt::AlignCenter);
    nl->addWidget(nilText);
    pages_->addWidget(pgNil_);
    pages_->addWidget(BuildConnectionPage());
    pages_->addWidget(BuildProxyPage());
    pages_->addWidget(BuildDownloadPage());
    pages_->addWidget(BuildDiskSpacePage());
    pages_->addWidget(BuildAdvancedPage());
    pages_->addWidget(BuildTransfersPage());
    pages_->addWidget(pgTools_ = BuildToolsPage());
    BuildCategories();

    QDialogButtonBox* buttons = dialog::OkCancelHelp(this);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &ProgramOptionsDialog::ShowHelp);

    auto* right = new QVBoxLayout;
    right->addWidget(pnlCaption_);
    right->addWidget(pages_, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(tvOptions_);
    top->addLayout(right, 1);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addWidget(buttons);
    resize(660, 560);
    // Texts the dialog sets itself from the message list are no texts of the language file.
    for (QObject* shown : {static_cast<QObject*>(pnlCaption_), static_cast<QObject*>(lblFreeSpace_),
                           static_cast<QObject*>(lblToolList_)})
        MarkUserData(shown);
    SetForm(viewmodels::OptionsForm());
    RegisterLanguageWindow(this);
    ApplyLanguage(this);
}

void ProgramOptionsDialog::BuildCategories() {
    struct NodeDef {
        const char* text;
        int parent;
        const char* page;
        const char* topic;
        int message;
        int toolList;
    };
    static const NodeDef nodes[] = {
        {"Connection", -1, "Connection", "InternetConnection", 34, -1},
        {"Proxy", -1, "Proxy", "ProxyServer", 35, -1},
        {"Download", -1, "Download", "OptionsDirectory", 36, -1},
        {"Disk Space", -1, "DiskSpace", "OptionsDiskSpace", 37, -1},
        {"Advanced", -1, "Advanced", "OptionsAdvanced", 38, -1},
        {"Transfers", -1, "Transfers", "OptionsTransfers", -1, -1},
        {"Tools", -1, "Nil", "", -1, -1},
        {"Browsers", 6, "Tools", "ToolsList", 39, 0},
        {"Viewers", 6, "Tools", "ToolsList", 41, 1},
        {"Editors", 6, "Tools", "ToolsList", 43, 2},
    };
    std::vector<QTreeWidgetItem*> items;
    for (const NodeDef& n : nodes) {
        auto* item = n.parent < 0 ? new QTreeWidgetItem(tvOptions_) : new QTreeWidgetItem(items[n.parent]);
        item->setText(0, n.text);
        item->setData(0, kPage, QString(n.page));
        item->setData(0, kTopic, QString(n.topic));
        item->setData(0, kMessage, n.message);
        item->setData(0, kToolList, n.toolList);
        items.push_back(item);
    }
    tvOptions_->expandAll();
    connect(tvOptions_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { CategoryChanged(current); });
}

QWidget* ProgramOptionsDialog::BuildConnectionPage() {
    QWidget* page = Page(this, "Connection");
    edtHTTPCount_ = Field(page, "edtHTTPCount", 80);
    edtTimeOut_ = Field(page, "edtTimeOut", 80);
    edtConnRetries_ = Field(page, "edtConnRetries", 80);
    chkHTTPStart_ = CheckBox(page, "chkHTTPStart", "Internal HTTP server port:");
    edtHTTPPort_ = Field(page, "edtHTTPPort", 80);
    auto* form = new QFormLayout(page);
    form->addRow(Label(this, "lblHTTPCount", "Number of connections:"), edtHTTPCount_);
    form->addRow(Label(this, "lblTimeOut", "Timeout (seconds):"), edtTimeOut_);
    form->addRow(Label(this, "lblConnRetries", "Number of retries (0 = unlimited):"), edtConnRetries_);
    form->addRow(chkHTTPStart_, edtHTTPPort_);
    // Out-of-range numbers show the value they will be kept as.
    connect(edtHTTPPort_, &QLineEdit::editingFinished, this,
            [this] { edtHTTPPort_->setText(QString::number(viewmodels::TakeBackPort(S(edtHTTPPort_->text()), 800))); });
    connect(edtTimeOut_, &QLineEdit::editingFinished, this, [this] {
        edtTimeOut_->setText(QString::number(viewmodels::TakeBackTimeOut(S(edtTimeOut_->text())) / 1000));
    });
    return page;
}

QWidget* ProgramOptionsDialog::BuildProxyPage() {
    QWidget* page = Page(this, "Proxy");
    auto* typeBox = new QGroupBox("Proxy type", page);
    typeBox->setObjectName("gbProxyType");
    auto* tl = new QVBoxLayout(typeBox);
    rgProxyType_ = Radios(typeBox, tl, "ProxyType", {"No proxy", "HTTP proxy", "SOCKS4 proxy"});
    edtProxyAddr_ = Field(page, "edtProxyAddr");
    edtProxyAddr_->setMaxLength(50);
    edtProxyPort_ = Field(page, "edtProxyPort", 80);
    auto* auth = new QGroupBox("HTTP proxy authentication (Leave blank if not required)", page);
    auth->setObjectName("gbProxyAuth");
    edtHTTPUser_ = Field(auth, "edtHTTPUser");
    edtHTTPPass_ = Field(auth, "edtHTTPPass");
    auto* al = new QFormLayout(auth);
    al->addRow(Label(this, "lblHTTPUser", "Username:"), edtHTTPUser_);
    al->addRow(Label(this, "lblHTTPPass", "Password:"), edtHTTPPass_);
    auto* form = new QFormLayout;
    form->addRow(Label(this, "lblProxyAddr", "Proxy address:"), edtProxyAddr_);
    form->addRow(Label(this, "lblProxyPort", "Proxy port:"), edtProxyPort_);
    auto* l = new QVBoxLayout(page);
    l->addWidget(typeBox);
    l->addLayout(form);
    l->addWidget(auth);
    l->addStretch();
    return page;
}

QWidget* ProgramOptionsDialog::BuildDownloadPage() {
    QWidget* page = Page(this, "Download");
    edtPathPrefix_ = Field(page, "edtPathPrefix");
    auto* browse = new QPushButton("...", page);
    browse->setObjectName("btnPathPrefix");
    browse->setFixedWidth(30);
    auto* row = new QHBoxLayout;
    row->addWidget(edtPathPrefix_);
    row->addWidget(browse);
    auto* l = new QVBoxLayout(page);
    l->addWidget(Label(page, "lblPathPrefix", "Download directory:"));
    l->addLayout(row);
    l->addStretch();
    connect(browse, &QPushButton::clicked, this, [this] {
        QString dir = QFileDialog::getExistingDirectory(this, "Download directory", edtPathPrefix_->text());
        if (!dir.isEmpty()) edtPathPrefix_->setText(dir + "/");
    });
    connect(edtPathPrefix_, &QLineEdit::textChanged, this, &ProgramOptionsDialog::UpdateFreeSpace);
    return page;
}

QWidget* ProgramOptionsDialog::BuildDiskSpacePage() {
    QWidget* page = Page(this, "DiskSpace");
    edtDiskSpace_ = Field(page, "edtDiskSpace", 80);
    lblFreeSpace_ = new QLabel(page);
    lblFreeSpace_->setObjectName("lblFreeSpace");
    auto* limit = new QHBoxLayout;
    limit->addWidget(edtDiskSpace_);
    limit->addWidget(Label(page, "lblMB", "MB"));
    limit->addStretch();
    auto* form = new QFormLayout(page);
    form->addRow(Label(page, "lblDiskSpace", "Disk free space limit:"), limit);
    form->addRow(Label(this, "lblHardDisk", "Hard disk free space:"), lblFreeSpace_);
    return page;
}

QWidget* ProgramOptionsDialog::BuildAdvancedPage() {
    QWidget* page = Page(this, "Advanced");
    auto* show = new QGroupBox("Tools window", page);
    show->setObjectName("gbShowMode");
    auto* sl = new QHBoxLayout(show);
    rgShowMode_ = Radios(show, sl, "ShowMode", {"Normal", "Maximized", "Minimized"});
    auto* confirm = new QGroupBox("Confirmations", page);
    confirm->setObjectName("gbConfirmations");
    auto* cl = new QHBoxLayout(confirm);
    chkConfirmDel_ = CheckBox(confirm, "chkConfirmDel", "When deleting files");
    chkConfirmExit_ = CheckBox(confirm, "chkConfirmExit", "When exiting program");
    cl->addWidget(chkConfirmDel_);
    cl->addWidget(chkConfirmExit_);
    chkSysTray_ = CheckBox(page, "chkSysTray", "Run in system tray");
    chkSplash_ = CheckBox(page, "chkSplash", "Display splash screen at startup");
    auto* map = new QGroupBox("Map mode", page);
    map->setObjectName("gbMapMode");
    auto* ml = new QVBoxLayout(map);
    rgMapMode_ = Radios(
        map, ml, "MapMode",
        {"Map displays only web sites belonging to the selected Project", "Map displays all downloaded web sites"});
    auto* dbl = new QGroupBox("Double-click on a Project to", page);
    dbl->setObjectName("gbDblClkAction");
    auto* dl = new QHBoxLayout(dbl);
    rgDblClkAction_ = Radios(dbl, dl, "DblClkAction", {"View the Project in browser", "Open the Project Properties"});
    chkAutoSave_ = CheckBox(page, "chkAutoSave", "Save changes every");
    edtAutoSave_ = Field(page, "edtAutoSave", 60);
    auto* save = new QHBoxLayout;
    save->addWidget(chkAutoSave_);
    save->addWidget(edtAutoSave_);
    save->addWidget(Label(page, "lblMinutes", "Minutes"));
    save->addStretch();
    auto* agent = new QGroupBox("Agent Identification", page);
    agent->setObjectName("gbAgent");
    rbAgentList_ = new QRadioButton("Identify as:", agent);
    rbAgentList_->setObjectName("rbAgentList");
    rbAgentText_ = new QRadioButton("Use this identification:", agent);
    rbAgentText_->setObjectName("rbAgentText");
    cbAgent_ = new QComboBox(agent);
    cbAgent_->setObjectName("cbAgent");
    for (const viewmodels::UserAgentEntry& e : viewmodels::UserAgentEntries()) cbAgent_->addItem(e.caption);
    edtAgent_ = Field(agent, "edtAgent");
    auto* gl = new QFormLayout(agent);
    gl->addRow(rbAgentList_, cbAgent_);
    gl->addRow(rbAgentText_, edtAgent_);
    connect(rbAgentList_, &QRadioButton::toggled, this, &ProgramOptionsDialog::UpdateAgentEnables);
    edtBookmarksFile_ = Field(page, "edtBookmarksFile");
    auto* pickBookmarks = new QPushButton("...", page);
    pickBookmarks->setObjectName("btnBookmarksFile");
    pickBookmarks->setFixedWidth(30);
    auto* bookmarks = new QHBoxLayout;
    bookmarks->addWidget(Label(page, "lblBookmarksFile", "Bookmarks file:"));
    bookmarks->addWidget(edtBookmarksFile_, 1);
    bookmarks->addWidget(pickBookmarks);
    connect(pickBookmarks, &QPushButton::clicked, this, [this] {
        QString file = QFileDialog::getOpenFileName(this, "Bookmarks file", edtBookmarksFile_->text(),
                                                    "HTML files (*.html *.htm);;All files (*)");
        if (!file.isEmpty()) edtBookmarksFile_->setText(file);
    });

    auto* l = new QVBoxLayout(page);
    l->addWidget(show);
    l->addWidget(confirm);
    auto* switches = new QHBoxLayout;
    switches->addWidget(chkSysTray_);
    switches->addWidget(chkSplash_);
    l->addLayout(switches);
    l->addWidget(map);
    l->addWidget(dbl);
    l->addLayout(save);
    l->addWidget(agent);
    l->addLayout(bookmarks);
    l->addStretch();
    return page;
}

QWidget* ProgramOptionsDialog::BuildTransfersPage() {
    QWidget* page = Page(this, "Transfers");
    auto* connections = new QGroupBox("Connections", page);
    connections->setObjectName("gbTransferConnections");
    chkKeepAlive_ =
        CheckBox(connections, "chkKeepAlive", "Keep a connection open for the next file from the same server");
    chkFtpPassive_ = CheckBox(connections, "chkFtpPassive", "Passive FTP data connections from the start");
    chkSSLAnyCert_ = CheckBox(connections, "chkSSLAnyCert", "Accept https certificates the system does not trust");
    edtPause_ = Field(connections, "edtPause", 60);
    auto* pause = new QHBoxLayout;
    pause->addWidget(Label(connections, "lblPause", "Wait before each new connection:"));
    pause->addWidget(edtPause_);
    pause->addWidget(Label(connections, "lblPauseSeconds", "Seconds"));
    pause->addStretch();
    auto* cl = new QVBoxLayout(connections);
    cl->addWidget(chkKeepAlive_);
    cl->addWidget(chkFtpPassive_);
    cl->addWidget(chkSSLAnyCert_);
    cl->addLayout(pause);
    connect(edtPause_, &QLineEdit::editingFinished, this,
            [this] { edtPause_->setText(QString::number(viewmodels::TakeBackPause(S(edtPause_->text())))); });

    auto* stored = new QGroupBox("Stored files", page);
    stored->setObjectName("gbTransferFiles");
    chkExtLast_ = CheckBox(stored, "chkExtLast", "Keep the extension last in names made from a query");
    auto* sl = new QVBoxLayout(stored);
    sl->addWidget(chkExtLast_);

    auto* analysis = new QGroupBox("Page analysis", page);
    analysis->setObjectName("gbTransferAnalysis");
    cbPriority_ = new QComboBox(analysis);
    cbPriority_->setObjectName("cbPriority");
    for (const char* entry : viewmodels::PriorityEntries()) cbPriority_->addItem(entry);
    chkLowMemory_ =
        CheckBox(analysis, "chkLowMemory", "Save memory: no new analysis while a queue holds 1000 addresses");
    auto* priority = new QHBoxLayout;
    priority->addWidget(Label(analysis, "lblPriority", "Analysis priority:"));
    priority->addWidget(cbPriority_);
    priority->addStretch();
    auto* al = new QVBoxLayout(analysis);
    al->addLayout(priority);
    al->addWidget(chkLowMemory_);

    auto* l = new QVBoxLayout(page);
    l->addWidget(connections);
    l->addWidget(stored);
    l->addWidget(analysis);
    l->addStretch();
    return page;
}

QWidget* ProgramOptionsDialog::BuildToolsPage() {
    QWidget* page = Page(this, "Tools");
    lblToolList_ = new QLabel(page);
    lblToolList_->setObjectName("lblToolList");
    lbTools_ = new QListWidget(page);
    lbTools_->setObjectName("lbTools");
    edtToolCaption_ = Field(page, "edtToolCaption");
    edtToolFile_ = Field(page, "edtToolFile");
    auto* add = new QPushButton("<<       &Add", page);
    add->setObjectName("btnToolAdd");
    auto* remove = new QPushButton(">> &Remove", page);
    remove->setObjectName("btnToolRemove");
    auto* browse = new QPushButton("Browse for File", page);
    browse->setObjectName("btnToolBrowse");
    btnAutoDetect_ = new QPushButton("Auto &Detect", page);
    btnAutoDetect_->setObjectName("btnAutoDetect");
    auto* side = new QVBoxLayout;
    side->addWidget(Label(page, "lblToolCaption", "Caption:"));
    side->addWidget(edtToolCaption_);
    side->addWidget(Label(page, "lblToolFile", "File:"));
    side->addWidget(edtToolFile_);
    side->addWidget(browse);
    side->addWidget(add);
    side->addWidget(remove);
    side->addStretch();
    side->addWidget(btnAutoDetect_);
    auto* row = new QHBoxLayout;
    row->addWidget(lbTools_, 1);
    row->addLayout(side);
    auto* l = new QVBoxLayout(page);
    l->addWidget(lblToolList_);
    l->addLayout(row, 1);

    connect(lbTools_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        std::vector<desktop::ToolEntry>* tools = CurrentTools();
        int row = lbTools_->row(item);
        if (tools && row >= 0 && row < static_cast<int>(tools->size()))
            (*tools)[row].ticked = item->checkState() == Qt::Checked;
    });
    connect(add, &QPushButton::clicked, this, [this] {
        std::vector<desktop::ToolEntry>* tools = CurrentTools();
        desktop::ToolEntry entry;
        if (!tools || !desktop::MakeToolEntry(S(edtToolCaption_->text()), S(edtToolFile_->text()), entry)) return;
        tools->push_back(entry);
        FillTools();
        edtToolCaption_->clear();
        edtToolFile_->clear();
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        std::vector<desktop::ToolEntry>* tools = CurrentTools();
        int row = lbTools_->currentRow();
        if (!tools || row < 0 || row >= static_cast<int>(tools->size())) return;
        tools->erase(tools->begin() + row);
        FillTools();
    });
    connect(browse, &QPushButton::clicked, this, [this] {
        QString file = QFileDialog::getOpenFileName(this, "Browse for File", edtToolFile_->text());
        if (!file.isEmpty()) edtToolFile_->setText(file);
    });
    connect(btnAutoDetect_, &QPushButton::clicked, this, &ProgramOptionsDialog::AutoDetect);
    return page;
}

// ---- filling and reading -----------------------------------------------------------------------

void ProgramOptionsDialog::SetForm(const viewmodels::OptionsForm& f) {
    form_ = f;
    edtHTTPCount_->setText(Q(f.connections));
    edtTimeOut_->setText(Q(f.timeOutSeconds));
    edtConnRetries_->setText(Q(f.retries));
    chkHTTPStart_->setChecked(f.httpStart);
    edtHTTPPort_->setText(Q(f.port));
    Check(rgProxyType_, f.proxyType);
    edtProxyAddr_->setText(Q(f.proxyAddr));
    edtProxyPort_->setText(Q(f.proxyPort));
    edtHTTPUser_->setText(Q(f.proxyUser));
    edtHTTPPass_->setText(Q(f.proxyPass));
    edtPathPrefix_->setText(Q(f.downloadFolder));
    edtDiskSpace_->setText(Q(f.diskSpace));
    Check(rgShowMode_, f.showMode);
    chkConfirmDel_->setChecked(f.confirmDel);
    chkConfirmExit_->setChecked(f.confirmExit);
    chkSysTray_->setChecked(f.sysTray);
    chkSplash_->setChecked(f.splash);
    Check(rgMapMode_, f.mapMode);
    Check(rgDblClkAction_, f.dblClkAction);
    chkAutoSave_->setChecked(f.autoSave);
    edtAutoSave_->setText(Q(f.autoSaveMinutes));
    (f.agentFromList ? rbAgentList_ : rbAgentText_)->setChecked(true);
    cbAgent_->setCurrentIndex(f.agentIndex);
    edtAgent_->setText(Q(f.agentText));
    edtBookmarksFile_->setText(Q(f.bookmarksFile));
    chkKeepAlive_->setChecked(f.keepAlive);
    chkFtpPassive_->setChecked(f.ftpPassive);
    chkSSLAnyCert_->setChecked(f.sslAnyCert);
    chkExtLast_->setChecked(f.extLast);
    chkLowMemory_->setChecked(f.lowMemory);
    edtPause_->setText(Q(f.pauseSeconds));
    cbPriority_->setCurrentIndex(f.priorityIndex);
    UpdateAgentEnables();
    UpdateFreeSpace();
    tvOptions_->setCurrentItem(tvOptions_->topLevelItem(0));
    FillTools();
}

viewmodels::OptionsForm ProgramOptionsDialog::Form() const {
    viewmodels::OptionsForm f = form_;
    f.connections = S(edtHTTPCount_->text());
    f.timeOutSeconds = S(edtTimeOut_->text());
    f.retries = S(edtConnRetries_->text());
    f.httpStart = chkHTTPStart_->isChecked();
    f.port = S(edtHTTPPort_->text());
    f.proxyType = rgProxyType_->checkedId();
    f.proxyAddr = S(edtProxyAddr_->text());
    f.proxyPort = S(edtProxyPort_->text());
    f.proxyUser = S(edtHTTPUser_->text());
    f.proxyPass = S(edtHTTPPass_->text());
    f.downloadFolder = S(edtPathPrefix_->text());
    f.diskSpace = S(edtDiskSpace_->text());
    f.showMode = rgShowMode_->checkedId();
    f.confirmDel = chkConfirmDel_->isChecked();
    f.confirmExit = chkConfirmExit_->isChecked();
    f.sysTray = chkSysTray_->isChecked();
    f.splash = chkSplash_->isChecked();
    f.mapMode = rgMapMode_->checkedId();
    f.dblClkAction = rgDblClkAction_->checkedId();
    f.autoSave = chkAutoSave_->isChecked();
    f.autoSaveMinutes = S(edtAutoSave_->text());
    f.agentFromList = rbAgentList_->isChecked();
    f.agentIndex = cbAgent_->currentIndex();
    f.agentText = S(edtAgent_->text());
    f.bookmarksFile = S(edtBookmarksFile_->text());
    f.keepAlive = chkKeepAlive_->isChecked();
    f.ftpPassive = chkFtpPassive_->isChecked();
    f.sslAnyCert = chkSSLAnyCert_->isChecked();
    f.extLast = chkExtLast_->isChecked();
    f.lowMemory = chkLowMemory_->isChecked();
    f.pauseSeconds = S(edtPause_->text());
    f.priorityIndex = cbPriority_->currentIndex();
    return f;
}

std::vector<desktop::ToolEntry>* ProgramOptionsDialog::CurrentTools() {
    switch (toolList_) {
    case 0: return &form_.browsers;
    case 1: return &form_.viewers;
    case 2: return &form_.editors;
    default: return nullptr;
    }
}

void ProgramOptionsDialog::FillTools() {
    QSignalBlocker block(lbTools_);
    lbTools_->clear();
    std::vector<desktop::ToolEntry>* tools = CurrentTools();
    if (!tools) return;
    for (const desktop::ToolEntry& e : *tools) {
        auto* item = new QListWidgetItem(Q(e.caption), lbTools_);
        item->setToolTip(Q(e.program));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(e.ticked ? Qt::Checked : Qt::Unchecked);
    }
}

void ProgramOptionsDialog::AutoDetect() {
    if (toolList_ != 0) return;
    desktop::DetectBrowsers(form_.browsers, DetectSources);
    FillTools();
}

void ProgramOptionsDialog::UpdateFreeSpace() {
    lblFreeSpace_->setText(Q(viewmodels::FreeSpaceText(S(edtPathPrefix_->text()))));
}

void ProgramOptionsDialog::UpdateAgentEnables() {
    cbAgent_->setEnabled(rbAgentList_->isChecked());
    edtAgent_->setEnabled(!rbAgentList_->isChecked());
}

// ---- categories and help -------------------------------------------------------------------

void ProgramOptionsDialog::CategoryChanged(QTreeWidgetItem* current) {
    if (!current) return;
    int message = current->data(0, kMessage).toInt();
    // A category without a description of its own shows its caption.
    pnlCaption_->setText(message >= 0            ? Q(store::UIMessage(message))
                         : current->childCount() ? QString()
                                                 : current->text(0));
    toolList_ = current->data(0, kToolList).toInt();
    QWidget* page = pages_->findChild<QWidget*>(current->data(0, kPage).toString(), Qt::FindDirectChildrenOnly);
    pages_->setCurrentWidget(page ? page : pgNil_);
    if (toolList_ >= 0) {
        lblToolList_->setText(Q(store::UIMessage(message + 1)));
        btnAutoDetect_->setVisible(toolList_ == 0);
        FillTools();
    }
}

bool ProgramOptionsDialog::SelectCategory(const QString& text) {
    QList<QTreeWidgetItem*> found = tvOptions_->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty()) return false;
    tvOptions_->setCurrentItem(found.first());
    return true;
}

QString ProgramOptionsDialog::CurrentPage() const { return pages_->currentWidget()->objectName(); }

QString ProgramOptionsDialog::CurrentTopic() const {
    QTreeWidgetItem* item = tvOptions_->currentItem();
    return item ? item->data(0, kTopic).toString() : QString();
}

QString ProgramOptionsDialog::DescriptionText() const { return pnlCaption_->text(); }

void ProgramOptionsDialog::ShowHelp() { dialog::OpenHelp(this, CurrentTopic(), OnHelp); }

}  // namespace qm::ui
