// The scheduler's rules and its minute handling.
#include "engine/scheduler.h"

#include <cmath>
#include <cstdio>

#include "engine/site_map.h"
#include "store/project.h"
#include "store/project_tree.h"

namespace qm::engine {

namespace {

constexpr long long kMsPerDay = 86400000LL;
// Days between 30 December 1899 and 1 January 1970.
constexpr long long kEpochOffsetDays = 25569;

long long FloorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days since 1 January 1970 of a civil date (proleptic Gregorian calendar).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = FloorDiv(y, 400);
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = FloorDiv(z, 146097);
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

long long Milliseconds(double dateTime) {
    if (!std::isfinite(dateTime)) return 0;
    // Far outside any real date: clamp so the arithmetic below cannot overflow.
    if (dateTime > 3e6) dateTime = 3e6;
    if (dateTime < -3e6) dateTime = -3e6;
    return std::llround(dateTime * static_cast<double>(kMsPerDay));
}

}  // namespace

ClockTime SplitDateTime(double dateTime) {
    const long long ms = Milliseconds(dateTime);
    const long long days = FloorDiv(ms, kMsPerDay);
    const long long inDay = ms - days * kMsPerDay;
    ClockTime t;
    CivilFromDays(days - kEpochOffsetDays, t.year, t.month, t.day);
    t.hour = static_cast<int>(inDay / 3600000);
    t.minute = static_cast<int>(inDay / 60000 % 60);
    t.second = static_cast<int>(inDay / 1000 % 60);
    // Day 0, 30 December 1899, was a Saturday.
    t.weekday = static_cast<int>(((days % 7) + 7 + 6) % 7) + 1;
    return t;
}

double JoinDateTime(int year, int month, int day, int hour, int minute, int second) {
    const long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kEpochOffsetDays;
    return static_cast<double>(days) + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

bool ParseMinuteText(const std::string& text, double& dateTime) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, used = 0;
    char sep = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &used) != 6) return false;
    if (static_cast<std::size_t>(used) != text.size() || (sep != ' ' && sep != 'T')) return false;
    if (y < 1900 || y > 9999 || mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59) return false;
    // The day must exist in that month.
    const ClockTime back = SplitDateTime(JoinDateTime(y, mo, d, 0, 0));
    if (back.month != mo || back.day != d) return false;
    dateTime = JoinDateTime(y, mo, d, h, mi);
    return true;
}

long long MinuteNumber(double dateTime) { return FloorDiv(Milliseconds(dateTime), 60000); }

bool DueAt(const store::Project& p, double now) {
    switch (p.When) {
    case 5: {
        if (p.LastStart == 0) return true;
        const long long interval = (static_cast<long long>(p.Hour) * 60 + p.Minute) * 60000LL;
        const long long elapsed = Milliseconds(now) - Milliseconds(p.LastStart);
        return elapsed >= interval - 10000;
    }
    case 1:
    case 2:
    case 3:
    case 4: {
        const ClockTime t = SplitDateTime(now);
        if (t.minute != p.Minute || t.hour != p.Hour) return false;
        if (p.When == 1) return true;
        if (p.When == 2) return p.Weekday + 1 == t.weekday;
        if (p.Day + 1 != t.day) return false;
        return p.When == 3 || p.Month + 1 == t.month;
    }
    default: return false;
    }
}

std::vector<store::Project*> DueProjects(const store::ProjectTree& tree, double now) {
    std::vector<store::Project*> due;
    for (store::Project* p : tree.AllProjects())
        if (DueAt(*p, now)) due.push_back(p);
    return due;
}

std::vector<store::Project*> ProjectScheduler::MinuteTick(store::ProjectTree& tree, double now) {
    std::vector<store::Project*> started;
    for (store::Project* p : tree.AllProjects()) {
        SaveMap(*p);
        if (!DueAt(*p, now)) continue;
        const bool interval = p->When == 5;
        if (p->Once) p->When = 0;
        if (interval) p->LastStart = now;
        if (OnStart) OnStart(*p);
        // The start itself stamps the wall clock; the interval counts from this tick.
        if (interval) p->LastStart = now;
        started.push_back(p);
    }
    if (++autoSaveCount_ > AutoSaveMinutes) {
        autoSaveCount_ = 0;
        if (AutoSave && OnAutoSave) OnAutoSave();
    }
    return started;
}

int ProjectScheduler::Poll(store::ProjectTree& tree, double now) {
    const long long minute = MinuteNumber(now);
    if (lastMinute_ == kNone || minute < lastMinute_ - kCatchUp || minute > lastMinute_ + kCatchUp) {
        lastMinute_ = minute;
        MinuteTick(tree, now);
        return 1;
    }
    int ticks = 0;
    while (lastMinute_ < minute) {
        ++lastMinute_;
        MinuteTick(tree, lastMinute_ == minute ? now : static_cast<double>(lastMinute_) / 1440.0);
        ++ticks;
    }
    return ticks;
}

}  // namespace qm::engine
