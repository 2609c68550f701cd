#pragma once
// What the log window ("Messages Window") and the progress window ("Download Progress")
// hold: the log lines with their filters, tracking, limit and search, and one progress line
// per connection of the pool. The windows only show this model; the model does the routing.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/message_kind.h"

namespace qm::viewmodels {

class LogModel {
public:
    // Routes one message of the engine (a connection's status line, the queue state, an
    // analysis or queue message) to the progress lines, the log and the status bar.
    void Route(int index, const std::string& text, engine::MessageKind kind);

    // Progress lines: one per connection slot of the pool.
    void AddSlot(int index);
    void RemoveSlot(int index);
    const std::vector<std::string>& ProgressLines() const { return progress_; }
    // Whether a Cancel index names a connection that still exists.
    static bool CancelIndexValid(int index, std::size_t poolSize) {
        return index >= 0 && static_cast<std::size_t>(index) < poolSize;
    }

    // The log.
    const std::vector<std::string>& Lines() const { return lines_; }
    int Selected() const { return selected_; }
    void Select(int line) { selected_ = (line >= 0 && line < static_cast<int>(lines_.size())) ? line : -1; }
    void Append(const std::string& line, bool trouble = false);  // then tracking and the limit
    // Whether a line tells of an error or a refusal (shown in its own colour).
    bool Trouble(std::size_t line) const { return line < trouble_.size() && trouble_[line]; }
    static bool TroubleText(const std::string& text, engine::MessageKind kind);
    void Clear();
    // Writes the lines (CR LF ends) under a scratch name and moves it into place.
    bool Save(const std::string& path, std::string& error) const;

    // The commands that flip an option; each returns the new check state of its item.
    bool ToggleTrack();
    bool TogglePause();          // checked = logging paused
    bool ToggleFilter(int tag);  // 0 connect, 1 progress, 2 disconnect
    bool FilterChecked(int tag) const;

    // Find: "&Find..." starts at the selected line (the first when none), "Find &Next" at the
    // line after it; no wrap. Returns the selected line or -1 (nothing changed).
    int Find(const std::string& text);
    int FindNext();
    const std::string& SearchText() const { return search_; }

    // Raised for kind 101 when the text differs from the last one (status panel 0).
    std::function<void(const std::string& text)> OnQueueState;
    // Counters the windows compare to refresh only what changed, at their own pace.
    std::uint64_t LogGeneration() const { return logGeneration_; }  // bumps on Clear
    std::uint64_t ProgressRevision() const { return progressRevision_; }
    std::uint64_t LogRevision() const { return logRevision_; }

private:
    int SearchFrom(int start);

    std::vector<std::string> lines_;
    std::vector<bool> trouble_;
    std::vector<std::string> progress_;
    int selected_ = -1;
    std::string search_;
    std::string queueState_;
    std::uint64_t logGeneration_ = 0, logRevision_ = 0, progressRevision_ = 0;
};

}  // namespace qm::viewmodels
