#pragma once
// The bookmarks menu ("Import &Favorites" in the File menu) and the hidden language command.
//
// BookmarkReader reads the browsers' bookmarks on a thread of its own into plain data; the
// finished tree is handed to the main thread, which builds the menu (widgets belong to the
// main thread). Closing the window waits for the thread.
#include <QMenu>
#include <QObject>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "desktop/bookmarks.h"

namespace qm::ui {

class MainWindow;

// The menu built from a bookmark tree.
class BookmarkMenu : public QObject {
    Q_OBJECT
public:
    explicit BookmarkMenu(QObject* parent = nullptr);
    QMenu* Menu() const { return menu_; }
    void SetMenu(QMenu* menu);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    // The bookmarks shown (the menu is rebuilt from them when enabled).
    void SetBookmarks(desktop::BookmarkItem root);
    const desktop::BookmarkItem& Bookmarks() const { return root_; }

    // A bookmark was chosen: its caption and address.
    std::function<void(BookmarkMenu& sender, const std::string& title, const std::string& url)> OnURL;

private:
    void Rebuild();
    void Fill(QMenu* menu, const desktop::BookmarkItem& level);
    QMenu* menu_ = nullptr;
    bool enabled_ = false;
    desktop::BookmarkItem root_;
};

class BookmarkReader : public QObject {
    Q_OBJECT
public:
    // Starts reading; done runs on the main thread with the tree (not when this object was
    // destroyed first).
    BookmarkReader(desktop::BookmarkSources sources, std::function<void(desktop::BookmarkItem)> done, QObject* parent);
    ~BookmarkReader() override;  // waits for the thread
    bool Finished() const { return finished_; }

private:
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

// Menu lines that fit the screen (0: no limit).
int ScreenMaxPerMenu();

// The language file for the main window: "qm.int" of the program folder read at start-up
// (the program core calls it), the hidden "Intl" command writing the template, and the
// dialogs the template lists.
void InstallLanguage(MainWindow& form);
// Starts the bookmark import; the "IFav" menu appears in "&File" when it is done.
void StartBookmarkImport(MainWindow& form);

}  // namespace qm::ui
