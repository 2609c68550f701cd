#pragma once
// The log window ("Messages Window", MessagesWindow) and the progress window ("Download
// Progress", DownloadProgressWindow): dock widgets that float or dock in the main window's bottom
// panel. They show app::LogModel and refresh at most ten times a second, so a busy download
// cannot flood the event loop with repaints.
#include <QDockWidget>
#include <QListWidget>
#include <QMenu>
#include <QTimer>
#include <functional>

#include "viewmodels/log_model.h"

namespace qm::ui {

class MessagesWindow : public QDockWidget {
    Q_OBJECT
public:
    MessagesWindow(viewmodels::LogModel& model, QWidget* parent = nullptr);
    QListWidget* List() const { return list_; }
    void Refresh();  // brings the list up to the model now
    // Commands (the main menu's "&Settings" items and the list's context menu).
    void Track();
    void Pause();
    void Filter(int tag);
    void ClearLog();
    bool SaveTo(const QString& path);
    void SaveAs();  // asks for the file
    bool FindText(const QString& text);
    void FindAsk();  // asks for the text ("Find in Log" / "Text to Find:")
    bool FindNext();
    QMenu* Menu() const { return menu_; }  // the "&Settings" menu items
    QAction* FindNextAction() const { return findNext_; }

signals:
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void SyncChecks();
    viewmodels::LogModel& model_;
    QListWidget* list_;
    QMenu* menu_;
    QAction *track_, *pause_, *filters_[3], *findNext_;
    std::uint64_t shownGeneration_ = ~0ull, shownRevision_ = ~0ull;
    QTimer refresh_;
};

class DownloadProgressWindow : public QDockWidget {
    Q_OBJECT
public:
    DownloadProgressWindow(viewmodels::LogModel& model, QWidget* parent = nullptr);
    QListWidget* List() const { return list_; }
    void Refresh();
    // Cancels the connection of that line; pool bounds are checked by the caller's hook.
    std::function<void(int index)> OnCancel;
    void CancelLine(int index);

signals:
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    viewmodels::LogModel& model_;
    QListWidget* list_;
    std::uint64_t shownRevision_ = ~0ull;
    QTimer refresh_;
};

}  // namespace qm::ui
