// The desktop window's speed: the list-mode site map of a Project with 10,000 stored files,
// built into the tree view, and how long the event loop stays unanswered while a
// 10-connection download feeds the log and progress windows.
//
//   build/bench/ui/ui_bench                      (offscreen platform, nginx on loopback)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/download_run.h"
#include "app/window_state.h"
#include "engine/queue_manager.h"
#include "store/options.h"
#include "store/string_list.h"
#include "support/peers.h"
#include "ui/main_form.h"

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_bench";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// 10,000 stored files in 100 folders of 100, as a Project's site map lists them.
const qm::store::SortedStringList& TenThousandFiles(std::string& root) {
    static std::string dir;
    static qm::store::SortedStringList list;
    if (dir.empty()) {
        dir = qm::test::MakeTempDir("ui_bench_map") + "/";
        for (int f = 0; f < 100; ++f) {
            std::string folder = dir + "host/dir" + std::to_string(f) + "/";
            std::filesystem::create_directories(folder);
            for (int i = 0; i < 100; ++i) {
                std::string path = folder + "page" + std::to_string(i) + (i % 3 ? ".html" : ".gif");
                std::ofstream(path) << "x";
                list.Add(path);
            }
        }
    }
    root = dir;
    return list;
}

void BM_ListModeMap10000(benchmark::State& state) {
    App();
    std::string root;
    const qm::store::SortedStringList& list = TenThousandFiles(root);
    qm::ui::DirectoryTreeView tree;
    tree.resize(400, 600);
    tree.show();
    qm::viewmodels::DirTreeModel& m = tree.Model();
    m.Mode = 0;
    m.List = &list;
    m.RootCaption = "Bench";
    m.OnGetIndex = [](const std::string& folder, const std::string&, const std::string& name) {
        return qm::app::SiteMapIcon(folder + name);
    };
    m.SetDirectory(root);
    std::size_t nodes = 0;
    for (auto _ : state) {
        m.SetActive(false);
        m.SetActive(true);  // rebuild: every line, the view reset, the root expanded
        QCoreApplication::processEvents();
        nodes = m.First()->Children.front()->Children.size();
    }
    state.counters["folders"] = static_cast<double>(nodes);
    state.counters["files"] = static_cast<double>(list.Count());
}
BENCHMARK(BM_ListModeMap10000)->Unit(benchmark::kMillisecond)->Iterations(5);

// A 10-connection download of 300 pages with logging on: the longest and the 99th-percentile
// delay of a 10 ms timer while it runs.
void BM_EventLoopDuringDownload(benchmark::State& state) {
    App();
    std::string site = qm::test::MakeTempDir("ui_bench_site");
    std::string index = "<html><body>";
    for (int i = 0; i < 300; ++i) {
        std::string body(20000, 'x');
        qm::test::WriteFile(site + "/p" + std::to_string(i) + ".html", "<html><body>" + body + "</body></html>");
        index += "<a href=\"p" + std::to_string(i) + ".html\">p</a>\n";
    }
    qm::test::WriteFile(site + "/index.html", index + "</body></html>");
    qm::test::NginxPeer nginx(site);
    if (!nginx.Ok()) {
        state.SkipWithError(nginx.Error().c_str());
        return;
    }
    std::string home = qm::test::MakeTempDir("ui_bench_home");
    setenv("HOME", home.c_str(), 1);
    for (auto _ : state) {
        qm::ui::MainWindow form;
        form.AskHook = [](qm::app::Question, const std::string&) { return true; };
        form.NoticeHook = [](const std::string&) {};
        qm::app::CoreSettings s;
        s.home = home;
        s.singleInstance = false;
        s.startServer = false;
        std::string error;
        if (form.Start(s, error) != qm::ui::MainWindow::Started::Yes) {
            state.SkipWithError(error.c_str());
            return;
        }
        qm::store::Options().PathPrefix = home + "/dl/";
        qm::store::Options().UseLog = true;
        form.Core().Engine().Queue().SetConnectionCount(10);
        form.show();
        std::vector<qint64> gaps;
        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.elapsed();
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            qint64 now = clock.elapsed();
            gaps.push_back(now - last - 10);
            last = now;
        });
        probe.start(10);
        form.PasteText(QString::fromStdString(nginx.Url("/index.html")));
        form.StartSelected();
        bool finished = QTest::qWaitFor([&] { return form.Core().Engine().Idle(); }, 60000);
        state.counters["finished"] = finished ? 1 : 0;
        probe.stop();
        std::sort(gaps.begin(), gaps.end());
        if (!gaps.empty()) {
            state.counters["max_delay_ms"] = static_cast<double>(gaps.back());
            state.counters["p99_delay_ms"] = static_cast<double>(gaps[gaps.size() * 99 / 100]);
            state.counters["ticks"] = static_cast<double>(gaps.size());
        }
        state.counters["run_ms"] = static_cast<double>(clock.elapsed());
        state.counters["log_lines"] = static_cast<double>(form.Log().Lines().size());
        form.Core().State().SetBool("ConfirmExit", false);
        form.close();
    }
}
BENCHMARK(BM_EventLoopDuringDownload)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
