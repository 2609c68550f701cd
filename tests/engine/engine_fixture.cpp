#include "engine_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <chrono>

#include "engine/admission.h"
#include "engine/analysis_hook.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "engine/settings_snapshot.h"
#include "engine/stored_files.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::test {

namespace fs = std::filesystem;

namespace {

void LinkAnalyse(engine::DownloadRecord& record, const std::string& source, const std::string& target, bool writeTarget,
                 const engine::SettingsSnapshot& settings, engine::AnalysisSink& sink) {
    std::ifstream in(source, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("LINK ", 0) != 0) continue;
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = record.Project;
        rec->InitWay = record.InitWay;
        rec->URLPsw = record.URLPsw;
        rec->Referer = record.URL;
        rec->Img = record.Img;
        rec->Srv = record.Srv;
        rec->Lev = record.Lev < 1 ? 0 : record.Lev - 1;
        rec->URL = line.substr(5);
        engine::AdmissionResult why;
        if (engine::Normalise(*rec, settings, why)) sink.FoundRecord(std::move(rec));
    }
    if (writeTarget && engine::PlaceFile(source, target)) engine::WriteRedirectStub(record);
}

}  // namespace

void InstallLinkAnalysis() { engine::SetAnalyseFunction(&LinkAnalyse); }

void EngineTest::SetUp() {
    platform::InitEventLoop();
    dir_ = MakeTempDir("engine");
    fs::create_directories(dir_ + "/tmp");
    fs::create_directories(Site());
    fs::create_directories(Store());
    ::setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
    store::Options().Reset();
    store::Options().PathPrefix = Store() + "/";
    store::Options().ConnRetries = 1;
    store::Options().DiskSpace = 0;
    store::Options().TimeOut = 20000;
    store::Options().Pause = 0;
    InstallLinkAnalysis();
    folder_ = &tree_.AddFolder("Test");
    folder_->Dir = Store() + "/";
}

void EngineTest::TearDown() {
    engine::SetAnalyseFunction(nullptr);
    store::Options().Reset();
}

void EngineTest::StartNginx(const std::string& extra) {
    nginx_ = std::make_unique<NginxPeer>(Site(), extra);
    ASSERT_TRUE(nginx_->Ok()) << nginx_->Error();
}

void EngineTest::Serve(const std::string& path, const std::string& body) {
    ASSERT_TRUE(WriteFile(Site() + path, body));
}

store::Project& EngineTest::AddProject(const std::string& url, int lev) {
    auto p = std::make_unique<store::Project>();
    p->IID = tree_.TakeID();
    p->Caption = "P" + std::to_string(p->IID);
    p->URL = url;
    p->Lev = lev;
    p->Img = "Yes";
    p->Srv = "Yes";
    return tree_.AddProject(*folder_, std::move(p));
}

std::string EngineTest::LocalOf(store::Project& project, const std::string& url) {
    engine::DownloadRecord rec;
    rec.Project = &project;
    rec.URL = url;
    rec.Lev = project.Lev;
    EXPECT_TRUE(engine::Normalise(rec)) << url;
    return rec.FName;
}

std::unique_ptr<engine::QueueManager> EngineTest::MakeQueue(int connections) {
    auto queue = std::make_unique<engine::QueueManager>(connections);
    // Failed attempts wait before the next one; the tests that count attempts keep it short.
    queue->SetRetryWait({std::chrono::milliseconds(20), std::chrono::milliseconds(80)});
    return queue;
}

bool EngineTest::RunIdle(engine::QueueManager& queue, int timeoutMs) {
    return platform::RunUntil([&] { return queue.Idle(); }, timeoutMs);
}

namespace {
int CountRequests(const std::string& log, const std::string& path) {
    std::ifstream in(log);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.find("\"GET " + path + " HTTP") != std::string::npos) ++n;
    return n;
}

// nginx writes its log line after the answer went out: wait until the count settles.
void SettleLog(const std::string& log) {
    std::uintmax_t last = static_cast<std::uintmax_t>(-1);
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        std::error_code ec;
        std::uintmax_t size = fs::file_size(log, ec);
        if (ec) size = 0;
        if (size == last) return;
        last = size;
    }
}
}  // namespace

int EngineTest::Requests(const std::string& path) const {
    SettleLog(nginx_->Dir() + "/access.log");
    return CountRequests(nginx_->Dir() + "/access.log", path);
}

std::string EngineTest::LastStatus(const std::string& path) const {
    SettleLog(nginx_->Dir() + "/access.log");
    std::ifstream in(nginx_->Dir() + "/access.log");
    std::string line, status;
    while (std::getline(in, line)) {
        std::string key = "\"GET " + path + " HTTP/1.1\" ";
        std::size_t at = line.find(key);
        if (at != std::string::npos) status = line.substr(at + key.size(), 3);
    }
    return status;
}

int EngineTest::TempFiles() const {
    int n = 0;
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(dir_ + "/tmp", ec))
        if (e.is_regular_file()) ++n;
    return n;
}

}  // namespace qm::test
