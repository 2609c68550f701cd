// Texts and bar values of the progress display.
#include "viewmodels/progress_view.h"

#include "app/units.h"
#include "store/project.h"
#include "store/ui_messages.h"

namespace qm::viewmodels {

namespace {
std::string Msg(store::UIText t) { return store::UIMessage(t); }

std::string RunText(const app::RunProgress& r) {
    std::string text = std::to_string(r.done) + " / " + std::to_string(r.known) + " " + Msg(store::UIText::FilesKnown) +
                       ", " + app::FormatSize(r.bytes) + ", " + app::FormatRate(r.rate);
    if (r.growing)
        text += ", " + Msg(store::UIText::QueueGrowing);
    else if (r.secondsLeft >= 0)
        text += ", " + app::FormatDuration(r.secondsLeft) + " " + Msg(store::UIText::TimeLeft);
    return text;
}
}  // namespace

std::vector<ConnectionRow> ConnectionRows(const std::vector<std::string>& statusLines,
                                          const std::vector<app::ConnectionProgress>& connections,
                                          const std::vector<std::string>& rendering) {
    std::vector<ConnectionRow> rows(statusLines.size());
    for (std::size_t i = 0; i < statusLines.size(); ++i) rows[i].status = statusLines[i];
    for (const app::ConnectionProgress& c : connections) {
        if (c.index < 0 || static_cast<std::size_t>(c.index) >= rows.size() || !c.busy) continue;
        ConnectionRow& row = rows[static_cast<std::size_t>(c.index)];
        row.bar = c.length > 0 ? c.permille : kMovingBar;
        row.address = c.address;
        row.size = c.length > 0 ? app::FormatSize(c.length) : app::FormatSize(c.received);
        if (c.rate >= 0) row.rate = app::FormatRate(c.rate);
    }
    // Pages in the browser: busy for no known time.
    for (const std::string& page : rendering) {
        ConnectionRow& row = rows.emplace_back();
        row.status = Msg(store::UIText::Rendering);
        row.bar = kMovingBar;
        row.address = page;
    }
    return rows;
}

ProjectRow ProjectProgressRow(const store::Project& project, const app::RunProgress* running) {
    ProjectRow row;
    if (running) {
        // While the queue grows the share is not a fraction of the whole: the bar moves.
        row.bar = running->growing ? kMovingBar : running->permille;
        row.text = RunText(*running);
        return row;
    }
    const int files = project.S200 + project.S304 + project.S400 + project.SErr + project.SAbr;
    if (files == 0 || project.LastEnd < project.LastStart) return row;
    const auto seconds = static_cast<std::int64_t>((project.LastEnd - project.LastStart) * 86400.0 + 0.5);
    row.text = Msg(store::UIText::LastRun) + ": " + app::FormatDuration(seconds) +
               ", S200=" + std::to_string(project.S200) + " S304=" + std::to_string(project.S304) +
               " S400=" + std::to_string(project.S400) + " SErr=" + std::to_string(project.SErr) +
               " SAbr=" + std::to_string(project.SAbr);
    return row;
}

OverallView Overall(const app::ProgressTracker& progress, const std::string& baseTitle) {
    OverallView v;
    v.title = baseTitle;
    v.tooltip = baseTitle;
    if (!progress.Downloading()) return v;
    const app::RunProgress& all = progress.Overall();
    v.bar = all.permille;
    v.percent = all.permille / 10;
    v.title = std::to_string(v.percent) + "% - " + baseTitle;
    v.tooltip =
        baseTitle + "\n" + Msg(store::UIText::Downloading) + " " + std::to_string(v.percent) + "%: " + RunText(all);
    return v;
}

}  // namespace qm::viewmodels
