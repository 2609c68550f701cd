// The main window: widgets, menus and the forwarding of gestures to the program core.
#include "ui/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QProcess>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

#include "desktop/browser_detect.h"
#include "app/download_run.h"
#include "viewmodels/find_files.h"
#include "viewmodels/map_page.h"
#include "app/session.h"
#include "desktop/tool_list.h"
#include "app/window_state.h"
#include "engine/get_rec.h"
#include "engine/queue_file.h"
#include "engine/queue_manager.h"
#include "engine/site_map.h"
#include "net/http_client.h"
#include "platform/clipboard.h"
#include "platform/launch.h"
#include "platform/taskbar_progress.h"
#include "viewmodels/progress_view.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "ui/folder_prop_dialog.h"
#include "ui/image_list.h"
#include "ui/bookmark_menu.h"
#include "ui/language.h"
#include "ui/password_dialog.h"
#include "ui/qt_text.h"

namespace qm::ui {

using app::Node;

namespace {

constexpr int kFolderRole = Qt::UserRole;
constexpr int kProjectRole = Qt::UserRole + 1;
// The Project tree's columns: caption, progress bar, progress text.
constexpr int kBarColumn = 1;
constexpr int kProgressTextColumn = 2;

// The system clipboard for the tree commands' copy and paste.
class QtClipboard : public platform::Clipboard {
public:
    std::string Text() const override { return S(QGuiApplication::clipboard()->text()); }
    void SetText(const std::string& text) override { QGuiApplication::clipboard()->setText(Q(text)); }
};

QIcon FolderIcon() {
    QIcon icon;
    for (QSize size : Picture(2).availableSizes()) icon.addPixmap(Picture(2).pixmap(size), QIcon::Normal);
    if (icon.isNull()) icon = Picture(2);
    for (QSize size : Picture(3).availableSizes()) icon.addPixmap(Picture(3).pixmap(size), QIcon::Selected);
    return icon;
}
}  // namespace

// The Project tree: drops are taken only from the tree itself and only where the core
// accepts them; addresses dragged in from elsewhere become an address paste.
class ProjectTreeView : public QTreeWidget {
public:
    explicit ProjectTreeView(MainWindow& form) : QTreeWidget(&form), form_(form) {
        setObjectName("Tree");
        setHeaderHidden(true);
        setColumnCount(3);
        setColumnWidth(0, 220);
        setColumnWidth(kBarColumn, 110);
        setDragEnabled(true);
        setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DragDrop);
        setDefaultDropAction(Qt::CopyAction);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setContextMenuPolicy(Qt::CustomContextMenu);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->source() == this || e->mimeData()->hasUrls() || e->mimeData()->hasText())
            e->acceptProposedAction();
        else
            e->ignore();
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        if (e->source() != this) {
            e->acceptProposedAction();
            return;
        }
        QTreeWidgetItem* target = itemAt(e->position().toPoint());
        QTreeWidgetItem* source = currentItem();
        if (target && source &&
            app::TreeCommands::CanDrop(Node{Folder(source), Project(source)}, Node{Folder(target), Project(target)})) {
            e->setDropAction(Qt::CopyAction);
            e->accept();
        } else {
            e->ignore();
        }
    }
    void dropEvent(QDropEvent* e) override {
        if (e->source() != this) {
            form_.dropEvent(e);
            return;
        }
        QTreeWidgetItem* target = itemAt(e->position().toPoint());
        QTreeWidgetItem* source = currentItem();
        // The rows are rebuilt from the model afterwards; the view itself moves nothing.
        e->setDropAction(Qt::CopyAction);
        e->accept();
        if (!target || !source) return;
        Node s{Folder(source), Project(source)}, t{Folder(target), Project(target)};
        QTimer::singleShot(0, &form_, [this, s, t] { form_.DropNode(s, t); });
    }

private:
    static store::ProjectFolder* Folder(const QTreeWidgetItem* i) {
        return reinterpret_cast<store::ProjectFolder*>(i->data(0, kFolderRole).value<quintptr>());
    }
    static qm::store::Project* Project(const QTreeWidgetItem* i) {
        return reinterpret_cast<qm::store::Project*>(i->data(0, kProjectRole).value<quintptr>());
    }
    MainWindow& form_;
};

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName("MainForm");
    setWindowTitle("Brantforge Quillmoor 1.0");
    setWindowIcon(Picture(0));
    setAcceptDrops(true);
    RegisterLanguageWindow(this);
    static QtClipboard clipboard;
    platform::SetSystemClipboard(&clipboard);
    BuildWidgets();
}

QTreeWidget* MainWindow::Tree() const { return tree_; }

MainWindow::~MainWindow() {
    program_.reset();
    platform::SetSystemClipboard(nullptr);
}

void MainWindow::BuildWidgets() {
    pages_ = new QTabWidget(this);
    pages_->setObjectName("pgcItem");
    pgProjects_ = new QWidget(pages_);
    pgProjects_->setObjectName("pgProjects");
    tree_ = new ProjectTreeView(*this);
    auto* l1 = new QVBoxLayout(pgProjects_);
    l1->setContentsMargins(0, 0, 0, 0);
    l1->addWidget(tree_);
    pgMap_ = new QWidget(pages_);
    pgMap_->setObjectName("pgMap");
    siteMap_ = new DirectoryTreeView(pgMap_);
    auto* l2 = new QVBoxLayout(pgMap_);
    l2->setContentsMargins(0, 0, 0, 0);
    l2->addWidget(siteMap_);
    pages_->addTab(pgProjects_, Picture(0), "Projects");
    pages_->addTab(pgMap_, Picture(1), "Site Map");
    setCentralWidget(pages_);

    viewmodels::DirTreeModel& map = siteMap_->Model();
    map.OnGetIndex = [this](const std::string& folder, const std::string&, const std::string& name) {
        return PictureFor(folder, name);
    };
    map.OnProgress = [this](int pos, int max) {
        if (max == -1) {
            gauge_->hide();
            return;
        }
        // A map of many thousands of files reports every line; the gauge needs far fewer.
        if (pos % 128 != 0 && pos != max) return;
        gauge_->setMaximum(std::max(max, 1));
        gauge_->setValue(pos);
        gauge_->show();
    };

    // Address bar.
    auto* address = new QToolBar("Address", this);
    address->setObjectName("AddressBar");
    edtURL_ = new QLineEdit(address);
    edtURL_->setObjectName("edtURL");
    edtURL_->setPlaceholderText("http://");
    edtLevel_ = new QSpinBox(address);
    edtLevel_->setObjectName("edtLevel");
    edtLevel_->setRange(0, 99);
    edtLevel_->setPrefix("Level ");
    auto* lblAddress = new QLabel(" Address: ", address);
    lblAddress->setObjectName("lblAddress");
    address->addWidget(lblAddress);
    address->addWidget(edtURL_);
    address->addWidget(edtLevel_);
    connect(edtURL_, &QLineEdit::returnPressed, this, &MainWindow::AddressEntered);

    // Status bar: queue state, files, queue, size, speed; the gauge for map progress.
    statusBar()->setObjectName("StatusBar");
    for (int i = 0; i < 5; ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setObjectName(QString("StatusBar.Panel%1").arg(i));
        panels_[i]->setMinimumWidth(i == 0 ? 120 : 90);
        statusBar()->addWidget(panels_[i], i == 0 ? 1 : 0);
    }
    gauge_ = new QProgressBar(this);
    gauge_->setObjectName("Gauge");
    gauge_->setMaximumWidth(160);
    gauge_->hide();
    statusBar()->addPermanentWidget(gauge_);
    overall_ = new QProgressBar(this);
    overall_->setObjectName("OverallGauge");
    overall_->setRange(0, 1000);
    overall_->setFormat("%p%");
    overall_->setMaximumWidth(160);
    overall_->hide();
    statusBar()->addPermanentWidget(overall_);

    logWindow_ = new MessagesWindow(log_, this);
    progressWindow_ = new DownloadProgressWindow(log_, this);
    addDockWidget(Qt::BottomDockWidgetArea, progressWindow_);
    addDockWidget(Qt::BottomDockWidgetArea, logWindow_);
    tabifyDockWidget(progressWindow_, logWindow_);
    progressWindow_->raise();
    progressWindow_->OnCancel = [this](int index) {
        if (program_) program_->AbortConnection(index);
    };

    BuildMenus();
    addToolBar(Qt::TopToolBarArea, address);

    connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (refreshing_ || !program_) return;
        program_->Commands().Select(NodeOf(item));
        if (MapPageShown()) UpdateMap();
    });
    connect(tree_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        // Only the caption is edited; the progress columns change on their own.
        if (refreshing_ || !program_ || column != 0) return;
        Node node = NodeOf(item);
        QString text = item->text(0);
        QTimer::singleShot(0, this, [this, node, text] { RenameNode(node, text); });
    });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        Node n = NodeOf(item);
        if (!n.project || !program_) return;
        if (program_->State().Int("DblClkAction") == 1)
            FolderProperties();
        else
            Browse();
    });
    connect(siteMap_, &QTreeView::doubleClicked, this, [this] { Browse(); });
    connect(pages_, &QTabWidget::currentChanged, this, [this] {
        if (MapPageShown()) UpdateMap();
    });

    tmrPaste_.setObjectName("tmrPaste");
    tmrPaste_.setInterval(250);
    connect(&tmrPaste_, &QTimer::timeout, this, &MainWindow::QuarterTick);
    resize(900, 620);
}

void MainWindow::BuildMenus() {
    auto act = [this](QMenu* menu, const QString& caption, const char* name, auto slot, const QKeySequence& key = {}) {
        QAction* a = menu->addAction(caption, this, slot);
        a->setObjectName(name);
        if (!key.isEmpty()) a->setShortcut(key);
        return a;
    };
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("miFile");
    QMenu* newMenu = file->addMenu("&New");
    newMenu->setObjectName("miNew");
    act(
        newMenu, "&Project...", "miNewProject", [this] { NewProjectDialog(); }, QKeySequence("Ctrl+N"));
    act(newMenu, "&Folder", "miNewFolder", [this] { NewFolder(); });
    file->addSeparator();
    act(
        file, "Save &changes", "miSave",
        [this] {
            std::string error;
            StoreState();
            if (program_ && !program_->SaveAll(error)) ShowError(error, store::UIMessage(store::UIText::Error));
        },
        QKeySequence("Ctrl+S"));
    file->addSeparator();
    act(file, "E&xit", "miExit", [this] { close(); });

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->setObjectName("miEdit");
    act(
        edit, "Cu&t", "miCut",
        [this] {
            if (program_ && program_->Commands().Cut(SelectedNode())) RefreshTree();
        },
        QKeySequence::Cut);
    act(
        edit, "&Copy", "miCopy",
        [this] {
            if (program_) program_->Commands().Copy(SelectedNode());
        },
        QKeySequence::Copy);
    miPaste_ = act(
        edit, "&Paste", "miPaste",
        [this] {
            if (!program_) return;
            std::string error;
            if (program_->Commands().Paste(&error) > 0)
                RefreshTree();
            else if (!error.empty())
                ShowError(error, store::UIMessage(store::UIText::Error));
        },
        QKeySequence::Paste);
    act(
        edit, "&Delete", "miDelete", [this] { DeleteSelected(); }, QKeySequence::Delete);
    act(
        edit, "&Rename", "miRename",
        [this] {
            if (QTreeWidgetItem* i = tree_->currentItem(); i && !MapPageShown()) tree_->editItem(i);
        },
        QKeySequence(Qt::Key_F2));
    edit->addSeparator();
    QMenu* find = edit->addMenu("Find");
    find->setObjectName("miFindMenu");
    QAction* findFiles = act(
        find, "&Files or Folders...", "miFind",
        [this] {
            auto* dlg = new QDialog(this);
            dlg->setObjectName("dlgFind");
            dlg->setWindowTitle("Find");
            dlg->setAttribute(Qt::WA_DeleteOnClose);
            auto* text = new QLineEdit(dlg);
            auto* matchCase = new QCheckBox("Match &case", dlg);
            auto* next = new QPushButton("&Find Next", dlg);
            next->setDefault(true);
            auto* row = new QHBoxLayout(dlg);
            row->addWidget(new QLabel("Find what:", dlg));
            row->addWidget(text);
            row->addWidget(matchCase);
            row->addWidget(next);
            connect(next, &QPushButton::clicked, dlg, [this, text, matchCase] {
                if (!text->text().isEmpty()) FindNext(text->text(), matchCase->isChecked());
            });
            dlg->show();
        },
        QKeySequence("Ctrl+F"));
    findFiles->setStatusTip("Find Project, folder or file");

    QMenu* project = menuBar()->addMenu("&Project");
    project->setObjectName("miProject");
    act(
        project, "&Start", "miStart", [this] { StartSelected(); }, QKeySequence(Qt::Key_F5));
    act(project, "Sto&p", "miStop", [this] { StopSelected(); });
    miSuspend_ = act(project, Q(store::UIMessage(store::UIText::Suspend)), "miSuspend", [this] { ToggleSuspend(); });
    act(project, "Suspend To &File...", "miSuspendToFile", [this] {
        QString file =
            QFileDialog::getSaveFileName(this, "Suspend To File", QString(), "Queue files (*.que);;All files (*)");
        if (!file.isEmpty()) SuspendTo(file);
    });
    act(project, "Resume From F&ile...", "miResumeFromFile", [this] {
        QString file =
            QFileDialog::getOpenFileName(this, "Resume From File", QString(), "Queue files (*.que);;All files (*)");
        if (!file.isEmpty()) ResumeFrom(file);
    });
    project->addSeparator();
    act(project, "&Properties...", "miProperties", [this] { FolderProperties(); });
    act(project, "&Browse", "miBrowse", [this] { Browse(); });
    act(project, "Chec&k Stored Site...", "miCheckSite", [this] { CheckStoredSite(); });
    // The tool lists, rebuilt each time their menu opens.
    for (const char* list : {"Browsers", "Viewers", "Editors"}) {
        QMenu* tools = project->addMenu(QString("%1 with").arg(list));
        tools->setObjectName(QString("mi") + list);
        connect(tools, &QMenu::aboutToShow, this, [this, tools, list] {
            tools->clear();
            if (!program_) return;
            for (const desktop::Tool& t : desktop::ParseToolList(program_->State().Text(list))) {
                QString programFile = Q(t.program);
                tools->addAction(Q(t.caption), this, [this, programFile] { BrowseWith(programFile); });
            }
            if (tools->isEmpty()) tools->addAction(Q(store::UIMessage(store::UIText::Empty)))->setEnabled(false);
        });
    }

    QMenu* view = menuBar()->addMenu("&View");
    view->setObjectName("miView");
    // The two pages can be hidden ("pgProjects", "pgMap"); one always stays.
    for (QWidget* page : {pgProjects_, pgMap_}) {
        QAction* a = view->addAction(page == pgProjects_ ? "&Projects" : "Site &Map");
        a->setObjectName(page == pgProjects_ ? "miPgProjects" : "miPgMap");
        a->setCheckable(true);
        a->setChecked(true);
        connect(view, &QMenu::aboutToShow, a,
                [this, a, page] { a->setChecked(pages_->isTabVisible(pages_->indexOf(page))); });
        connect(a, &QAction::triggered, this, [this, a, page](bool on) {
            QWidget* other = page == pgProjects_ ? pgMap_ : pgProjects_;
            if (!on && !pages_->isTabVisible(pages_->indexOf(other))) {
                a->setChecked(true);
                return;
            }
            pages_->setTabVisible(pages_->indexOf(page), on);
            if (on) pages_->setCurrentWidget(page);
        });
    }
    view->addSeparator();
    QMenu* messages = view->addMenu("Messages");
    messages->setObjectName("miMessages");
    miPanel_ = act(messages, "&Panel", "miPanel", [this] { progressWindow_->setVisible(miPanel_->isChecked()); });
    miPanel_->setCheckable(true);
    miPanel_->setChecked(true);
    miWindow_ = act(messages, "&Window", "miWindow", [this] { logWindow_->setVisible(miWindow_->isChecked()); });
    miWindow_->setCheckable(true);
    miWindow_->setChecked(true);
    connect(progressWindow_, &DownloadProgressWindow::closedByUser, this, [this] { miPanel_->setChecked(false); });
    connect(logWindow_, &MessagesWindow::closedByUser, this, [this] { miWindow_->setChecked(false); });
    menuBar()->addMenu(logWindow_->Menu());
    AddDialogMenus(logWindow_->Menu());

    // Toolbar.
    QToolBar* tools = addToolBar("Toolbar");
    tools->setObjectName("ToolBar");
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto tb = [&](const QString& caption, const char* name, const char* theme, auto slot) {
        QAction* a = tools->addAction(QIcon::fromTheme(theme), caption, this, slot);
        a->setObjectName(name);
        return a;
    };
    tb("Add", "tbAdd", "list-add", [this] {
        edtURL_->setFocus();
        edtURL_->selectAll();
    });
    tb("Delete", "tbDelete", "edit-delete", [this] { DeleteSelected(); });
    tb("Download", "tbDownload", "go-down", [this] { StartSelected(); });
    tb("Stop", "tbStop", "process-stop", [this] { StopSelected(); });
    tb("Properties", "tbProperties", "document-properties", [this] { FolderProperties(); });
    tb("Browse", "tbBrowse", "web-browser", [this] { Browse(); });
    tbPaste_ = tb("Paste", "tbPaste", "edit-paste", [this] { miPaste_->trigger(); });
    addToolBarBreak();

    // Popup menu of the tree.
    connect(tree_, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QMenu menu(this);
        menu.addAction("&Start", this, [this] { StartSelected(); })->setObjectName("mpStart");
        menu.addAction("Sto&p", this, [this] { StopSelected(); })->setObjectName("mpStop");
        QAction* browse = menu.addAction("&Browse", this, [this] { Browse(); });
        QAction* props = menu.addAction("&Properties...", this, [this] { FolderProperties(); });
        browse->setObjectName("mpBrowse");
        props->setObjectName("mpProperties");
        if (SelectedNode().project)
            menu.addAction("Export web archive...", this, [this] { ExportWebArchive(); })
                ->setObjectName("mpExportArchive");
        menu.addSeparator();
        menu.addAction("&Rename", this,
                       [this] {
                           if (QTreeWidgetItem* i = tree_->currentItem()) tree_->editItem(i);
                       })
            ->setObjectName("mpRename");
        menu.addAction("&Delete", this, [this] { DeleteSelected(); })->setObjectName("mpDelete");
        bool props1 = program_ && program_->State().Int("DblClkAction") == 1;
        menu.setDefaultAction(props1 ? props : browse);
        menu.exec(tree_->viewport()->mapToGlobal(p));
    });
}

MainWindow::Started MainWindow::Start(const app::CoreSettings& settings, std::string& error) {
    clock_ = std::make_unique<app::SystemClock>();
    program_ = std::make_unique<app::Core>(*clock_, *this);
    InstallLanguage(*this);
    program_->OnShow = [this] {
        showNormal();
        raise();
        activateWindow();
    };
    program_->OnWordsOpened = [this](const std::vector<std::string>& problems) {
        RefreshTree();
        for (const std::string& line : problems) log_.Route(-1, line, engine::MessageKind::Analysis);
    };
    program_->OnClosing = [this] { StoreState(); };
    program_->OnClosed = [this] {
        closing_ = true;
        QTimer::singleShot(0, this, [this] { close(); });
    };
    program_->OnStatusText = [this](int panel, const std::string& text) { SetStatus(panel, Q(text)); };
    log_.OnQueueState = [this](const std::string& text) {
        SetStatus(0, Q(text));
        panels_[0]->repaint();
    };
    app::CoreSettings s = settings;
    if (!s.message)
        s.message = [this](const std::string& line) { log_.Route(-1, line, engine::MessageKind::Analysis); };
    switch (program_->Start(s, error)) {
    case app::Core::StartResult::AnotherInstance: return Started::AnotherInstance;
    case app::Core::StartResult::Failed: return Started::Failed;
    case app::Core::StartResult::Started: break;
    }
    HookEngine();
    progressWindow_->ShowFigures(&program_->Progress());
    taskbar_ = platform::MakeLauncherEntryProgress("org.quillmoor.Quillmoor.desktop");
    program_->OnProgress = [this] { ShowProgress(); };
    edtLevel_->setValue(program_->GetSession().Defaults().Lev);
    RefreshTree();
    RestoreState();
    if (QSystemTrayIcon::isSystemTrayAvailable() && store::Options().SysTray) {
        tray_ = new QSystemTrayIcon(Picture(0), this);
        auto* menu = new QMenu(this);
        menu->addAction("&Show", this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
        menu->addAction("E&xit", this, [this] { close(); });
        tray_->setContextMenu(menu);
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
            if (r == QSystemTrayIcon::DoubleClick) program_->OnShow();
        });
        tray_->show();
    }
    for (const std::string& w : program_->Warnings()) log_.Route(-1, w, engine::MessageKind::Analysis);
    tmrPaste_.start();
    StartBookmarkImport(*this);
    return Started::Yes;
}

void MainWindow::HookEngine() {
    app::DownloadRun& engine = program_->Engine();
    engine.OnConnectionStatus = [this](int connection, const std::string& text, engine::MessageKind kind) {
        log_.Route(connection, text, kind);
    };
    engine.OnQueueStatus = [this](const std::string& text, engine::MessageKind kind) {
        if (kind == engine::MessageKind::QueueState || kind == engine::MessageKind::Analysis)
            log_.Route(-1, text, kind);
    };
    engine.OnPoolChange = [this](int number, engine::PoolChange change) {
        if (change == engine::PoolChange::Added)
            log_.AddSlot(number);
        else if (change == engine::PoolChange::Removed)
            log_.RemoveSlot(number);
    };
    for (std::size_t i = 0; i < engine.Queue().PoolSize(); ++i) log_.AddSlot(static_cast<int>(i));
    engine.AskPasswordsWith([this](store::Project& project, const std::string& url, const std::string& realm,
                                   std::string& user, std::string& password) {
        PasswordDialog dialog(viewmodels::AskForPassword(project, url, realm), this);
        if (RunDialog(dialog) != QDialog::Accepted) return false;
        user = dialog.User();
        password = dialog.Password();
        return true;
    });
    engine.OnFileStored = [this](engine::DownloadRecord& record) {
        // While the map shows this Project, its new files appear at once.
        viewmodels::DirTreeModel& m = siteMap_->Model();
        if (record.Project && record.Project == mapProject_ && m.Active() &&
            m.Mode != viewmodels::DirTreeModel::kFolderMode)
            if (viewmodels::MapNode* node = m.AddLine(record.FName);
                node && !siteMap_->SelectedNode() && record.FName == app::StartPagePath(*mapProject_))
                siteMap_->SelectNode(node);  // the start page, as when the map was opened
    };
}

bool MainWindow::Ask(app::Question which, const std::string& text, const std::string& caption) {
    if (AskHook) return AskHook(which, text);
    // Texts may come from a language file: shown as plain text.
    QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void MainWindow::ShowError(const std::string& message, const std::string& caption) {
    if (NoticeHook) {
        NoticeHook(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, Q(caption), Q(message), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// ---- the Project tree --------------------------------------------------------------------

Node MainWindow::NodeOf(const QTreeWidgetItem* item) const {
    if (!item) return {};
    return Node{reinterpret_cast<store::ProjectFolder*>(item->data(0, kFolderRole).value<quintptr>()),
                reinterpret_cast<store::Project*>(item->data(0, kProjectRole).value<quintptr>())};
}

Node MainWindow::SelectedNode() const { return program_ ? program_->Commands().Selected() : Node{}; }

QTreeWidgetItem* MainWindow::ItemFor(Node node) const {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* f = tree_->topLevelItem(i);
        if (NodeOf(f).folder != node.folder) continue;
        if (!node.project) return f;
        for (int j = 0; j < f->childCount(); ++j)
            if (NodeOf(f->child(j)).project == node.project) return f->child(j);
    }
    return nullptr;
}

void MainWindow::SelectNode(Node node) {
    if (!program_) return;
    program_->Commands().Select(node);
    refreshing_ = true;
    tree_->setCurrentItem(ItemFor(node));
    refreshing_ = false;
    if (MapPageShown()) UpdateMap();
}

void MainWindow::RefreshTree() {
    if (!program_) return;
    refreshing_ = true;
    tree_->clear();
    static const QIcon folderIcon = FolderIcon();
    for (const auto& folder : program_->GetSession().Tree().Folders) {
        auto* f = new QTreeWidgetItem(tree_, QStringList(Q(folder->Caption)));
        f->setData(0, kFolderRole, QVariant::fromValue(reinterpret_cast<quintptr>(folder.get())));
        f->setData(0, kProjectRole, QVariant::fromValue(quintptr(0)));
        f->setIcon(0, folderIcon);
        f->setFlags(f->flags() | Qt::ItemIsEditable);
        for (const auto& p : folder->Children) {
            auto* c = new QTreeWidgetItem(f, QStringList(Q(p->Caption)));
            c->setData(0, kFolderRole, QVariant::fromValue(reinterpret_cast<quintptr>(folder.get())));
            c->setData(0, kProjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(p.get())));
            int icon = program_->Commands().ProjectIcon(*p);
            c->setIcon(0, Picture(icon));
            c->setData(0, Qt::UserRole + 2, icon);
            c->setFlags(c->flags() | Qt::ItemIsEditable);
        }
        f->setExpanded(true);
    }
    tree_->setCurrentItem(ItemFor(SelectedNode()));
    refreshing_ = false;
    // A deleted or cut Project takes its site map with it: the map lets go of it first.
    if (mapProject_) {
        bool present = false;
        for (store::Project* p : program_->GetSession().Tree().AllProjects()) present = present || p == mapProject_;
        if (!present) {
            siteMap_->Model().SetActive(false);
            siteMap_->Model().List = nullptr;
            mapProject_ = nullptr;
        }
    }
}

void MainWindow::UpdateIcons() {
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* f = tree_->topLevelItem(i);
        for (int j = 0; j < f->childCount(); ++j) {
            QTreeWidgetItem* c = f->child(j);
            store::Project* p = NodeOf(c).project;
            int icon = p ? program_->Commands().ProjectIcon(*p) : 0;
            if (c->data(0, Qt::UserRole + 2).toInt() != icon) {
                c->setData(0, Qt::UserRole + 2, icon);
                c->setIcon(0, Picture(icon));
            }
        }
    }
}

void MainWindow::QuarterTick() {
    if (!program_) return;
    bool canPaste = !QGuiApplication::clipboard()->text().isEmpty() && !MapPageShown();
    miPaste_->setEnabled(canPaste);
    tbPaste_->setEnabled(canPaste);
    miSuspend_->setText(Q(program_->Commands().SuspendCaption()));
    logWindow_->FindNextAction()->setEnabled(!log_.SearchText().empty());
    UpdateIcons();
}

QProgressBar* MainWindow::ProjectBar(const store::Project& project) const {
    QTreeWidgetItem* item = ItemFor(Node{project.Folder, const_cast<store::Project*>(&project)});
    auto* bar = item ? qobject_cast<QProgressBar*>(tree_->itemWidget(item, kBarColumn)) : nullptr;
    return bar && !bar->isHidden() ? bar : nullptr;
}

QString MainWindow::ProjectProgressText(const store::Project& project) const {
    QTreeWidgetItem* item = ItemFor(Node{project.Folder, const_cast<store::Project*>(&project)});
    return item ? item->text(kProgressTextColumn) : QString();
}

void MainWindow::ShowProgress() {
    if (!program_) return;
    const app::ProgressTracker& figures = program_->Progress();
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* f = tree_->topLevelItem(i);
        for (int j = 0; j < f->childCount(); ++j) {
            QTreeWidgetItem* c = f->child(j);
            store::Project* p = NodeOf(c).project;
            if (!p) continue;
            const viewmodels::ProjectRow row = viewmodels::ProjectProgressRow(*p, figures.ProjectFigures(p));
            if (c->text(kProgressTextColumn) != Q(row.text)) c->setText(kProgressTextColumn, Q(row.text));
            auto* bar = qobject_cast<QProgressBar*>(tree_->itemWidget(c, kBarColumn));
            if (row.bar == viewmodels::kNoBar) {
                if (bar) bar->hide();
                continue;
            }
            if (!bar) {
                bar = new QProgressBar;
                bar->setTextVisible(false);
                bar->setMaximumHeight(tree_->fontMetrics().height() + 2);
                tree_->setItemWidget(c, kBarColumn, bar);
            }
            bar->show();
            const int maximum = row.bar == viewmodels::kMovingBar ? 0 : 1000;
            if (bar->maximum() != maximum) bar->setRange(0, maximum);
            if (row.bar >= 0 && bar->value() != row.bar) bar->setValue(row.bar);
        }
    }
    // A title this window did not set (the language file's) is the new plain title.
    if (windowTitle() != shownTitle_) baseTitle_ = windowTitle();
    const viewmodels::OverallView all = viewmodels::Overall(figures, S(baseTitle_));
    shownTitle_ = Q(all.title);
    if (windowTitle() != shownTitle_) setWindowTitle(shownTitle_);
    overall_->setVisible(all.bar >= 0);
    if (all.bar >= 0 && overall_->value() != all.bar) overall_->setValue(all.bar);
    if (tray_ && tray_->toolTip() != Q(all.tooltip)) tray_->setToolTip(Q(all.tooltip));
    if (taskbar_) taskbar_->Show(all.bar >= 0 ? all.bar : -1);
}

void MainWindow::SetStatus(int panel, const QString& text) {
    if (panel < 0 || panel > 4) return;
    if (panels_[panel]->text() != text) panels_[panel]->setText(text);
}

// ---- commands ------------------------------------------------------------------------------

void MainWindow::PasteText(const QString& text) {
    if (!program_ || text.trimmed().isEmpty()) return;
    pages_->setCurrentWidget(pgProjects_);
    store::Project& p = program_->Commands().PasteAddress(S(text));
    RefreshTree();
    SelectNode(Node{p.Folder, &p});
}

void MainWindow::AddressEntered() {
    if (!program_ || edtURL_->text().trimmed().isEmpty()) return;
    pages_->setCurrentWidget(pgProjects_);
    store::Project& p = program_->Commands().PasteAddress(S(edtURL_->text()));
    p.Lev = edtLevel_->value();
    RefreshTree();
    SelectNode(Node{p.Folder, &p});
    std::string why;
    if (program_->Commands().Start(Node{p.Folder, &p}, &why) == 0 && !why.empty())
        ShowError(why, store::UIMessage(store::UIText::Error));
    UpdateIcons();
}

void MainWindow::NewFolder() {
    if (!program_) return;
    pages_->setCurrentWidget(pgProjects_);
    store::ProjectFolder& f = program_->Commands().NewFolder();
    RefreshTree();
    if (QTreeWidgetItem* item = ItemFor(Node{&f, nullptr})) tree_->editItem(item);
}

void MainWindow::RenameNode(Node node, const QString& caption) {
    if (!program_) return;
    program_->Commands().Rename(node, S(caption));
    RefreshTree();
    if (MapPageShown()) UpdateMap();
}

void MainWindow::DeleteSelected() {
    if (!program_) return;
    if (!MapPageShown()) {
        if (program_->Commands().Delete(SelectedNode())) RefreshTree();
        return;
    }
    viewmodels::MapNode* node = siteMap_->SelectedNode();
    if (!node || !node->Parent) return;
    viewmodels::DirTreeModel& m = siteMap_->Model();
    const std::string path = m.NodePath(*node);
    if (mapProject_) {
        // A Project's map: the core asks, deletes inside the Project's folder and updates
        // the Project's site map.
        if (program_->Commands().DeleteMapEntry(*mapProject_, path)) m.Remove(*node);
        return;
    }
    // Every stored site: deleting stays inside the download folders the map can show.
    if (program_->Commands().DeleteStoredPath(m.Directory(), path, node->Caption)) m.Remove(*node);
}

bool MainWindow::DropNode(Node source, Node target) {
    if (!program_ || !program_->Commands().Drop(source, target)) return false;
    RefreshTree();
    return true;
}

void MainWindow::StartSelected() {
    if (!program_) return;
    std::string why;
    if (program_->Commands().Start(SelectedNode(), &why) == 0 && !why.empty())
        ShowError(why, store::UIMessage(store::UIText::Error));
    UpdateIcons();
}

void MainWindow::StopSelected() {
    if (!program_) return;
    program_->Commands().Stop(SelectedNode());
    UpdateIcons();
}

void MainWindow::ToggleSuspend() {
    if (!program_) return;
    program_->Commands().ToggleSuspend();
    miSuspend_->setText(Q(program_->Commands().SuspendCaption()));
    UpdateIcons();
}

void MainWindow::FolderProperties() {
    Node n = SelectedNode();
    if (program_ && n.project) return ProjectProperties(*n.project);
    if (!program_ || !n.folder) return;
    FolderPropertiesDialog dlg(this);
    dlg.SetValues(Q(n.folder->Caption), Q(n.folder->Dir));
    if (RunDialog(dlg) != QDialog::Accepted) return;
    program_->Commands().ApplyFolderProperties(*n.folder, S(dlg.Caption()), S(dlg.Directory()));
    RefreshTree();
}

void MainWindow::Browse() {
    std::string address = BrowseTarget();
    if (address.empty()) return;
    // The desktop's default browser, given the address as its one argument.
    std::string browser =
        desktop::DefaultBrowserProgram(desktop::SystemBrowserSources(&program_->GetSession().Registry()));
    std::string error;
    if (browser.empty())
        ShowError(store::UIMessage(store::UIText::NoDefaultBrowser), store::UIMessage(store::UIText::Error));
    else if (!platform::StartProgram(browser, {address}, error))
        ShowError(store::UIMessage(store::UIText::BrowserLaunchFailed), store::UIMessage(store::UIText::Error));
}

std::string MainWindow::BrowseTarget() const {
    if (!program_) return {};
    bool server = store::Options().HTTPStart;  // the server always runs in the desktop program
    int port = store::Options().HTTPPort;
    std::string address;
    if (!MapPageShown()) {
        Node n = SelectedNode();
        if (!n.project) return {};
        address = app::BrowseAddress(*n.project, server, port);
    } else {
        viewmodels::MapNode* node = siteMap_->SelectedNode();
        if (!node) return {};
        viewmodels::DirTreeModel& m = siteMap_->Model();
        std::string path = node->Parent ? m.NodePath(*node) : m.Directory() + "default.htm";
        if (path.compare(0, m.Directory().size(), m.Directory()) == 0) path = path.substr(m.Directory().size());
        address = app::BrowsePathAddress(SelectedNode().folder, path, server, port);
    }
    return address;
}

void MainWindow::BrowseWith(const QString& programFile) {
    std::string address = BrowseTarget();
    if (address.empty()) return;
    // The address is one argument of the tool; no shell reads it.
    std::string error;
    if (!platform::StartProgram(S(programFile), {address}, error))
        ShowError(store::UIMessage(store::UIText::ExternalToolFailed), store::UIMessage(store::UIText::Error));
}

bool MainWindow::SuspendTo(const QString& file) {
    if (!program_) return false;
    std::string error;
    if (!program_->Engine().SuspendTo(S(file), error)) {
        ShowError(error, store::UIMessage(store::UIText::Error));
        return false;
    }
    UpdateIcons();
    return true;
}

bool MainWindow::ResumeFrom(const QString& file) {
    if (!program_) return false;
    engine::ResumeReport report;
    bool ok = program_->Engine().ResumeFrom(S(file), report);
    for (const std::string& line : report.problems) log_.Route(-1, line, engine::MessageKind::Analysis);
    if (!ok) ShowError("cannot read " + S(file), store::UIMessage(store::UIText::Error));
    UpdateIcons();
    return ok;
}

bool MainWindow::FindNext(const QString& text, bool matchCase) {
    if (!program_ || text.isEmpty()) return false;
    QString before = panels_[0]->text();
    SetStatus(0, Q(store::UIMessage(store::UIText::Searching)));
    bool found = false;
    if (!MapPageShown()) {
        store::ProjectTree& t = program_->GetSession().Tree();
        Node sel = SelectedNode();
        int from = sel.project ? t.IndexOf(*sel.project) : sel.folder ? t.IndexOf(*sel.folder) : -1;
        int hit = viewmodels::FindTreeNode(t, from, S(text), matchCase);
        if (hit >= 0) {
            SelectNode(t.NodeAt(hit));
            found = true;
        }
    } else if (viewmodels::MapNode* n =
                   viewmodels::FindMapNode(siteMap_->Model(), siteMap_->SelectedNode(), S(text), matchCase)) {
        siteMap_->SelectNode(n);
        found = true;
    }
    SetStatus(0, before);
    if (!found) {
        if (NoticeHook)
            NoticeHook(store::UIMessage(store::UIText::NoMatchingData));
        else
            QMessageBox::warning(this, QApplication::applicationName(),
                                 Q(store::UIMessage(store::UIText::NoMatchingData)));
    }
    return found;
}

// ---- the map page ------------------------------------------------------------------------------

bool MainWindow::MapPageShown() const { return pages_->currentWidget() == pgMap_; }

void MainWindow::ShowMapPage() { pages_->setCurrentWidget(pgMap_); }

int MainWindow::PictureFor(const std::string& folder, const std::string& file) const {
    return app::SiteMapIcon(folder + file);
}

void MainWindow::UpdateMap() {
    if (!program_) return;
    Node sel = SelectedNode();
    viewmodels::DirTreeModel& m = siteMap_->Model();
    int mode = program_->State().Int("MapMode") == 1 ? viewmodels::DirTreeModel::kFolderMode : 0;
    std::string root = app::MapRootFolder(sel.folder);
    std::string shown = root;
    if (mode == viewmodels::DirTreeModel::kFolderMode && !shown.empty() && shown.back() != '/') shown += '/';
    bool rebuild = !m.Active() || shown != m.Directory() || mode != m.Mode;
    if (mode != viewmodels::DirTreeModel::kFolderMode) {
        const store::SortedStringList* list = sel.project ? &engine::GetMap(*sel.project) : nullptr;
        if (!sel.project || list != m.List || sel.project->Caption != m.RootCaption) rebuild = true;
    }
    if (rebuild) {
        m.SetActive(false);
        m.Mode = mode;
        m.List = mode != viewmodels::DirTreeModel::kFolderMode && sel.project ? &engine::GetMap(*sel.project) : nullptr;
        m.RootCaption = sel.project ? sel.project->Caption : std::string();
        m.SetDirectory(root);
        m.SetActive(true);
        mapProject_ = m.List ? sel.project : nullptr;
    }
    if (mode != viewmodels::DirTreeModel::kFolderMode && sel.project)
        if (viewmodels::MapNode* start = m.FindNode(app::StartPagePath(*sel.project))) siteMap_->SelectNode(start);
}

// ---- window state, drops, closing --------------------------------------------------------------

void MainWindow::RestoreState() {
    app::WindowState& st = program_->State();
    int w = st.Int("Width"), h = st.Int("Height");
    if (w > 100 && h > 100) setGeometry(st.Int("Left"), st.Int("Top"), w, h);
    if (st.Bool("Maximized")) setWindowState(windowState() | Qt::WindowMaximized);
    for (QToolBar* bar : findChildren<QToolBar*>()) bar->setVisible(st.Bool(S(bar->objectName())));
    statusBar()->setVisible(st.Bool("StatusBar"));
    bool projects = st.Bool("pgProjects"), mapPage = st.Bool("pgMap");
    if (!projects && !mapPage) projects = true;
    pages_->setTabVisible(pages_->indexOf(pgProjects_), projects);
    pages_->setTabVisible(pages_->indexOf(pgMap_), mapPage);
    if (!projects) pages_->setCurrentWidget(pgMap_);
    logWindow_->setVisible(st.Bool("LVisible"));
    progressWindow_->setVisible(st.Bool("MessagesPanel"));
    miWindow_->setChecked(logWindow_->isVisible() || st.Bool("LVisible"));
    miPanel_->setChecked(st.Bool("MessagesPanel"));
    for (QDockWidget* d : {static_cast<QDockWidget*>(logWindow_), static_cast<QDockWidget*>(progressWindow_)}) {
        std::string name = S(d->objectName());
        if (st.Bool(name + ".Floating")) {
            d->setFloating(true);
            int dw = st.Int(name + ".Width"), dh = st.Int(name + ".Height");
            if (dw > 50 && dh > 30) d->setGeometry(st.Int(name + ".Left"), st.Int(name + ".Top"), dw, dh);
        }
    }
}

void MainWindow::StoreState() {
    if (!program_) return;
    app::WindowState& st = program_->State();
    st.SetBool("Maximized", isMaximized());
    QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
    st.SetInt("Left", r.left());
    st.SetInt("Top", r.top());
    st.SetInt("Width", r.width());
    st.SetInt("Height", r.height());
    for (QToolBar* bar : findChildren<QToolBar*>()) st.SetBool(S(bar->objectName()), !bar->isHidden());
    st.SetBool("StatusBar", !statusBar()->isHidden());
    st.SetBool("LVisible", !logWindow_->isHidden());
    st.SetBool("MessagesPanel", !progressWindow_->isHidden());
    st.SetBool("pgProjects", pages_->isTabVisible(pages_->indexOf(pgProjects_)));
    st.SetBool("pgMap", pages_->isTabVisible(pages_->indexOf(pgMap_)));
    st.SetInt("ProgressHeight", progressWindow_->height());
    st.SetInt("PrTreeWidth", tree_->width());
    st.SetInt("ProjectsWidth", pages_->width());
    for (QDockWidget* d : {static_cast<QDockWidget*>(logWindow_), static_cast<QDockWidget*>(progressWindow_)}) {
        std::string name = S(d->objectName());
        st.SetBool(name + ".Floating", d->isFloating());
        QRect g = d->geometry();
        if (d->isFloating()) {
            st.SetInt(name + ".Left", g.left());
            st.SetInt(name + ".Top", g.top());
        }
        st.SetInt(name + ".Width", g.width());
        st.SetInt(name + ".Height", g.height());
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls() || e->mimeData()->hasText()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    const QMimeData* mime = e->mimeData();
    if (mime->hasUrls()) {
        for (const QUrl& url : mime->urls()) PasteText(url.toString());
    } else if (mime->hasText()) {
        PasteText(mime->text());
    } else {
        return;
    }
    e->acceptProposedAction();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (closing_ || !program_) {
        e->accept();
        return;
    }
    StoreState();
    if (program_->RequestClose()) {
        closing_ = true;
        e->accept();
    } else {
        e->ignore();
    }
}

}  // namespace qm::ui
