// The queue and item processing end to end against nginx (and a scripted server) on
// loopback: storing, conditional requests, existing files, redirects, retries, limits,
// disk space, shared connections, suspending, shrinking the pool and stopping.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/retry_wait.h"
#include "engine/stored_files.h"
#include "engine_fixture.h"
#include "platform/event_loop.h"
#include "store/description_file.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

struct Events {
    std::vector<std::string> stored;
    std::vector<std::string> messages;
    std::vector<std::pair<int, int>> pool;
    int finished = 0;
};

void Watch(engine::QueueManager& q, Events& ev, store::Project& p) {
    q.OnItemStored = [&ev](engine::QueueManager&, engine::DownloadRecord& r) { ev.stored.push_back(r.FName); };
    q.OnStatus = [&ev](engine::QueueManager&, const std::string& text, engine::MessageKind kind) {
        if (kind == engine::MessageKind::Analysis) ev.messages.push_back(text);
    };
    q.OnPoolChange = [&ev](engine::QueueManager&, int n, engine::PoolChange change) {
        ev.pool.push_back({n, static_cast<int>(change)});
    };
    p.OnProjectChange = [&ev](store::Project&, store::ProjectChange change, std::int64_t) {
        if (change == store::ProjectChange::Finished) ++ev.finished;
    };
}

void ExpectIdleCounters(const store::Project& p) {
    EXPECT_EQ(p.QueuedCount, 0);
    EXPECT_EQ(p.ProcessingCount, 0);
}

class QueueTest : public EngineTest {
protected:
    // A Project of url that takes files of the "other" category only within the sizes given
    // (KB; 0: that bound off), started on q as the only one and run until q is idle.
    store::Project& RunWithSizes(engine::QueueManager& q, const std::string& url, int minKb, int maxKb) {
        store::Project& p = AddProject(url);
        store::FileCategory& other = p.Categories[store::kCatOther];
        other.Flag(store::CategoryFlag::SelectedSizesOnly) = true;
        other.Flag(store::CategoryFlag::MinSizeOn) = minKb > 0;
        other.Flag(store::CategoryFlag::MaxSizeOn) = maxKb > 0;
        other.MinSize = minKb;
        other.MaxSize = maxKb;
        q.ClearSeen();
        EXPECT_TRUE(q.StartProject(p));
        EXPECT_TRUE(RunIdle(q));
        return p;
    }
};

TEST_F(QueueTest, StartPageIsStoredWithItsCopyAndDescription) {
    Serve("/index.html", "<html>hello</html>\n");
    StartNginx();
    store::Project& p = AddProject(Url("/index.html"));
    auto q = MakeQueue(2);
    Events ev;
    Watch(*q, ev, p);
    ASSERT_TRUE(q->StartProject(p));
    EXPECT_GT(p.LastStart, 0);
    ASSERT_TRUE(RunIdle(*q));
    std::string local = LocalOf(p, Url("/index.html"));
    EXPECT_EQ(ReadFile(local), "<html>hello</html>\n");
    EXPECT_EQ(ReadFile(engine::PrimaryName(local)), "<html>hello</html>\n");
    store::FileDescription d;
    std::string dir = local.substr(0, local.rfind('/'));
    ASSERT_TRUE(store::ReadDescription(dir, "index.html", d));
    EXPECT_EQ(d.ContentType, "text/html");
    EXPECT_NE(d.LastModified.find("GMT"), std::string::npos);
    EXPECT_EQ(p.S200, 1);
    EXPECT_EQ(p.DoneCount, 1);
    EXPECT_EQ(p.ReceivedBytes, 19);
    ExpectIdleCounters(p);
    EXPECT_GE(ev.finished, 1);
    ASSERT_EQ(ev.stored.size(), 1u);
    EXPECT_EQ(ev.stored[0], local);
    EXPECT_EQ(TempFiles(), 0);
    EXPECT_TRUE(q->Seen(Url("/index.html")));

    // Without emptying the seen-address list the start page is not queued again.
    ASSERT_TRUE(q->StartProject(p));
    EXPECT_TRUE(q->Idle());
    EXPECT_EQ(p.QueuedCount, 0);
    // A second start asks with the stored date and counts the answer as not modified.
    q->ClearSeen();
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(Requests("/index.html"), 2);
    EXPECT_EQ(LastStatus("/index.html"), "304");
    EXPECT_EQ(p.S304, 1);
    EXPECT_EQ(p.S200, 0);
    EXPECT_EQ(ReadFile(local), "<html>hello</html>\n");
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(QueueTest, ManyProjectsOnOneServerShareOneRobotsTxt) {
    // Started one after another, as "FOLDER/all" starts them: every start record waits for
    // the one robots.txt, which is asked for once; then each is taken or refused by it. A
    // Project that does not obey robots.txt, started behind them, is stored as well.
    Serve("/robots.txt", "User-agent: *\nDisallow: /private/\n");
    constexpr int kProjects = 60;
    for (int i = 0; i < kProjects; ++i) Serve("/f" + std::to_string(i) + ".html", "file " + std::to_string(i) + "\n");
    Serve("/private/p.html", "private\n");
    StartNginx();
    auto q = MakeQueue(4);
    std::vector<store::Project*> projects;
    for (int i = 0; i < kProjects; ++i) projects.push_back(&AddProject(Url("/f" + std::to_string(i) + ".html"), 0));
    store::Project& refused = AddProject(Url("/private/p.html"), 0);
    store::Project& careless = AddProject(Url("/private/p.html?own"), 0);
    projects.push_back(&refused);
    projects.push_back(&careless);
    for (store::Project* p : projects) p->Robots = p != &careless;
    for (store::Project* p : projects) {
        q->ClearSeen();
        ASSERT_TRUE(q->StartProject(*p));
    }
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(Requests("/robots.txt"), 1);
    for (int i = 0; i < kProjects; ++i) {
        store::Project& p = *projects[static_cast<std::size_t>(i)];
        EXPECT_EQ(ReadFile(LocalOf(p, p.URL)), "file " + std::to_string(i) + "\n") << i;
        EXPECT_EQ(p.S200, 1) << i;
        ExpectIdleCounters(p);
    }
    EXPECT_EQ(refused.S200, 0);
    EXPECT_FALSE(engine::FileExists(LocalOf(refused, refused.URL)));
    EXPECT_EQ(careless.S200, 1);
    EXPECT_EQ(Requests("/private/p.html"), 0) << "robots.txt refuses it";
    EXPECT_EQ(Requests("/private/p.html?own"), 1) << "the Project that ignores robots.txt asks for it";
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(QueueTest, NonDocumentIsStoredWithoutCopyAndOldCopyGoes) {
    Serve("/notes.txt", "plain");
    StartNginx();
    store::Project& p = AddProject(Url("/notes.txt"));
    std::string local = LocalOf(p, Url("/notes.txt"));
    ASSERT_TRUE(WriteFile(engine::PrimaryName(local), "stale"));
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(ReadFile(local), "plain");
    EXPECT_FALSE(fs::exists(engine::PrimaryName(local)));
    EXPECT_EQ(p.S200, 1);
}

TEST_F(QueueTest, ExistingFilesAreTakenWithoutARequest) {
    StartNginx();
    // FMGroup 2: the existing start page counts as not modified, no request is made.
    store::Project& p = AddProject(Url("/b.html"));
    p.FMGroup = 2;
    std::string local = LocalOf(p, Url("/b.html"));
    ASSERT_TRUE(WriteFile(local, "kept"));
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(Requests("/b.html"), 0);
    EXPECT_EQ(p.S304, 1);
    EXPECT_EQ(p.DoneCount, 1);
    EXPECT_EQ(ReadFile(local), "kept");
    ExpectIdleCounters(p);

    // FMGroup 3: only files more than FM3Lev levels below the start are skipped; the
    // existing start page is asked for again, its existing link is not.
    Serve("/top.html", "LINK " + Url("/deep.html") + "\n");
    Serve("/deep.html", "deep");
    store::Project& p3 = AddProject(Url("/top.html"), 2);
    p3.FMGroup = 3;
    p3.FM3Lev = 0;
    ASSERT_TRUE(WriteFile(LocalOf(p3, Url("/top.html")), "old top"));
    ASSERT_TRUE(WriteFile(LocalOf(p3, Url("/deep.html")), "old deep"));
    q->ClearSeen();
    ASSERT_TRUE(q->StartProject(p3));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(Requests("/top.html"), 1);
    EXPECT_EQ(Requests("/deep.html"), 0);
    EXPECT_EQ(p3.S200, 1);
    EXPECT_EQ(p3.S304, 1);
    EXPECT_EQ(ReadFile(LocalOf(p3, Url("/deep.html"))), "old deep");
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(QueueTest, RedirectLeavesAStubPointingAtTheStoredTarget) {
    Serve("/dir/new.txt", "moved here");
    StartNginx("location = /old.txt { return 302 /dir/new.txt; }\n");
    store::Project& p = AddProject(Url("/old.txt"));
    auto q = MakeQueue(1);
    Events ev;
    Watch(*q, ev, p);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q));
    std::string oldLocal = LocalOf(p, Url("/old.txt"));
    std::string newLocal = LocalOf(p, Url("/dir/new.txt"));
    EXPECT_EQ(ReadFile(newLocal), "moved here");
    std::string rel = newLocal.substr(Store().size() + 1);
    int depth = 0;
    for (char c : oldLocal.substr(Store().size() + 1))
        if (c == '/') ++depth;
    std::string up;
    for (int i = 0; i < depth; ++i) up += "../";
    EXPECT_EQ(ReadFile(oldLocal), "<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=" + up + rel +
                                      "\"><TITLE>302 File moved</TITLE></HEAD></HTML>");
    store::FileDescription d;
    ASSERT_TRUE(store::ReadDescription(oldLocal.substr(0, oldLocal.rfind('/')), "old.txt", d));
    EXPECT_EQ(d.ContentType, "text/html");
    // Redirects are not counted; the target is.
    EXPECT_EQ(p.S200, 1);
    EXPECT_EQ(p.S304 + p.S400 + p.SErr + p.SAbr, 0);
    EXPECT_EQ(ev.stored.size(), 2u);
    ExpectIdleCounters(p);
}

TEST_F(QueueTest, ErrorsAreRetriedByTheAttemptsLeft) {
    StartNginx("location = /e500 { return 500; }\nlocation = /e400 { return 400; }\n");
    struct Case {
        const char* path;
        int retries;
        int requests;
        int s400;
        int done;
    };
    for (Case c :
         {Case{"/missing", 3, 1, 1, 1}, Case{"/e500", 3, 3, 1, 0}, Case{"/e500", 1, 1, 1, 0}, Case{"/e400", 2, 2, 1, 0},
          // 400 is the same answer next time: three attempts at most, even unlimited.
          Case{"/e400", 0, 3, 1, 0}, Case{"/e400", 5, 3, 1, 0}}) {
        store::Options().ConnRetries = c.retries;
        int before = Requests(c.path);
        store::Project& p = AddProject(Url(c.path));
        auto q = MakeQueue(1);
        ASSERT_TRUE(q->StartProject(p));
        ASSERT_TRUE(RunIdle(*q));
        EXPECT_EQ(Requests(c.path) - before, c.requests) << c.path << " " << c.retries;
        EXPECT_EQ(p.S400, c.s400) << c.path;
        EXPECT_EQ(p.DoneCount, c.done) << c.path;
        EXPECT_FALSE(fs::exists(LocalOf(p, Url(c.path))));
        ExpectIdleCounters(p);
    }
    EXPECT_EQ(TempFiles(), 0);
}

// Answers 500 to the first `failures` requests, then 200 with a small text body.
class FlakyServer {
public:
    explicit FlakyServer(int failures) : failures_(failures) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        ::listen(fd_, 8);
        thread_ = std::thread([this] { Loop(); });
    }
    ~FlakyServer() {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }
    int Port() const { return port_; }
    int Requests() const { return requests_; }
    // Milliseconds between consecutive requests.
    std::vector<long long> Gaps() {
        std::lock_guard<std::mutex> lock(timesMutex_);
        std::vector<long long> gaps;
        for (std::size_t i = 1; i < times_.size(); ++i)
            gaps.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(times_[i] - times_[i - 1]).count());
        return gaps;
    }

private:
    void Loop() {
        while (!stop_) {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            char buf[4096];
            std::string req;
            while (req.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::read(c, buf, sizeof buf);
                if (n <= 0) break;
                req.append(buf, static_cast<std::size_t>(n));
            }
            {
                std::lock_guard<std::mutex> lock(timesMutex_);
                times_.push_back(std::chrono::steady_clock::now());
            }
            int n = ++requests_;
            std::string answer = n <= failures_
                                     ? "HTTP/1.0 500 Error\r\nContent-Length: 0\r\n\r\n"
                                     : "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok";
            ssize_t w = ::write(c, answer.data(), answer.size());
            (void)w;
            ::close(c);
        }
    }
    int fd_ = -1, port_ = 0, failures_;
    std::atomic<int> requests_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex timesMutex_;
    std::vector<std::chrono::steady_clock::time_point> times_;
};

TEST_F(QueueTest, NoAttemptLimitRetriesUntilTheServerAnswers) {
    store::Options().ConnRetries = 0;
    FlakyServer server(4);
    std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/flaky.txt";
    store::Project& p = AddProject(url);
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(server.Requests(), 5);
    EXPECT_EQ(p.S200, 1);
    EXPECT_EQ(p.S400, 0);
    EXPECT_EQ(ReadFile(LocalOf(p, url)), "ok");
}

TEST_F(QueueTest, FailedAttemptsWaitLongerEachTimeWithoutHoldingAConnection) {
    store::Options().ConnRetries = 0;
    FlakyServer flaky(4);
    Serve("/other.txt", "other");
    StartNginx();
    std::string url = "http://127.0.0.1:" + std::to_string(flaky.Port()) + "/flaky.txt";
    store::Project& p = AddProject(url);
    store::Project& other = AddProject(Url("/other.txt"));
    auto q = std::make_unique<engine::QueueManager>(1);
    q->SetRetryWait({std::chrono::milliseconds(150), std::chrono::milliseconds(400)});
    std::vector<std::string> messages;
    q->OnStatus = [&](engine::QueueManager&, const std::string& text, engine::MessageKind kind) {
        if (kind == engine::MessageKind::Analysis && text.rfind("Waiting", 0) == 0) messages.push_back(text);
    };
    ASSERT_TRUE(q->StartProject(p));
    // The failing record waits out its pause in the queue, shown as waiting, while the only
    // connection is free for the next Project.
    ASSERT_TRUE(platform::RunUntil([&] { return q->RetryWaitingCount() == 1; }, 5000));
    EXPECT_GE(q->SecondsToNextRetry(), 1);
    EXPECT_EQ(q->BusyConnections(), 0u);
    ASSERT_TRUE(q->StartProject(other));
    ASSERT_TRUE(platform::RunUntil([&] { return other.S200 == 1; }, 5000));
    EXPECT_EQ(p.S200, 0);
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(p.S200, 1);
    EXPECT_EQ(ReadFile(LocalOf(p, url)), "ok");
    EXPECT_EQ(q->RetryWaitingCount(), 0u);
    // 150, 300, then the longest wait of 400 ms twice (lower bounds: a wait is never cut short).
    std::vector<long long> gaps = flaky.Gaps();
    ASSERT_EQ(gaps.size(), 4u);
    const long long least[] = {150, 300, 400, 400};
    for (std::size_t i = 0; i < gaps.size(); ++i) EXPECT_GE(gaps[i], least[i]) << "gap " << i;
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], "Waiting 1 s before attempt 2 of " + url);
    EXPECT_EQ(messages[3], "Waiting 1 s before attempt 5 of " + url);
}

TEST(RetryWaitTest, DoublesUpToTheLongestWait) {
    engine::RetryWait wait;  // the program's waits: 1 s doubling to a minute
    std::vector<long long> seconds;
    for (int failures = 1; failures <= 9; ++failures) seconds.push_back(wait.After(failures).count() / 1000);
    EXPECT_EQ(seconds, (std::vector<long long>{1, 2, 4, 8, 16, 32, 60, 60, 60}));
    EXPECT_EQ(wait.After(1000000).count(), 60000);  // no overflow however long it fails
    EXPECT_EQ(wait.After(0).count(), 0);
    engine::RetryWait none{std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
    EXPECT_EQ(none.After(5).count(), 0);
}

TEST_F(QueueTest, FileCountAndTotalSizeLimitsDropFurtherRecords) {
    std::string page;
    for (int i = 0; i < 5; ++i) {
        Serve("/f" + std::to_string(i) + ".txt", std::string(2048, 'a' + i));
        page += "LINK " + std::string("http://127.0.0.1:PORT/f") + std::to_string(i) + ".txt\n";
    }
    StartNginx();
    std::string port = std::to_string(nginx_->Port());
    for (std::size_t at; (at = page.find("PORT")) != std::string::npos;) page.replace(at, 4, port);
    Serve("/list.html", page);

    store::Project& p = AddProject(Url("/list.html"), 2);
    p.LimBNumber = true;
    p.LimNumber = 3;
    auto q = MakeQueue(1);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q));
    // The limit is tested when a connection takes a record, and a file is counted once it
    // is in: the record taken while the last counted one finished may still run.
    EXPECT_GE(p.DoneCount, 3);
    EXPECT_LE(p.DoneCount, 4);
    EXPECT_EQ(p.S200, p.DoneCount);
    EXPECT_EQ(Requests("/f3.txt") + Requests("/f4.txt"), 0);
    ExpectIdleCounters(p);

    store::Project& s = AddProject(Url("/list.html"), 2);
    s.LimBTSize = true;
    s.LimTSize = 2;  // kilobytes: the page and one 2 KB file pass, then it is exceeded
    q->ClearSeen();
    ASSERT_TRUE(q->StartProject(s));
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(s.S200, 2);
    EXPECT_GT(s.ReceivedBytes, 2048);
    ExpectIdleCounters(s);
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(QueueTest, CategorySizesEndTransfersAtTheHeaders) {
    Serve("/big.bin", std::string(10 * 1024, 'x'));
    StartNginx();
    auto q = MakeQueue(1);
    // Above the maximum: the connection's size limit ends it before any body arrives.
    store::Project& p = RunWithSizes(*q, Url("/big.bin"), 0, 4);
    EXPECT_EQ(p.SErr, 1);
    EXPECT_EQ(p.S200 + p.SAbr, 0);
    EXPECT_EQ(p.ReceivedBytes, 0);
    EXPECT_FALSE(fs::exists(LocalOf(p, Url("/big.bin"))));
    ExpectIdleCounters(p);

    // Below the minimum: the content check aborts it.
    store::Project& m = RunWithSizes(*q, Url("/big.bin"), 20, 0);
    EXPECT_EQ(m.SAbr, 1);
    EXPECT_EQ(m.S200 + m.SErr, 0);
    EXPECT_FALSE(fs::exists(LocalOf(m, Url("/big.bin"))));
    ExpectIdleCounters(m);
    EXPECT_EQ(TempFiles(), 0);
}

// A compressed answer tells no stored size at its header: the sizes are judged on what was
// decoded, with the same outcome as for the plain answer above.
TEST_F(QueueTest, CategorySizesHoldForCompressedAnswers) {
    Serve("/big.bin", std::string(10 * 1024, 'x'));
    StartNginx("gzip on; gzip_min_length 1; gzip_types application/octet-stream;");
    auto q = MakeQueue(1);
    store::Project& p = RunWithSizes(*q, Url("/big.bin"), 0, 4);
    EXPECT_EQ(p.SErr, 1);
    EXPECT_EQ(p.S200 + p.SAbr, 0);
    EXPECT_FALSE(fs::exists(LocalOf(p, Url("/big.bin"))));

    store::Project& m = RunWithSizes(*q, Url("/big.bin"), 20, 0);
    EXPECT_EQ(m.SAbr, 1);
    EXPECT_EQ(m.S200 + m.SErr, 0);
    EXPECT_FALSE(fs::exists(LocalOf(m, Url("/big.bin"))));

    // Within the sizes it is stored decoded.
    store::Project& ok = RunWithSizes(*q, Url("/big.bin"), 5, 0);
    EXPECT_EQ(ok.S200, 1);
    EXPECT_EQ(ReadFile(LocalOf(ok, Url("/big.bin"))), std::string(10 * 1024, 'x'));
    ExpectIdleCounters(ok);
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(QueueTest, TooLittleDiskSpaceStopsEverything) {
    Serve("/index.html", "x");
    StartNginx();
    store::Options().DiskSpace = 100000;  // more than any disk reports
    store::Project& p = AddProject(Url("/index.html"));
    auto q = MakeQueue(2);
    Events ev;
    Watch(*q, ev, p);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(RunIdle(*q, 5000));
    std::string local = LocalOf(p, Url("/index.html"));
    ASSERT_EQ(ev.messages.size(), 1u);
    EXPECT_EQ(ev.messages[0], "Not enough disk space: " + local);
    EXPECT_EQ(Requests("/index.html"), 0);
    EXPECT_EQ(q->QueueCount(), 0u);
    EXPECT_EQ(p.S200 + p.SAbr + p.SErr, 0);
    ExpectIdleCounters(p);
    EXPECT_EQ(TempFiles(), 0);
}

TEST_F(QueueTest, TwoProjectsShareTheQueueInArrivalOrder) {
    std::string a, b;
    for (int i = 0; i < 3; ++i) {
        Serve("/a" + std::to_string(i) + ".txt", "a");
        Serve("/b" + std::to_string(i) + ".txt", "b");
    }
    StartNginx();
    for (int i = 0; i < 3; ++i) {
        a += "LINK " + Url("/a" + std::to_string(i) + ".txt") + "\n";
        b += "LINK " + Url("/b" + std::to_string(i) + ".txt") + "\n";
    }
    Serve("/a.html", a);
    Serve("/b.html", b);
    store::Project& pa = AddProject(Url("/a.html"), 2);
    store::Project& pb = AddProject(Url("/b.html"), 2);
    auto q = MakeQueue(2);
    q->SetSuspended(true);
    ASSERT_TRUE(q->StartProject(pa));
    ASSERT_TRUE(q->StartProject(pb));
    ASSERT_EQ(q->QueueCount(), 2u);
    EXPECT_EQ(q->Queue()[0]->Project, &pa);
    EXPECT_EQ(q->Queue()[1]->Project, &pb);
    EXPECT_EQ(q->BusyConnections(), 0u);
    // Suspended: nothing starts, however long we wait.
    platform::RunUntil([] { return false; }, 300);
    EXPECT_EQ(Requests("/a.html"), 0);
    q->SetSuspended(false);
    EXPECT_EQ(q->BusyConnections(), 2u);
    ASSERT_TRUE(RunIdle(*q));
    EXPECT_EQ(pa.S200, 4);
    EXPECT_EQ(pb.S200, 4);
    ExpectIdleCounters(pa);
    ExpectIdleCounters(pb);
}

TEST_F(QueueTest, ShrinkingThePoolWaitsForBusyConnections) {
    std::string page;
    for (int i = 0; i < 3; ++i) Serve("/slow" + std::to_string(i) + ".bin", std::string(60000, 's'));
    StartNginx("location /slow { limit_rate 60k; }\n");
    for (int i = 0; i < 3; ++i) page += "LINK " + Url("/slow" + std::to_string(i) + ".bin") + "\n";
    Serve("/page.html", page);
    store::Project& p = AddProject(Url("/page.html"), 2);
    auto q = MakeQueue(3);
    Events ev;
    Watch(*q, ev, p);
    q->SetConnectionCount(0);
    q->SetConnectionCount(101);
    EXPECT_EQ(q->PoolSize(), 3u);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(platform::RunUntil([&] { return q->BusyConnections() == 3; }, 10000));
    q->SetConnectionCount(1);
    EXPECT_EQ(q->PoolSize(), 3u);
    EXPECT_EQ(q->PendingCount(), 1);
    ASSERT_TRUE(RunIdle(*q));
    platform::RunUntil([] { return false; }, 50);
    EXPECT_EQ(q->PoolSize(), 1u);
    EXPECT_EQ(q->PendingCount(), 0);
    EXPECT_EQ(p.S200, 4);
    ASSERT_EQ(ev.pool.size(), 2u);
    EXPECT_EQ(ev.pool[0], std::make_pair(2, 2));
    EXPECT_EQ(ev.pool[1], std::make_pair(1, 2));
    // Growing again adds connections at once.
    q->SetConnectionCount(4);
    EXPECT_EQ(q->PoolSize(), 4u);
}

TEST_F(QueueTest, StoppingLeavesNoPartFileAndNoCounters) {
    std::string page;
    for (int i = 0; i < 4; ++i) Serve("/slow" + std::to_string(i) + ".bin", std::string(200000, 's'));
    StartNginx("location /slow { limit_rate 50k; }\n");
    for (int i = 0; i < 4; ++i) page += "LINK " + Url("/slow" + std::to_string(i) + ".bin") + "\n";
    Serve("/page.html", page);
    store::Project& p = AddProject(Url("/page.html"), 2);
    auto q = MakeQueue(2);
    ASSERT_TRUE(q->StartProject(p));
    ASSERT_TRUE(platform::RunUntil([&] { return p.ReceivedBytes > 60000; }, 20000));
    q->StopAll();
    EXPECT_EQ(q->QueueCount(), 0u);
    EXPECT_EQ(q->BusyConnections(), 0u);
    // The analysis thread's last messages arrive with the next events.
    ASSERT_TRUE(RunIdle(*q, 5000));
    EXPECT_EQ(p.SAbr, 2);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(fs::exists(LocalOf(p, Url("/slow" + std::to_string(i) + ".bin"))));
    ExpectIdleCounters(p);
    platform::RunUntil([] { return false; }, 100);
    EXPECT_EQ(TempFiles(), 0);
    // Nothing stored sits beside the stored names.
    for (auto& e : fs::recursive_directory_iterator(Store()))
        EXPECT_EQ(e.path().filename().string().find(".qm%"), std::string::npos) << e.path();
}

TEST_F(QueueTest, StopProjectKeepsTheOtherProjectRunning) {
    std::string page;
    for (int i = 0; i < 3; ++i) Serve("/slow" + std::to_string(i) + ".bin", std::string(100000, 's'));
    Serve("/quick.txt", "q");
    StartNginx("location /slow { limit_rate 50k; }\n");
    for (int i = 0; i < 3; ++i) page += "LINK " + Url("/slow" + std::to_string(i) + ".bin") + "\n";
    Serve("/page.html", page);
    store::Project& slow = AddProject(Url("/page.html"), 2);
    store::Project& quick = AddProject(Url("/quick.txt"));
    auto q = MakeQueue(2);
    ASSERT_TRUE(q->StartProject(slow));
    ASSERT_TRUE(platform::RunUntil([&] { return q->BusyConnections() == 2; }, 10000));
    ASSERT_TRUE(q->StartProject(quick));
    q->StopProject(slow);
    EXPECT_EQ(slow.QueuedCount, 0);
    ASSERT_TRUE(RunIdle(*q));
    ExpectIdleCounters(slow);
    ExpectIdleCounters(quick);
    EXPECT_EQ(quick.S200, 1);
    EXPECT_EQ(slow.S200, 1);
    EXPECT_EQ(slow.SAbr, 2);
    EXPECT_EQ(TempFiles(), 0);
}

}  // namespace
}  // namespace qm::test
