// Queue files: Suspend To File and Resume From File, locally and against nginx, and queue
// files whose local names try to leave the Project's folder.
#include <filesystem>
#include <fstream>

#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/queue_file.h"
#include "engine_fixture.h"
#include "platform/event_loop.h"
#include "store/project.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

class QueueFileTest : public EngineTest {
protected:
    // Queues an address of project without starting anything (the queue is suspended).
    void Queue(engine::QueueManager& q, store::Project& project, const std::string& url) {
        auto rec = std::make_unique<engine::DownloadRecord>();
        rec->Project = &project;
        rec->URL = url;
        rec->Lev = 1;
        ASSERT_TRUE(engine::Normalise(*rec)) << url;
        q.AddRecord(std::move(rec), true, false);
    }
    std::vector<std::string> Urls(const engine::QueueManager& q) {
        std::vector<std::string> out;
        for (const auto& r : q.Queue()) out.push_back(r->URL);
        return out;
    }
};

// Nothing listens on port 9 of loopback: a started record fails at once, nothing leaves the machine.
const char* const kDead = "http://127.0.0.1:9/";

TEST_F(QueueFileTest, RoundTripWithTwoProjectsAndOneMissing) {
    store::Project& a = AddProject(std::string(kDead) + "a/");
    store::Project& b = AddProject(std::string(kDead) + "b/");
    store::Project& gone = AddProject(std::string(kDead) + "c/");
    const std::string file = dir_ + "/queue.qmq";
    {
        auto q = MakeQueue(1);
        q->SetSuspended(true);
        Queue(*q, a, std::string(kDead) + "a/1.html");
        Queue(*q, b, std::string(kDead) + "b/1.html");
        Queue(*q, gone, std::string(kDead) + "c/1.html");
        Queue(*q, a, std::string(kDead) + "a/2.html");
        std::string error;
        // A file that cannot be written leaves the queue as it was and running.
        EXPECT_FALSE(engine::SuspendToFile(*q, dir_ + "/no/such/folder/q", error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(q->QueueCount(), 4u);
        EXPECT_FALSE(q->Suspended());
        q->SetSuspended(true);
        ASSERT_TRUE(engine::SuspendToFile(*q, file, error)) << error;
        EXPECT_EQ(q->QueueCount(), 0u);
        EXPECT_FALSE(q->Suspended());
        EXPECT_FALSE(fs::exists(file + ".part"));
        EXPECT_EQ((fs::status(file).permissions() & fs::perms::others_read), fs::perms::none);
    }
    std::unique_ptr<store::Project> removed = tree_.TakeProject(gone);
    auto q = MakeQueue(1);
    q->SetSuspended(true);
    Queue(*q, b, std::string(kDead) + "b/already.html");
    engine::ResumeReport report;
    ASSERT_TRUE(engine::ResumeFromFile(*q, tree_, file, report));
    EXPECT_FALSE(q->Suspended());
    EXPECT_EQ(report.queued, 3);
    EXPECT_EQ(report.noProject, 1);
    EXPECT_EQ(report.skipped, 0);
    const std::vector<std::string> expected = {std::string(kDead) + "b/already.html", std::string(kDead) + "a/1.html",
                                               std::string(kDead) + "b/1.html", std::string(kDead) + "a/2.html"};
    EXPECT_EQ(Urls(*q), expected);
    ASSERT_EQ(q->QueueCount(), 4u);
    EXPECT_EQ(q->Queue()[1]->Project, &a);
    EXPECT_EQ(q->Queue()[2]->Project, &b);
    EXPECT_EQ(q->Queue()[3]->Project, &a);
    // Read twice, the addresses are queued twice (no seen-address check).
    ASSERT_TRUE(engine::ResumeFromFile(*q, tree_, file, report));
    EXPECT_EQ(q->QueueCount(), 7u);
    q->StopAll();
}

TEST_F(QueueFileTest, APlantedPartFileIsNeverWrittenThrough) {
    store::Project& a = AddProject(std::string(kDead) + "a/");
    ASSERT_TRUE(WriteFile(dir_ + "/victim", "keep me"));
    const std::string file = dir_ + "/planted.qmq";
    fs::create_symlink(dir_ + "/victim", file + ".part");
    auto q = MakeQueue(1);
    q->SetSuspended(true);
    Queue(*q, a, std::string(kDead) + "a/1.html");
    std::string error;
    ASSERT_TRUE(engine::SuspendToFile(*q, file, error)) << error;
    EXPECT_EQ(ReadFile(dir_ + "/victim"), "keep me");
    EXPECT_TRUE(fs::is_symlink(file + ".part"));
    EXPECT_NE(ReadFile(file).find("a/1.html"), std::string::npos);
    EXPECT_FALSE(fs::is_symlink(file));
}

TEST_F(QueueFileTest, HostileLocalNamesStayInsideTheRoot) {
    store::Project& p = AddProject(std::string(kDead) + "site/");
    const std::string outside = dir_ + "/outside";
    fs::create_directories(outside);
    ASSERT_TRUE(WriteFile(outside + "/victim", "keep me"));
    ASSERT_TRUE(WriteFile(outside + "/tempvictim", "keep me too"));
    const std::string iid = std::to_string(p.IID);
    auto section = [&](const std::string& url, const std::string& fname, const std::string& temp,
                       const std::string& lev = "1") {
        return "[Object]\r\nType=2\r\nIID=" + iid + "\r\nURL=" + url + "\r\nImg=1\r\nLev=" + lev +
               "\r\nSrv=1\r\nFName=" + fname + "\r\nTemp=" + temp +
               "\r\nPath=/etc\r\nRFile=passwd\r\nBase=\r\n"
               "InitWay=\r\nJavaClass=0\r\nDepth=0\r\nIsImage=0\r\nURLPsw=\r\n";
    };
    std::string text = "Stream 1.1 File\r\nCount=5\r\n";
    text += section(std::string(kDead) + "site/a.html", outside + "/victim", outside + "/tempvictim");
    text += section(std::string(kDead) + "site/b.html", Store() + "/../outside/victim", "");
    text += section(std::string(kDead) + "site/c.html", "", "", "abc");  // damaged value
    text += section("mailto:x@y", outside + "/victim", "");              // no local name at all
    text += section(std::string(kDead) + "site/d.html", LocalOf(p, std::string(kDead) + "site/d.html"), "");
    text += "[Object]\r\nType=2\r\nIID=999\r\nURL=" + std::string(kDead) + "x\r\n";  // unknown Project
    const std::string file = dir_ + "/hostile.qmq";
    ASSERT_TRUE(WriteFile(file, text));

    auto q = MakeQueue(1);
    engine::ResumeReport report;
    ASSERT_TRUE(engine::ResumeFromFile(*q, tree_, file, report));
    EXPECT_FALSE(q->Suspended());
    EXPECT_EQ(report.queued, 3);
    EXPECT_EQ(report.renamed, 2);
    EXPECT_EQ(report.skipped, 2);
    EXPECT_EQ(report.noProject, 1);
    EXPECT_GE(report.problems.size(), 4u);
    for (const auto& r : q->Queue()) {
        EXPECT_EQ(r->FName.rfind(Store() + "/", 0), 0u) << r->FName;
        EXPECT_EQ(r->FName.find(".."), std::string::npos) << r->FName;
        EXPECT_NE(r->Temp, outside + "/tempvictim");
        EXPECT_EQ(r->Path + "/" + r->RFile, r->FName);
    }
    platform::RunUntil([&] { return q->Idle(); }, 10000);
    q->StopAll();
    EXPECT_EQ(ReadFile(outside + "/victim"), "keep me");
    EXPECT_EQ(ReadFile(outside + "/tempvictim"), "keep me too");

    // A file that is no queue file at all resumes nothing and leaves the queue running.
    ASSERT_TRUE(WriteFile(file, std::string("\0\1garbage", 9)));
    engine::ResumeFromFile(*q, tree_, file, report);
    EXPECT_FALSE(q->Suspended());
    EXPECT_EQ(report.queued, 0);
    EXPECT_FALSE(engine::ResumeFromFile(*q, tree_, dir_ + "/missing.qmq", report));
    EXPECT_FALSE(q->Suspended());
}

TEST_F(QueueFileTest, SuspendWhileTransfersRunAgainstNginx) {
    // Slow answers keep the transfers running when the queue is written.
    StartNginx("location /slow/ { limit_rate 4k; }");
    std::string index = "<html>\n";
    for (int i = 0; i < 3; ++i) {
        Serve("/slow/f" + std::to_string(i) + ".bin", std::string(12 * 1024, 'x'));
        index += "LINK " + Url("/slow/f" + std::to_string(i) + ".bin") + "\n";
    }
    Serve("/index.html", index);
    store::Project& p = AddProject(Url("/index.html"), 2);
    const std::string file = dir_ + "/running.qmq";
    {
        auto q = MakeQueue(3);
        ASSERT_TRUE(q->StartProject(p));
        ASSERT_TRUE(platform::RunUntil([&] { return q->BusyConnections() >= 3; }, 20000));
        const std::size_t busy = q->BusyConnections();
        std::string error;
        ASSERT_TRUE(engine::SuspendToFile(*q, file, error)) << error;
        EXPECT_EQ(q->QueueCount(), 0u);
        EXPECT_GE(p.SAbr, static_cast<int>(busy));
        EXPECT_EQ(p.QueuedCount, 0);
    }
    const std::string saved = ReadFile(file);
    for (int i = 0; i < 3; ++i) EXPECT_NE(saved.find("/slow/f" + std::to_string(i) + ".bin"), std::string::npos);
    EXPECT_EQ(TempFiles(), 0);

    // Back on resume: the three files are fetched again and stored.
    auto q = MakeQueue(3);
    engine::ResumeReport report;
    ASSERT_TRUE(engine::ResumeFromFile(*q, tree_, file, report));
    EXPECT_EQ(report.queued, 3);
    ASSERT_TRUE(RunIdle(*q, 60000));
    for (int i = 0; i < 3; ++i) {
        const std::string local = LocalOf(p, Url("/slow/f" + std::to_string(i) + ".bin"));
        EXPECT_EQ(fs::file_size(local), 12u * 1024) << local;
    }
}

}  // namespace
}  // namespace qm::test
