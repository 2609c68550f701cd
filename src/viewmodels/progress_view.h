#pragma once
// What the window shows of the progress figures (app::ProgressTracker): the rows of the
// "Download Progress" table, the Project tree's progress column, the overall bar, the
// window title, the tray tooltip and the task-bar value. Bars are given in permille, -1 for
// a moving bar (no length known) and kNoBar where no bar belongs.
#include <cstdint>
#include <string>
#include <vector>

#include "app/progress_tracker.h"

namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::viewmodels {

constexpr int kMovingBar = -1;
constexpr int kNoBar = -2;

// One line of the "Download Progress" table.
struct ConnectionRow {
    std::string status;  // the connection's status line ("HTTP0: ..."), as before
    int bar = kNoBar;    // permille, kMovingBar, or kNoBar when the connection is idle
    std::string address, size, rate;
};

// The table rows: status lines from the log model, the rest from the figures (matched by
// connection number; a line without figures shows only its status). After them one row for
// each page in the browser: "Rendering", a moving bar and the page's address.
std::vector<ConnectionRow> ConnectionRows(const std::vector<std::string>& statusLines,
                                          const std::vector<app::ConnectionProgress>& connections,
                                          const std::vector<std::string>& rendering = {});

// A Project in the tree: bar and text.
struct ProjectRow {
    int bar = kNoBar;
    std::string text;
};
// Running (figures given): "12 / 340 files, 2.1 MB, 150 KB/s, 1 min 20 s left", or with
// "queue still growing" in place of the time; finished: its last run's statistics and
// duration; never run: nothing.
ProjectRow ProjectProgressRow(const store::Project& project, const app::RunProgress* running);

// The whole program.
struct OverallView {
    int bar = kNoBar;     // permille while downloading
    int percent = -1;     // -1: not downloading
    std::string title;    // "42% - base" while downloading, else base
    std::string tooltip;  // base, then the figures while downloading
};
OverallView Overall(const app::ProgressTracker& progress, const std::string& baseTitle);

}  // namespace qm::viewmodels
