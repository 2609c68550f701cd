// The progress display on the offscreen platform while a throttled nginx serves a site: the
// connections' bars (with a length and without one), the Project's bar and text in the tree,
// the status bar's overall bar, the window title, and the time left once the queue settled.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include "app/progress_tracker.h"
#include "engine/queue_manager.h"
#include "store/options.h"
#include "support/peers.h"
#include "ui/main_form.h"

using namespace qm;

namespace {
QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_progress_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Eight files of 100 KB with a length, and a page without one (nginx leaves the length out
// of pages it runs server-side includes on).
std::string MakeSite() {
    std::string site = qm::test::MakeTempDir("ui_progress_site");
    std::string index = "<html><body><a href=\"stream/long.html\">s</a>";
    for (int i = 0; i < 8; ++i) {
        index += "<a href=\"f" + std::to_string(i) + ".bin\">f</a>";
        qm::test::WriteFile(site + "/f" + std::to_string(i) + ".bin", std::string(100 * 1024, 'a' + i));
    }
    qm::test::WriteFile(site + "/index.html", index + "</body></html>");
    qm::test::WriteFile(site + "/stream/long.html", "<html><body>" + std::string(100 * 1024, 'x') + "</body></html>");
    return site;
}
}  // namespace

TEST(ProgressDisplay, BarsMoveWhileAThrottledSiteDownloads) {
    App();
    std::string home = qm::test::MakeTempDir("ui_progress");
    setenv("HOME", home.c_str(), 1);
    qm::test::NginxPeer nginx(MakeSite(), "    limit_rate 25k;\n    location /stream/ { ssi on; }");
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();

    ui::MainWindow form;
    form.AskHook = [](app::Question, const std::string&) { return true; };
    std::vector<std::string> notices;
    form.NoticeHook = [&](const std::string& text) { notices.push_back(text); };
    app::CoreSettings s;
    s.home = home;
    s.singleInstance = false;
    s.startServer = false;
    std::string error;
    ASSERT_EQ(form.Start(s, error), ui::MainWindow::Started::Yes) << error;
    // A fresh program folder logs from the start.
    EXPECT_TRUE(store::Options().UseLog);
    store::Options().PathPrefix = home + "/dl/";
    store::Options().HTTPCount = 2;
    form.Core().OptionsChanged(false);
    form.show();
    const QString plainTitle = form.windowTitle();
    EXPECT_FALSE(form.OverallBar()->isVisible());

    form.AddressField()->setText(QString::fromStdString(nginx.Url("/index.html")));
    form.LevelField()->setValue(2);
    QTest::keyClick(form.AddressField(), Qt::Key_Return);
    store::Project* p = form.SelectedNode().project;
    ASSERT_NE(p, nullptr);

    // Watched while it runs; each sight is kept, nothing is timed.
    bool lengthBarPartway = false, movingBar = false, addressShown = false, projectBar = false;
    bool overallPartway = false, titlePercent = false, growingSaid = false, timeLeftSaid = false;
    bool textDropped = false;
    QString shownText;
    std::vector<int> overallValues;
    ui::DownloadProgressWindow* window = form.ProgressWindow();
    auto look = [&] {
        for (int r = 0; r < window->List()->rowCount(); ++r) {
            QProgressBar* bar = window->Bar(r);
            if (!bar || bar->isHidden()) continue;
            if (bar->maximum() == 1000 && bar->value() > 0 && bar->value() < 1000) lengthBarPartway = true;
            QTableWidgetItem* address = window->List()->item(r, ui::DownloadProgressWindow::AddressColumn);
            if (bar->maximum() == 0 && address && address->text().endsWith("/stream/long.html")) movingBar = true;
            if (address && address->text().endsWith(".bin") &&
                window->List()->item(r, ui::DownloadProgressWindow::SizeColumn)->text() == "100 KB")
                addressShown = true;
        }
        if (form.ProjectBar(*p)) projectBar = true;
        const QString text = form.ProjectProgressText(*p);
        // Once shown, the text is replaced, never dropped (a tree rebuilt under it would).
        if (!shownText.isEmpty() && text.isEmpty()) textDropped = true;
        shownText = text;
        if (text.contains("queue still growing")) growingSaid = true;
        if (text.contains(" left") && text.contains(" files")) timeLeftSaid = true;
        if (form.OverallBar()->isVisible()) {
            const int v = form.OverallBar()->value();
            if (v > 0 && v < 1000) overallPartway = true;
            if (overallValues.empty() || overallValues.back() != v) overallValues.push_back(v);
        }
        if (form.windowTitle().contains("% - ")) titlePercent = true;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            look();
            return p->DoneCount >= 10 && form.Core().Engine().Idle();
        },
        120000))
        << "done " << p->DoneCount;
    EXPECT_TRUE(lengthBarPartway);
    EXPECT_TRUE(movingBar) << "no moving bar for the page without a length";
    EXPECT_TRUE(addressShown);
    EXPECT_TRUE(projectBar);
    EXPECT_TRUE(growingSaid);
    EXPECT_FALSE(textDropped);
    EXPECT_TRUE(timeLeftSaid) << "no time left once the queue settled";
    EXPECT_TRUE(overallPartway);
    EXPECT_TRUE(titlePercent);
    // The overall bar only moves forward within one run.
    for (std::size_t i = 1; i < overallValues.size(); ++i) EXPECT_GE(overallValues[i], overallValues[i - 1]);

    // Finished: the bars go, the title is the plain one, the tree tells the last run.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.OverallBar()->isVisible(); }, 5000));
    EXPECT_EQ(form.windowTitle().toStdString(), plainTitle.toStdString());
    EXPECT_EQ(form.ProjectBar(*p), nullptr);
    EXPECT_TRUE(form.ProjectProgressText(*p).startsWith("Last run: ")) << form.ProjectProgressText(*p).toStdString();
    EXPECT_TRUE(form.ProjectProgressText(*p).contains("S200=10")) << form.ProjectProgressText(*p).toStdString();
    EXPECT_TRUE(notices.empty());
}
