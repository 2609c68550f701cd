#pragma once
// The log window ("Messages Window", MessagesWindow) and the progress window ("Download
// Progress", DownloadProgressWindow): dock widgets that float or dock in the main window's bottom
// panel. They show viewmodels::LogModel (and the progress window the connections' figures:
// a bar, the address, size and rate beside each status line) and refresh at most ten times a
// second, so a busy download cannot flood the event loop with repaints.
#include <QDockWidget>
#include <QListWidget>
#include <QProgressBar>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>
#include <functional>

#include "viewmodels/log_model.h"
#include "viewmodels/progress_view.h"

namespace qm::app {
class ProgressTracker;
}  // namespace qm::app

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
    // The table: the status line first, then bar, address, size and rate.
    QTableWidget* List() const { return list_; }
    enum Column { StatusColumn, BarColumn, AddressColumn, SizeColumn, RateColumn, ColumnCount };
    QProgressBar* Bar(int row) const;
    // The connections' figures shown beside the lines (none: the lines alone).
    void ShowFigures(const app::ProgressTracker* figures) { figures_ = figures; }
    void Refresh();
    // Cancels the connection of that line; pool bounds are checked by the caller's hook.
    std::function<void(int index)> OnCancel;
    void CancelLine(int index);

signals:
    void closedByUser();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void SetCell(int row, int column, const std::string& text);
    viewmodels::LogModel& model_;
    const app::ProgressTracker* figures_ = nullptr;
    QTableWidget* list_;
    QTimer refresh_;
};

}  // namespace qm::ui
