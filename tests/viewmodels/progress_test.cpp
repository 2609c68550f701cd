// The progress figures and what the window makes of them: units at their boundaries, a
// Project whose queue is known and one whose queue keeps growing, a connection without a
// length, the overall title, and the colour of failure lines in the log.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/progress_tracker.h"
#include "app/units.h"
#include "store/options.h"
#include "store/project.h"
#include "store/ui_messages.h"
#include "viewmodels/log_model.h"
#include "viewmodels/progress_view.h"

using namespace qm;

TEST(Units, SizesRatesAndTimesAtTheirBoundaries) {
    EXPECT_EQ(app::FormatSize(-5), "0 bytes");
    EXPECT_EQ(app::FormatSize(0), "0 bytes");
    EXPECT_EQ(app::FormatSize(1023), "1023 bytes");
    EXPECT_EQ(app::FormatSize(1024), "1.0 KB");
    EXPECT_EQ(app::FormatSize(1536), "1.5 KB");
    EXPECT_EQ(app::FormatSize(99 * 1024 + 950), "99.9 KB");
    EXPECT_EQ(app::FormatSize(100 * 1024 - 1), "100 KB");   // 99.999 rounds up, without a decimal
    EXPECT_EQ(app::FormatSize(1024 * 1024 - 1), "1.0 MB");  // never "1024 KB"
    EXPECT_EQ(app::FormatSize(1024 * 1024), "1.0 MB");
    EXPECT_EQ(app::FormatSize(21916 * 1024LL), "21.4 MB");
    EXPECT_EQ(app::FormatSize(1024LL * 1024 * 1024 * 3 / 2), "1.5 GB");
    EXPECT_EQ(app::FormatSize(5000LL * 1024 * 1024 * 1024), "5000 GB");  // GB is the largest unit
    EXPECT_EQ(app::FormatRate(1982757), "1.9 MB/s");
    EXPECT_EQ(app::FormatRate(512), "512 bytes/s");

    EXPECT_EQ(app::FormatDuration(-1), "0 s");
    EXPECT_EQ(app::FormatDuration(59), "59 s");
    EXPECT_EQ(app::FormatDuration(60), "1 min 0 s");
    EXPECT_EQ(app::FormatDuration(130), "2 min 10 s");
    EXPECT_EQ(app::FormatDuration(3599), "59 min 59 s");
    EXPECT_EQ(app::FormatDuration(3900), "1 h 5 min");
}

TEST(ProgressTracker, KnownQueueGetsATimeLeftGrowingQueueDoesNot) {
    store::Project known, growing;
    app::ProgressTracker t;
    // Second 0..9: "known" has all 100 files queued from the start; "growing" finds 10 more
    // files every second.
    for (int s = 0; s <= 25; ++s) {
        const int done = 2 * s;
        t.SampleProjects(1000.0 + s, {{&known, done, 100 - done - 2, 2, done * 1000LL},
                                      {&growing, done, 10 * s + 5, 1, done * 1000LL}});
        const app::RunProgress* k = t.ProjectFigures(&known);
        const app::RunProgress* g = t.ProjectFigures(&growing);
        ASSERT_TRUE(k && g);
        EXPECT_EQ(k->known, 100);
        EXPECT_EQ(k->permille, done * 10);
        EXPECT_TRUE(g->growing);
        EXPECT_EQ(g->secondsLeft, -1);
        if (s < app::ProgressTracker::kSettleSeconds) {
            EXPECT_TRUE(k->growing) << s;  // not yet known to have settled
            EXPECT_EQ(k->secondsLeft, -1);
        } else {
            EXPECT_FALSE(k->growing) << s;
            // 2 files a second, 100 - done left.
            EXPECT_EQ(k->secondsLeft, (100 - done) / 2) << s;
            EXPECT_EQ(k->rate, 2000);
        }
    }
    // The whole is growing while one part is: no time left for it.
    EXPECT_TRUE(t.Downloading());
    EXPECT_TRUE(t.Overall().growing);
    EXPECT_EQ(t.Overall().secondsLeft, -1);
    EXPECT_EQ(t.Overall().done, 100);

    viewmodels::ProjectRow row = viewmodels::ProjectProgressRow(known, t.ProjectFigures(&known));
    EXPECT_EQ(row.bar, 500);
    EXPECT_EQ(row.text, "50 / 100 files, 48.8 KB, 2.0 KB/s, 25 s left");
    row = viewmodels::ProjectProgressRow(growing, t.ProjectFigures(&growing));
    EXPECT_EQ(row.bar, viewmodels::kMovingBar);
    EXPECT_NE(row.text.find("queue still growing"), std::string::npos) << row.text;
    EXPECT_EQ(row.text.find("left"), std::string::npos) << row.text;

    viewmodels::OverallView all = viewmodels::Overall(t, "Quillmoor");
    EXPECT_EQ(all.percent, t.Overall().permille / 10);
    EXPECT_EQ(all.title, std::to_string(all.percent) + "% - Quillmoor");
    EXPECT_NE(all.tooltip.find("queue still growing"), std::string::npos);

    // No file stored since the queue settled: no estimate rather than an endless one.
    app::ProgressTracker still;
    for (int s = 0; s <= 15; ++s) still.SampleProjects(s, {{&known, 3, 7, 1, 0}});
    EXPECT_FALSE(still.ProjectFigures(&known)->growing);
    EXPECT_EQ(still.ProjectFigures(&known)->secondsLeft, -1);

    // Both finished: nothing downloads, the title is the plain one, the finished Project
    // shows its last run.
    t.SampleProjects(1026, {{&known, 100, 0, 0, 100000}, {&growing, 300, 0, 0, 1}});
    EXPECT_FALSE(t.Downloading());
    EXPECT_TRUE(t.Projects().empty());
    all = viewmodels::Overall(t, "Quillmoor");
    EXPECT_EQ(all.title, "Quillmoor");
    EXPECT_EQ(all.bar, viewmodels::kNoBar);
    known.S200 = 98;
    known.S400 = 2;
    known.LastStart = 46000.0;
    known.LastEnd = 46000.0 + 130.0 / 86400.0;
    row = viewmodels::ProjectProgressRow(known, nullptr);
    EXPECT_EQ(row.bar, viewmodels::kNoBar);
    EXPECT_EQ(row.text, "Last run: 2 min 10 s, S200=98 S304=0 S400=2 SErr=0 SAbr=0");
    EXPECT_EQ(viewmodels::ProjectProgressRow(store::Project(), nullptr).text, "");  // never run
}

TEST(ProgressTracker, ALargeLastFileSetsTheTimeLeft) {
    store::Project project;
    app::ProgressTracker t;
    // 40 files stored quickly, then one large file left: 1 MB to go at 10 KB/s.
    for (int s = 0; s <= 20; ++s) {
        const int done = std::min(40, 4 * s);
        t.SampleConnections(s, {{0, true, "http://h/big.iso", 2000000, 1000000 - 10000 * s, 1000000 + 10000 * s}});
        t.SampleProjects(s, {{&project, done, done < 40 ? 40 - done : 0, 1, done * 1000LL}});
    }
    ASSERT_TRUE(t.Downloading());
    EXPECT_FALSE(t.Overall().growing);
    // The stored files' pace alone says 1 file at 4 a second; the file in transfer needs 80 s.
    EXPECT_EQ(t.Overall().secondsLeft, 80);
    // Without a length nothing can be said about the file in transfer.
    t.SampleConnections(21, {{0, true, "http://h/big.iso", 0, 0, 1210000}});
    t.SampleProjects(21, {{&project, 40, 0, 1, 40000}});
    EXPECT_LT(t.Overall().secondsLeft, 80);
}

TEST(ProgressTracker, ConnectionsWithAndWithoutALength) {
    app::ProgressTracker t;
    const std::vector<std::string> status = {"HTTP0: 25% of 4000 bytes of http://h/a.",
                                             "HTTP1: 3000 bytes of http://h/b.", "HTTP2: Empty"};
    for (int q = 0; q <= 8; ++q) {
        const double s = q * 0.25;
        t.SampleConnections(s, {{0, true, "http://h/a", 4000, 4000 - 100 * q, 100 * q},
                                {1, true, "http://h/b", 0, 0, 400 * q},
                                {2, false, "", 0, 0, 0}});
    }
    ASSERT_EQ(t.Connections().size(), 3u);
    EXPECT_EQ(t.Connections()[0].permille, 200);
    EXPECT_EQ(t.Connections()[0].rate, 400);
    EXPECT_EQ(t.Connections()[1].permille, -1);
    EXPECT_EQ(t.Connections()[1].rate, 1600);

    std::vector<viewmodels::ConnectionRow> rows = viewmodels::ConnectionRows(status, t.Connections());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].status, status[0]);  // the line text stays the first column
    EXPECT_EQ(rows[0].bar, 200);
    EXPECT_EQ(rows[0].address, "http://h/a");
    EXPECT_EQ(rows[0].size, "3.9 KB");
    EXPECT_EQ(rows[0].rate, "400 bytes/s");
    EXPECT_EQ(rows[1].bar, viewmodels::kMovingBar);
    EXPECT_EQ(rows[1].size, "3.1 KB");  // what arrived so far
    EXPECT_EQ(rows[1].rate, "1.6 KB/s");
    EXPECT_EQ(rows[2].bar, viewmodels::kNoBar);
    EXPECT_EQ(rows[2].address, "");

    // The next file on connection 0 starts its rate afresh, and shows none until it has been
    // watched for a second (a paced server's first burst says nothing); figures for a line
    // the pool no longer has are left out.
    t.SampleConnections(3, {{0, true, "http://h/c", 100000, 80000, 20000}, {5, true, "http://h/x", 10, 5, 5}});
    EXPECT_EQ(t.Connections()[0].permille, 200);
    t.SampleConnections(3.75, {{0, true, "http://h/c", 100000, 80000, 20000}});
    EXPECT_EQ(t.Connections()[0].rate, -1);
    rows = viewmodels::ConnectionRows(status, t.Connections());
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].rate, "");
    EXPECT_EQ(rows[1].bar, viewmodels::kNoBar);
    t.SampleConnections(4, {{0, true, "http://h/c", 100000, 60000, 40000}});
    EXPECT_EQ(t.Connections()[0].rate, 20000);

    // Pages in the browser follow the connections, each with a moving bar and its address;
    // a connection that merely fetches an address with the word in it is a connection.
    rows = viewmodels::ConnectionRows({"HTTP0: 10 bytes of http://h/x: Rendering x"}, {},
                                      {"http://h/list.html", "http://h/b.html"});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].bar, viewmodels::kNoBar);
    EXPECT_EQ(rows[1].status, "Rendering");
    EXPECT_EQ(rows[1].bar, viewmodels::kMovingBar);
    EXPECT_EQ(rows[1].address, "http://h/list.html");
    EXPECT_EQ(rows[2].address, "http://h/b.html");
    store::SetUIMessage(static_cast<int>(store::UIText::Rendering), "Wird dargestellt");
    EXPECT_EQ(viewmodels::ConnectionRows({}, {}, {"http://h/a.html"})[0].status, "Wird dargestellt");
    store::ResetUIMessages();
}

TEST(LogModel, FailuresAndRefusalsAreMarked) {
    store::ProgramOptions saved = store::Options();
    store::Options().UseLog = true;
    store::Options().FDisconnect = store::Options().FConnect = true;
    viewmodels::LogModel log;
    log.AddSlot(0);
    log.Route(0, "Read Transaction complete.", engine::MessageKind::TransactionEnd);
    log.Route(0, "Connection Timed out.", engine::MessageKind::TransactionEnd);
    log.Route(0, "Connecting", engine::MessageKind::Connection);
    log.Route(-1, "Waiting 5 s before attempt 2 of http://h/", engine::MessageKind::Analysis);
    log.Route(-1, "Not enough disk space: /x", engine::MessageKind::Analysis);
    log.Route(-1, "Project 'p' could not be started", engine::MessageKind::Analysis);
    ASSERT_EQ(log.Lines().size(), 6u);
    const bool expected[] = {false, true, false, false, true, true};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(log.Trouble(i), expected[i]) << log.Lines()[i];
    EXPECT_FALSE(log.Trouble(99));
    log.Clear();
    log.Route(-1, "plain", engine::MessageKind::Analysis);
    EXPECT_FALSE(log.Trouble(0));  // the marks went with the lines
    // The browser's lines stand alone and change no connection's line.
    log.Route(-1, "Rendering http://h/", engine::MessageKind::Connection);
    EXPECT_EQ(log.Lines().back(), "Rendering http://h/");
    EXPECT_EQ(log.ProgressLines().size(), 1u);
    EXPECT_EQ(log.ProgressLines()[0].find("Rendering"), std::string::npos);
    store::Options() = saved;
}
