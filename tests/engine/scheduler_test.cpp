// The scheduler over a fake clock: which minute starts which schedule, each minute handled
// once however the polling timer drifts, and the auto-save count.
#include <gtest/gtest.h>

#include "engine/scheduler.h"
#include "store/project_tree.h"

namespace qm {
namespace {

double At(int y, int mo, int d, int h, int mi, int s = 0) { return engine::JoinDateTime(y, mo, d, h, mi, s); }
constexpr double kSecond = 1.0 / 86400.0;

TEST(Scheduler, CalendarArithmetic) {
    const engine::ClockTime t = engine::SplitDateTime(At(2026, 3, 1, 23, 59, 58));
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 23);
    EXPECT_EQ(t.minute, 59);
    EXPECT_EQ(t.second, 58);
    EXPECT_EQ(t.weekday, 1);                         // a Sunday
    EXPECT_EQ(engine::SplitDateTime(0).weekday, 7);  // 30 December 1899, a Saturday
    EXPECT_EQ(engine::SplitDateTime(At(2024, 2, 29, 0, 0)).day, 29);
    EXPECT_EQ(engine::SplitDateTime(At(2024, 2, 29, 0, 0) + 1).month, 3);
    double parsed = 0;
    ASSERT_TRUE(engine::ParseMinuteText("2026-12-09 06:05", parsed));
    EXPECT_EQ(engine::MinuteNumber(parsed), engine::MinuteNumber(At(2026, 12, 9, 6, 5)));
    EXPECT_FALSE(engine::ParseMinuteText("2026-02-30 06:05", parsed));
    EXPECT_FALSE(engine::ParseMinuteText("2026-12-09 24:00", parsed));
    EXPECT_FALSE(engine::ParseMinuteText("2026-12-09 06:05x", parsed));
    EXPECT_FALSE(engine::ParseMinuteText("tomorrow", parsed));
}

struct Case {
    const char* name;
    int when, hour, minute, weekday, day, month;
    double lastStart;  // 0: never started
    double tick;
    bool due;
};

TEST(Scheduler, DueRulesTable) {
    const double base = At(2026, 3, 10, 12, 0, 0);
    const Case cases[] = {
        {"daily 00:00 at 00:00:01", 1, 0, 0, 0, 0, 0, 1, At(2026, 3, 10, 0, 0, 1), true},
        {"daily 00:00 at 00:00:59", 1, 0, 0, 0, 0, 0, 1, At(2026, 3, 10, 0, 0, 59), true},
        {"daily 00:00 at 00:01", 1, 0, 0, 0, 0, 0, 1, At(2026, 3, 10, 0, 1, 0), false},
        {"daily 00:00 at 12:00", 1, 0, 0, 0, 0, 0, 1, At(2026, 3, 10, 12, 0, 0), false},
        {"weekly Sunday on a Sunday", 2, 9, 15, 0, 0, 0, 1, At(2026, 3, 1, 9, 15, 2), true},
        {"weekly Sunday on a Monday", 2, 9, 15, 0, 0, 0, 1, At(2026, 3, 2, 9, 15, 2), false},
        {"weekly Saturday", 2, 9, 15, 6, 0, 0, 1, At(2026, 3, 7, 9, 15, 2), true},
        {"monthly 31st on 31 March", 3, 6, 0, 0, 30, 0, 1, At(2026, 3, 31, 6, 0, 1), true},
        {"monthly 31st on 30 April", 3, 6, 0, 0, 30, 0, 1, At(2026, 4, 30, 6, 0, 1), false},
        {"monthly 31st on 1 May", 3, 6, 0, 0, 30, 0, 1, At(2026, 5, 1, 6, 0, 1), false},
        {"yearly 1 January", 4, 8, 30, 0, 0, 0, 1, At(2027, 1, 1, 8, 30, 3), true},
        {"yearly 1 January on 1 February", 4, 8, 30, 0, 0, 0, 1, At(2027, 2, 1, 8, 30, 3), false},
        {"yearly 1 January wrong hour", 4, 8, 30, 0, 0, 0, 1, At(2027, 1, 1, 9, 30, 3), false},
        {"every 0:01 after 49 s", 5, 0, 1, 0, 0, 0, base, base + 49 * kSecond, false},
        {"every 0:01 after 50 s", 5, 0, 1, 0, 0, 0, base, base + 50 * kSecond, true},
        {"every 0:00 at once", 5, 0, 0, 0, 0, 0, base, base, true},
        {"every 2:00 never started", 5, 2, 0, 0, 0, 0, 0, base, true},
        {"every 1:00 clock set back", 5, 1, 0, 0, 0, 0, base, base - 7200 * kSecond, false},
        {"every 1:00 clock set back, 59 min later", 5, 1, 0, 0, 0, 0, base, base + 3540 * kSecond, false},
        {"every 1:00 after 59:50", 5, 1, 0, 0, 0, 0, base, base + 3590 * kSecond, true},
        {"manual never", 0, 12, 0, 0, 0, 0, 1, base, false},
        {"unknown kind never", 9, 12, 0, 0, 0, 0, 1, base, false},
    };
    for (const Case& c : cases) {
        store::Project p;
        p.When = c.when;
        p.Hour = c.hour;
        p.Minute = c.minute;
        p.Weekday = c.weekday;
        p.Day = c.day;
        p.Month = c.month;
        p.LastStart = c.lastStart;
        EXPECT_EQ(engine::DueAt(p, c.tick), c.due) << c.name;
    }
    // Monthly on the 31st: not one day of April starts it.
    store::Project monthly;
    monthly.When = 3;
    monthly.Day = 30;
    for (int d = 1; d <= 30; ++d) EXPECT_FALSE(engine::DueAt(monthly, At(2026, 4, d, 0, 0, 1))) << d;
}

struct Fixture {
    store::ProjectTree tree;
    engine::ProjectScheduler scheduler;
    std::vector<std::string> started;
    Fixture() {
        scheduler.OnStart = [this](store::Project& p) { started.push_back(p.Caption); };
    }
    store::Project& Add(const char* caption, int when, int hour, int minute) {
        store::ProjectFolder& f = tree.Folders.empty() ? tree.AddFolder("Default") : *tree.Folders[0];
        auto p = std::make_unique<store::Project>();
        p->Caption = caption;
        p->IID = tree.TakeID() + 100000;  // no site map file of a real run is ever touched
        p->When = when;
        p->Hour = hour;
        p->Minute = minute;
        p->LastStart = 1;  // long ago
        return tree.AddProject(f, std::move(p));
    }
};

TEST(Scheduler, TicksStartOnceAndInterval) {
    Fixture f;
    store::Project& daily = f.Add("daily", 1, 7, 0);
    daily.Once = true;
    store::Project& every = f.Add("every", 5, 0, 1);
    every.LastStart = At(2026, 3, 10, 6, 58, 30);
    auto first = f.scheduler.MinuteTick(f.tree, At(2026, 3, 10, 7, 0, 1));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(daily.When, 0);  // "Once": manual from now on
    EXPECT_EQ(every.When, 5);
    EXPECT_EQ(engine::MinuteNumber(every.LastStart), engine::MinuteNumber(At(2026, 3, 10, 7, 0)));
    f.started.clear();
    f.scheduler.MinuteTick(f.tree, At(2026, 3, 11, 7, 0, 1));
    EXPECT_EQ(f.started, std::vector<std::string>{"every"});
}

TEST(Scheduler, PollHandlesEachMinuteOnce) {
    Fixture f;
    f.Add("every minute", 5, 0, 0);
    // A quarter-second timer that runs late by a varying amount, over ten minutes.
    double now = At(2026, 3, 10, 7, 0, 0) + 0.4 * kSecond;
    int ticks = 0;
    double polled = now;
    for (int i = 0; i < 10 * 60 * 4; ++i) {
        ticks += f.scheduler.Poll(f.tree, now);
        polled = now;
        now += (0.25 + (i % 7) * 0.01) * kSecond;
    }
    const long long minutes = engine::MinuteNumber(polled) - engine::MinuteNumber(At(2026, 3, 10, 7, 0, 0)) + 1;
    EXPECT_GE(minutes, 10);
    EXPECT_EQ(ticks, minutes);
    EXPECT_EQ(static_cast<long long>(f.started.size()), minutes);

    // Clock set back 30 seconds across a minute boundary: the minute is not handled twice.
    Fixture g;
    store::Project& daily = g.Add("daily", 1, 8, 0);
    EXPECT_EQ(g.scheduler.Poll(g.tree, At(2026, 3, 10, 8, 0, 10)), 1);
    EXPECT_EQ(g.scheduler.Poll(g.tree, At(2026, 3, 10, 7, 59, 50)), 0);
    EXPECT_EQ(g.scheduler.Poll(g.tree, At(2026, 3, 10, 8, 0, 5)), 0);
    EXPECT_EQ(g.scheduler.Poll(g.tree, At(2026, 3, 10, 8, 1, 0)), 1);
    EXPECT_EQ(g.started.size(), 1u);
    // A caller held up for three minutes: the missed minutes are handled in order.
    daily.Minute = 3;
    EXPECT_EQ(g.scheduler.Poll(g.tree, At(2026, 3, 10, 8, 4, 20)), 3);
    EXPECT_EQ(g.started.size(), 2u);
    // A clock set back a day starts over from the new time.
    daily.Minute = 0;
    EXPECT_EQ(g.scheduler.Poll(g.tree, At(2026, 3, 9, 8, 0, 2)), 1);
    EXPECT_EQ(g.started.size(), 3u);
}

TEST(Scheduler, AutoSaveCount) {
    Fixture f;
    int saves = 0;
    f.scheduler.AutoSave = true;
    f.scheduler.AutoSaveMinutes = 3;
    f.scheduler.OnAutoSave = [&] { ++saves; };
    const double t = At(2026, 3, 10, 7, 0, 1);
    for (int i = 0; i < 8; ++i) f.scheduler.MinuteTick(f.tree, t + i / 1440.0);
    EXPECT_EQ(saves, 2);  // the 4th and the 8th tick run over 3
    f.scheduler.AutoSave = false;
    for (int i = 0; i < 8; ++i) f.scheduler.MinuteTick(f.tree, t + i / 1440.0);
    EXPECT_EQ(saves, 2);
}

}  // namespace
}  // namespace qm
