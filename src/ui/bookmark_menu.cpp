#include "ui/bookmark_menu.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>

#include "app/bookmark_project.h"
#include "app/session.h"
#include "engine/queue_manager.h"
#include "platform/program_folder.h"
#include "store/options.h"
#include "store/ui_messages.h"
#include "ui/language.h"
#include "ui/main_form.h"
#include "ui/qt_text.h"

namespace qm::ui {

namespace {
// "&" in a title is shown, not taken as the key of the item.
QString MenuText(const std::string& s) { return Q(s).replace('&', "&&"); }
}  // namespace

BookmarkMenu::BookmarkMenu(QObject* parent) : QObject(parent) {}

void BookmarkMenu::SetMenu(QMenu* menu) {
    menu_ = menu;
    if (enabled_) Rebuild();
}

void BookmarkMenu::SetEnabled(bool on) {
    enabled_ = on;
    if (on) Rebuild();
}

void BookmarkMenu::SetBookmarks(desktop::BookmarkItem root) {
    root_ = std::move(root);
    if (enabled_) Rebuild();
}

void BookmarkMenu::Rebuild() {
    if (!menu_) return;
    menu_->clear();
    for (QMenu* old : menu_->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) old->deleteLater();
    Fill(menu_, root_);
}

void BookmarkMenu::Fill(QMenu* menu, const desktop::BookmarkItem& level) {
    menu->setToolTipsVisible(true);
    for (const desktop::BookmarkItem& item : level.children) {
        switch (item.kind) {
        case desktop::BookmarkItem::Kind::Separator: menu->addSeparator(); break;
        case desktop::BookmarkItem::Kind::Folder: Fill(menu->addMenu(MenuText(item.caption)), item); break;
        case desktop::BookmarkItem::Kind::Link: {
            QAction* a = menu->addAction(MenuText(item.caption));
            a->setToolTip(Q(item.url));
            a->setStatusTip(Q(item.url));
            const std::string title = item.caption, url = item.url;
            connect(a, &QAction::triggered, this, [this, title, url] {
                if (!url.empty() && OnURL) OnURL(*this, title, url);
            });
            break;
        }
        }
    }
}

BookmarkReader::BookmarkReader(desktop::BookmarkSources sources, std::function<void(desktop::BookmarkItem)> done,
                               QObject* parent)
    : QObject(parent) {
    QPointer<BookmarkReader> self(this);
    thread_ = std::thread([this, self, sources = std::move(sources), done = std::move(done)] {
        desktop::BookmarkItem root = desktop::ReadAllBookmarks(sources);
        // Posted to this object: dropped by Qt when it is gone by the time the main thread
        // gets to it (its destructor waits for this thread first).
        QMetaObject::invokeMethod(
            this,
            [self, done, root = std::move(root)]() mutable {
                if (self) done(std::move(root));
            },
            Qt::QueuedConnection);
        finished_ = true;
    });
}

BookmarkReader::~BookmarkReader() {
    if (thread_.joinable()) thread_.join();
}

int ScreenMaxPerMenu() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 0;
    QMenu probe;
    QAction* a = probe.addAction("Xg");
    probe.ensurePolished();
    const int line = probe.actionGeometry(a).height();
    return desktop::MaxPerMenuFor(screen->availableGeometry().height(), line);
}

void InstallLanguage(MainWindow& form) {
    MarkUserData(form.Tree());
    form.Core().LoadLanguage = [&form] {
        // The program folder's file, else the installed one of the user's language; never
        // one in the current folder.
        if (platform::ProgramFolder().empty()) return;
        const std::string path = desktop::ChooseLanguageFile(platform::ProgramFolder());
        if (path.empty()) return;
        std::string error;
        if (!LoadLanguage(path, error)) form.Log().Route(-1, error, engine::MessageKind::Analysis);
    };
    // The hidden command that writes the template over "qm.int" of the program folder.
    auto* intl = new QAction("Intl", &form);
    intl->setObjectName("Intl");
    intl->setShortcut(QKeySequence("Ctrl+Alt+Shift+I"));
    intl->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(intl, &QAction::triggered, &form, [&form] {
        std::string error;
        if (!WriteLanguageFile(platform::ProgramFile(desktop::kLanguageFileName), error))
            form.ShowError(error, store::UIMessage(store::UIText::Error));
    });
    MarkUserData(intl);
    form.addAction(intl);
}

void StartBookmarkImport(MainWindow& form) {
    // The registry is the main thread's: its entries are read here, the files on the thread.
    desktop::BookmarkSources sources = desktop::MachineSources(form.Core().GetSession().Registry(),
                                                               store::Options().BookmarksFile, ScreenMaxPerMenu());
    // The hand-over may arrive while the program closes (closing waits for the engine with the
    // event loop running, also from the window's destructor): then the menu is not made.
    app::Core* core = &form.Core();
    auto* bookmarker = new BookmarkReader(
        std::move(sources),
        [&form, core](desktop::BookmarkItem root) {
            if (core->Closing()) return;
            QMenu* file = form.findChild<QMenu*>("miFile");
            if (!file) return;
            auto* bookmarks = new BookmarkMenu(&form);
            bookmarks->setObjectName("Bookmarks");
            auto* ifav = new QMenu(Q(store::UIMessage(store::UIText::ImportFavorites)), file);
            ifav->setObjectName("IFav");
            bookmarks->SetBookmarks(std::move(root));
            bookmarks->SetMenu(ifav);
            bookmarks->OnURL = [&form](BookmarkMenu&, const std::string& title, const std::string& url) {
                app::Core& program = form.Core();
                if (QWidget* page = form.findChild<QWidget*>("pgProjects")) form.Pages()->setCurrentWidget(page);
                store::Project& p = app::ProjectFromBookmark(program.Commands(), program.GetSession().Tree(),
                                                             program.GetSession().Defaults(), title, url);
                form.RefreshTree();
                form.SelectNode(app::Node{p.Folder, &p});
            };
            bookmarks->SetEnabled(true);
            const QList<QAction*> actions = file->actions();
            file->insertMenu(actions.size() > 1 ? actions[1] : nullptr, ifav);
            if (ifav->isEmpty()) ifav->addAction(Q(store::UIMessage(store::UIText::Empty)))->setEnabled(false);
        },
        &form);
    bookmarker->setObjectName("Bookmarker");
}

}  // namespace qm::ui
