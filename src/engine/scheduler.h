#pragma once
// The scheduler: which Projects start by themselves at a given minute, and the once-a-minute
// handler that starts them, saves the site maps and counts towards the auto-save.
//
// Times are date-times (days since 30 December 1899, local time). The scheduler never reads
// the clock itself: the caller passes the time, so a fake clock drives it in tests.
#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace qm::store {
class ProjectTree;
}  // namespace qm::store
namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

// A date-time taken apart. month 1-12, day 1-31, weekday 1 = Sunday ... 7 = Saturday.
struct ClockTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, weekday = 0;
};
ClockTime SplitDateTime(double dateTime);
// The date-time of a calendar date and time of day (no range checks).
double JoinDateTime(int year, int month, int day, int hour, int minute, int second = 0);
// "YYYY-MM-DD HH:MM" (also with a "T" between date and time); false when the text is not a
// valid date and time.
bool ParseMinuteText(const std::string& text, double& dateTime);
// Minutes since 30 December 1899 00:00 of a date-time (rounded to the millisecond first).
long long MinuteNumber(double dateTime);

// True when project's schedule starts it at the tick at time now: kinds 1 to 4 at their
// minute, hour, weekday, day and month; kind 5 once the interval minus 10 seconds has passed
// since "LastStart" (at once when it never started).
bool DueAt(const store::Project& project, double now);
// The Projects of tree a tick at now would start, in tree order.
std::vector<store::Project*> DueProjects(const store::ProjectTree& tree, double now);

class ProjectScheduler {
public:
    // The Start command on the Project's node, as if the user had chosen it (the front end
    // selects the node). A Project with "Once" has "When" set to 0 before this is called.
    std::function<void(store::Project& project)> OnStart;
    // Saving the Project tree store when the auto-save count runs over.
    std::function<void()> OnAutoSave;
    bool AutoSave = false;     // "bAutoSave"
    int AutoSaveMinutes = 10;  // "iAutoSave"

    // The once-a-minute handler for the minute of now: saves each changed site map, starts
    // the due Projects (kind 5 gets "LastStart" = now) and counts the tick for the auto-save.
    // Returns the Projects it started.
    std::vector<store::Project*> MinuteTick(store::ProjectTree& tree, double now);

    // Drives MinuteTick from a clock read often (every quarter second): each minute of the
    // clock is handled once, early in the minute, however late or early the caller's timer
    // fires. Minutes missed because the caller was held up (at most five) are handled
    // late, in order; after a larger jump only the current minute is. A clock set back by a
    // few minutes waits for the minutes already handled to pass; set back further, it
    // starts counting from the new time. Returns the number of ticks run.
    int Poll(store::ProjectTree& tree, double now);
    // Forgets the minutes already handled (the next Poll handles its own minute).
    void Reset() { lastMinute_ = kNone; }
    int AutoSaveCount() const { return autoSaveCount_; }

private:
    static constexpr long long kNone = LLONG_MIN;
    static constexpr long long kCatchUp = 5;
    long long lastMinute_ = kNone;
    int autoSaveCount_ = 0;
};

}  // namespace qm::engine
