// The desktop program on a real X server (Xvfb on a free local display, no TCP): a first
// run in this process sets up a Project and shows only the map page; then the quillmoor
// program itself starts the Project from its command line, downloads the site from nginx,
// and the screen is saved as a PNG under the build folder for people to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QSpinBox>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "app/window_state.h"
#include "store/options.h"
#include "support/peers.h"
#include "ui/folder_prop_dialog.h"
#include "ui/main_form.h"

namespace fs = std::filesystem;
using namespace qm;

namespace {
int FreeDisplay() {
    for (int n = 90; n < 200; ++n)
        if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) && !fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            return n;
    return -1;
}

int DistinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
    return colours.size();
}
}  // namespace

TEST(DesktopProgram, DownloadsUnderXvfbAndShowsTheMap) {
    std::string xvfb = qm::test::FindProgram("Xvfb");
    if (xvfb.empty()) GTEST_SKIP() << "Xvfb is not installed";
    const char* bin = std::getenv("QM_BINARY_DIR");
    ASSERT_TRUE(bin) << "QM_BINARY_DIR not set";
    std::string program = std::string(bin) + "/src/ui/quillmoor";
    ASSERT_TRUE(fs::exists(program));

    std::string home = qm::test::MakeTempDir("ui_xvfb");
    setenv("HOME", home.c_str(), 1);
    int display = FreeDisplay();
    ASSERT_GT(display, 0);
    qm::test::ChildProcess x;
    ASSERT_TRUE(x.Start({xvfb, ":" + std::to_string(display), "-screen", "0", "1024x720x24", "-nolisten", "tcp"},
                        home + "/xvfb.log"));
    std::string socket = "/tmp/.X11-unix/X" + std::to_string(display);
    for (int i = 0; i < 100 && !fs::exists(socket); ++i) QTest::qSleep(50);
    ASSERT_TRUE(fs::exists(socket)) << qm::test::ReadFile(home + "/xvfb.log");
    setenv("DISPLAY", (":" + std::to_string(display)).c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);

    std::string site = qm::test::MakeTempDir("ui_xvfb_site");
    qm::test::WriteFile(site + "/index.html",
                        "<html><body><a href=\"docs/guide.html\">g</a><img src=\"img/logo.png\">"
                        "<a href=\"notes.txt\">n</a><a href=\"files/pack.zip\">z</a></body></html>");
    qm::test::WriteFile(site + "/docs/guide.html", "<html><body><a href=\"../index.html\">i</a></body></html>");
    qm::test::WriteFile(site + "/img/logo.png", "PNG");
    qm::test::WriteFile(site + "/notes.txt", "notes");
    qm::test::WriteFile(site + "/files/pack.zip", "PK");
    qm::test::NginxPeer nginx(site);
    ASSERT_TRUE(nginx.Ok()) << nginx.Error();

    static int argc = 1;
    static char name[] = "ui_screenshot_test";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");

    // First run: one Project, only the map page shown, the Project selected; saved on close.
    {
        ui::MainWindow form;
        form.AskHook = [](app::Question, const std::string&) { return true; };
        form.NoticeHook = [](const std::string&) {};
        app::CoreSettings s;
        s.home = home;
        s.singleInstance = false;
        s.startServer = false;
        std::string error;
        ASSERT_EQ(form.Start(s, error), ui::MainWindow::Started::Yes) << error;
        store::Options().PathPrefix = home + "/dl/";
        store::Options().HTTPPort = qm::test::FreePort();
        store::Options().UseLog = true;
        form.PasteText(QString::fromStdString(nginx.Url("/index.html")));
        form.Pages()->setTabVisible(0, false);  // only the map page: saved as "pgProjects" 0
        form.Core().State().SetInt("MapMode", 0);
        form.Core().State().SetBool("ConfirmExit", false);
        form.setGeometry(20, 20, 980, 660);
        form.show();
        ASSERT_TRUE(form.close());
    }
    std::string dir = std::string(bin) + "/tests/ui/screenshots";
    fs::create_directories(dir);
    {
        ui::FolderPropertiesDialog dlg;
        dlg.SetValues("Default", QString::fromStdString(home + "/dl/"));
        dlg.show();
        QTest::qWait(300);
        EXPECT_TRUE(dlg.grab().save(QString::fromStdString(dir + "/folder_properties.png")));
    }

    // The program itself, started with the Project on its command line.
    qm::test::ChildProcess quillmoor;
    ASSERT_TRUE(quillmoor.Start({program, "--home", home, "Default/0"}, home + "/quillmoor.log"));
    auto stored = [&](const std::string& name) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(home + "/dl", ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename() == name) return true;
        return false;
    };
    bool done = false;
    for (int i = 0; i < 200 && !done; ++i) {
        QTest::qWait(100);
        done = stored("pack.zip") && stored("guide.html") && stored("notes.txt");
    }
    QTest::qWait(1500);  // the map and the windows catch up
    ASSERT_TRUE(quillmoor.Running()) << qm::test::ReadFile(home + "/quillmoor.log");
    QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    std::string png = dir + "/main_window_map.png";
    ASSERT_TRUE(shot.save(QString::fromStdString(png)));
    std::printf("screenshot: %s\n", png.c_str());
    EXPECT_TRUE(done) << "the site was not stored: " << qm::test::ReadFile(home + "/quillmoor.log");
    EXPECT_GT(DistinctColours(shot), 20);  // a drawn window, not an empty screen
    quillmoor.Stop();

    // A download in progress from a throttled server: the connections' bars in the Download
    // Progress table, the Project's bar and time left in the tree, the overall bar.
    std::string slowSite = qm::test::MakeTempDir("ui_xvfb_slow");
    std::string index = "<html><body><a href=\"stream/page.html\">p</a>";
    for (int i = 0; i < 14; ++i) {
        index += "<a href=\"part" + std::to_string(i) + ".bin\">b</a>";
        qm::test::WriteFile(slowSite + "/part" + std::to_string(i) + ".bin", std::string(100 * 1024, 'q'));
    }
    qm::test::WriteFile(slowSite + "/index.html", index + "</body></html>");
    qm::test::WriteFile(slowSite + "/stream/page.html", "<html>" + std::string(200 * 1024, ' ') + "</html>");
    qm::test::NginxPeer slow(slowSite, "    limit_rate 20k;\n    location /stream/ { ssi on; }");
    ASSERT_TRUE(slow.Ok()) << slow.Error();
    std::string slowHome = qm::test::MakeTempDir("ui_xvfb_progress");
    ui::MainWindow form;
    form.AskHook = [](app::Question, const std::string&) { return true; };
    form.NoticeHook = [](const std::string&) {};
    app::CoreSettings s;
    s.home = slowHome;
    s.singleInstance = false;
    s.startServer = false;
    std::string error;
    ASSERT_EQ(form.Start(s, error), ui::MainWindow::Started::Yes) << error;
    store::Options().PathPrefix = slowHome + "/dl/";
    store::Options().HTTPCount = 3;
    form.Core().OptionsChanged(false);
    form.setGeometry(10, 10, 1000, 690);
    form.show();
    form.AddressField()->setText(QString::fromStdString(slow.Url("/index.html")));
    form.LevelField()->setValue(2);
    QTest::keyClick(form.AddressField(), Qt::Key_Return);
    store::Project* p = form.SelectedNode().project;
    ASSERT_NE(p, nullptr);
    // Shot once the time left is shown (the queue settled), or when the download ends first.
    const bool shown = QTest::qWaitFor(
        [&] { return form.ProjectProgressText(*p).contains(" left") || form.Core().Engine().Idle(); }, 90000);
    const bool running = form.OverallBar()->isVisible();

    QTest::qWait(300);
    QImage progress = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    std::string progressPng = dir + "/main_window_progress.png";
    ASSERT_TRUE(progress.save(QString::fromStdString(progressPng)));
    std::printf("screenshot: %s\n", progressPng.c_str());
    EXPECT_TRUE(shown && running) << "the download ended before the time left was shown";
    EXPECT_TRUE(form.ProjectProgressText(*p).contains(" left")) << form.ProjectProgressText(*p).toStdString();
    form.Core().Commands().Stop(form.SelectedNode());
    form.Core().Close();
}
