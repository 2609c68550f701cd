// The download queue: lists, connection pool, taking order, analysis thread and stopping.
#include "engine/queue_manager.h"
#include "engine/page_rendering.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "engine/admission.h"
#include "engine/connection_setup.h"
#include "engine/crawl_limits.h"
#include "engine/get_rec.h"
#include "engine/known_directories.h"
#include "engine/local_path.h"
#include "engine/normalise.h"
#include "engine/parser_thread.h"
#include "engine/project_cookies.h"
#include "engine/server_manners.h"
#include "engine/stored_files.h"
#include "net/http_client.h"
#include "net/kept_connections.h"
#include "platform/event_loop.h"
#include "store/object_stream.h"
#include "store/options.h"
#include "store/project.h"
#include "store/ui_messages.h"

namespace qm::engine {

const char* const kTextReady = "Ready";
const char* const kTextDownload = "Download";
const char* const kTextSuspend = "Suspend";
const char* const kTextParsing = "Parsing";

namespace {

QueueManager* g_instance = nullptr;

void Recompute(store::Project& p) {
    p.StateText = (p.QueuedCount > 0 || p.ProcessingCount > 0) ? DownloadingText() : IdleText();
    p.ProgressText = std::to_string(p.DoneCount) + " / " + std::to_string(p.QueuedCount);
}

// The temporary file was just created empty and is open as fd; it is not truncated:
// truncating makes the file system write the data out at close, which costs more than the
// download.
std::FILE* OpenDataFile(int fd, std::unique_ptr<char[]>& buffer) {
    if (fd < 0) return nullptr;
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    // Bodies arrive in reads of a few kilobytes; a larger buffer writes them out in far
    // fewer system calls. The C library ignores the size unless it is given the buffer.
    constexpr std::size_t kBufferSize = 64 * 1024;
    if (!buffer) buffer.reset(new char[kBufferSize]);
    std::setvbuf(f, buffer.get(), _IOFBF, kBufferSize);
    return f;
}

void CountersChanged(store::Project& p) {
    Recompute(p);
    if (p.OnProjectChange) p.OnProjectChange(p, store::ProjectChange::Counters, 0);
    NotifyIfFinished(p);
}

}  // namespace

void QueueManager::OpenBodyFile(DownloadRecord& record) {
    // Made once per attempt: a file that cannot be made is not tried again halfway through
    // the body, which would store its tail alone.
    if (record.BodyFileMade) return;
    record.BodyFileMade = true;
    record.Temp.clear();
    record.DataFile = OpenDataFile(OpenTemporaryFile(record.Temp), record.DataBuffer);
}

std::string DownloadingText() { return store::UIMessage(store::UIText::Downloading); }
std::string IdleText() { return store::UIMessage(store::UIText::Ready); }

void IncQueued(store::Project& p) {
    ++p.QueuedCount;
    CountersChanged(p);
}

void DecQueued(store::Project& p) {
    if (p.QueuedCount > 0) --p.QueuedCount;
    CountersChanged(p);
}

void IncDone(store::Project& p) {
    ++p.DoneCount;
    CountersChanged(p);
}

void NotifyIfFinished(store::Project& p) {
    if (p.QueuedCount != 0 || p.ProcessingCount != 0) return;
    Recompute(p);
    // A finished run's web archive is closed and indexed at once.
    if (QueueManager* queue = QueueManager::Instance()) queue->CloseArchive(p);
    std::string error;
    SaveProjectCookies(p.IID, error);
    if (p.OnProjectChange) p.OnProjectChange(p, store::ProjectChange::Finished, 0);
}

// A call from the analysis thread that the main thread runs.
struct QueueManager::PendingCall {
    std::function<void()> fn;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
};

QueueManager* QueueManager::Instance() { return g_instance; }

QueueManager::QueueManager(int connectionCount) : alive_(std::make_shared<std::atomic<bool>>(true)) {
    platform::InitEventLoop();
    if (connectionCount < 1) connectionCount = 1;
    if (connectionCount > 100) connectionCount = 100;
    for (int i = 0; i < connectionCount; ++i) AddConnection();
    manners_ = std::make_unique<ServerManners>(
        [this] {
            if (!stopping_ && !suspended_) FillConnections();
        },
        [this](const std::string& text) { ReportMessage(text, false); },
        [this](std::unique_ptr<DownloadRecord> record) { AddRecord(std::move(record), true, false); });
    rendering_ = std::make_unique<PageRendering>(*this);
    g_instance = this;
}

QueueManager::~QueueManager() {
    StopAll();
    retryTimer_.reset();
    // The thread still sending its last messages is answered until it is done.
    while (thread_ && !thread_->Finished()) {
        RunPendingCalls();
        if (thread_->Finished()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread_.reset();
    rendering_.reset();
    manners_.reset();
    SaveAllProjectCookies();
    alive_->store(false);
    for (auto& c : pool_) {
        c->OnHeader = nullptr;
        c->OnData = nullptr;
        c->OnDone = nullptr;
        c->OnStatus = nullptr;
    }
    pool_.clear();
    retired_.clear();
    net::kept::CloseAll();
    if (g_instance == this) g_instance = nullptr;
}

net::DownloadConnection& QueueManager::AddConnection() {
    auto conn = std::make_unique<net::DownloadConnection>();
    conn->Index = static_cast<int>(pool_.size());
    net::DownloadConnection& c = *conn;
    c.OnStatus = [this](net::DownloadConnection& sender, const std::string& text, net::StatusKind kind) {
        if (OnConnStatus) OnConnStatus(*this, sender, text, kind);
        if (OnStatus) OnStatus(*this, "HTTP" + std::to_string(sender.Index) + ": " + text, MessageKindOf(kind));
    };
    pool_.push_back(std::move(conn));
    return c;
}

void QueueManager::ClearSeen() {
    ++seenGeneration_;
    seen_.Clear();
    traps_.Clear();
    lastContext_ = ContextRef();
    swept_.clear();
    ForgetKnownDirectories();
}

bool QueueManager::Idle() const {
    if (!queue_.empty() || !analysis_.empty()) return false;
    if (rendering_ && rendering_->Count() > 0) return false;
    // Records given to the thread count until their results have been acted on here.
    return !thread_ || thread_->Finished();
}

std::size_t QueueManager::BusyConnections() const {
    std::size_t n = 0;
    for (auto& c : pool_)
        if (c->Busy) ++n;
    return n;
}

void QueueManager::RaiseStatus(const std::string& text) {
    if (OnStatus) OnStatus(*this, text, MessageKind::QueueState);
}

void QueueManager::RaiseQueueState() {
    if (suspended_)
        RaiseStatus(kTextSuspend);
    else if (!queue_.empty())
        RaiseStatus(kTextDownload);
    else
        RaiseStatus(kTextReady);
}

namespace {

std::int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

DownloadRecord* QueueManager::FirstWaiting() {
    std::int64_t now = 0;
    std::int64_t earliest = 0;
    std::size_t held = 0;  // records passed over for their server's manners
    std::size_t start = 0;
    HeldFront& known = heldFront_;
    // Taken before looking: a look may itself change what the manners know (a robots.txt
    // that cannot be fetched), and then the next look starts from the front again.
    const std::uint64_t generation = manners_->Generation();
    if (known.valid && known.generation == generation && known.length <= queue_.size()) {
        if (known.earliest != 0) now = SteadyMs();
        if (known.earliest == 0 || now < known.earliest) {
            start = known.length;
            held = known.held;
            earliest = known.earliest;
        }
    }
    known.valid = false;
    DownloadRecord* found = nullptr;
    std::size_t index = start;
    if (held < kMaxHeldLooks) {
        for (auto it = queue_.begin() + static_cast<std::ptrdiff_t>(start); it != queue_.end(); ++it, ++index) {
            auto& r = *it;
            if (r.Busy()) continue;
            const std::int64_t notBefore = r.NotBeforeMs();
            if (notBefore != 0) {
                if (now == 0) now = SteadyMs();
                if (notBefore > now) {
                    if (earliest == 0 || notBefore < earliest) earliest = notBefore;
                    continue;
                }
            }
            if (ServerManners::Applies(r.Project())) {
                if (now == 0) now = SteadyMs();
                std::int64_t due = 0;
                if (manners_->Check(*r, now, due) == ServerManners::Gate::Wait) {
                    if (due != 0 && (earliest == 0 || due < earliest)) earliest = due;
                    // A long queue of one slow server is not searched to its end each time.
                    if (++held >= kMaxHeldLooks) {
                        ++index;
                        break;
                    }
                    continue;
                }
            }
            found = r.get();
            break;
        }
    }
    known = HeldFront{index, held, earliest, generation, true};
    if (found) return found;
    // Only records waiting to be tried again: wake up when the first is due.
    if (earliest != 0) ArmRetryTimer(earliest);
    return nullptr;
}

void QueueManager::ArmRetryTimer(std::int64_t dueMs) {
    if (stopping_) return;
    std::int64_t now = SteadyMs();
    if (retryTimerDueMs_ != 0 && retryTimerDueMs_ <= dueMs && retryTimerDueMs_ >= now) return;
    if (!retryTimer_) {
        retryTimer_ = std::make_unique<platform::Timer>([this] {
            retryTimerDueMs_ = 0;
            if (!stopping_ && !suspended_) FillConnections();
        });
    }
    retryTimerDueMs_ = dueMs;
    retryTimer_->Start(static_cast<int>(std::max<std::int64_t>(dueMs - now, 0)) + 1, true);
}

std::size_t QueueManager::RetryWaitingCount() const {
    std::int64_t now = SteadyMs();
    std::size_t n = 0;
    for (const auto& r : queue_)
        if (!r.Busy() && r.NotBeforeMs() > now) ++n;
    return n;
}

int QueueManager::SecondsToNextRetry() const {
    std::int64_t now = SteadyMs();
    std::int64_t earliest = 0;
    for (const auto& r : queue_) {
        const std::int64_t notBefore = r.NotBeforeMs();
        if (!r.Busy() && notBefore > now && (earliest == 0 || notBefore < earliest)) earliest = notBefore;
    }
    return earliest == 0 ? 0 : static_cast<int>((earliest - now + 999) / 1000);
}

std::vector<std::string> QueueManager::PagesRendering() const {
    return rendering_ ? rendering_->InBrowser() : std::vector<std::string>();
}

std::size_t QueueManager::PagesForBrowser() const { return rendering_ ? rendering_->Count() : 0; }

std::vector<std::unique_ptr<DownloadRecord>> QueueManager::PagesToRender() const {
    return rendering_ ? rendering_->Pages() : std::vector<std::unique_ptr<DownloadRecord>>();
}

net::DownloadConnection* QueueManager::FirstIdle() {
    if (rendering_ && rendering_->Backlogged()) return nullptr;  // downloads wait for the browser
    for (auto& c : pool_)
        if (!c->Busy) return c.get();
    return nullptr;
}

bool QueueManager::StartProject(store::Project& project) {
    auto rec = std::make_unique<DownloadRecord>();
    rec->URL = project.URL;
    rec->Img = true;
    rec->Lev = project.Lev;
    rec->Srv = true;
    rec->JavaClass = false;
    rec->Project = &project;
    rec->Busy = false;
    rec->IsStartAddress = true;
    ForgetJoinedServers(project);

    askedPasswords_.erase(project.IID);  // a new run asks again
    project.ThisWay = false;
    project.LimBSize = false;
    project.SrvImg = true;
    project.StateText = DownloadingText();
    project.QueuedCount = 0;
    project.DoneCount = 0;
    project.ReceivedBytes = 0;
    project.S200 = project.S304 = project.S400 = project.SErr = project.SAbr = 0;

    if (!Normalise(*rec)) return false;
    project.LastStart = store::NowDateTime();
    OpenArchive(project);
    manners_->BeginLogIn(project);
    if (project.Sitemaps) manners_->BeginSitemaps(project);
    AddRecord(std::move(rec), true, false);
    return true;
}

void QueueManager::AddRecord(std::unique_ptr<DownloadRecord> record, bool checkSeen, bool withPause) {
    if (!record) return;
    if (Dropping(record->Project)) return;  // the record is destroyed
    if (pendingCount_ != 0) ApplyPendingCount();
    const bool known = seen_.Contains(record->URL);
    if (known && checkSeen) {
        record.reset();
    } else if (!known && RefusedAsTrap(*record)) {
        record.reset();
    } else {
        if (!known) seen_.Insert(record->URL);
        store::Project* project = record->Project;
        if (PackedRecord::Packable(*record))
            queue_.emplace_back(PackedRecord::Pack(*record, lastContext_));
        else
            queue_.emplace_back(std::move(record));
        record.reset();
        if (project) IncQueued(*project);
        if (OnChange) OnChange(*this);
    }
    if (suspended_) return;
    DownloadRecord* next = FirstWaiting();
    if (!next) return;
    if (net::DownloadConnection* conn = FirstIdle()) {
        conn->Delay = withPause ? store::Options().Pause : 0;
        StartRecord(*next, *conn);
    }
    RaiseStatus(queue_.empty() ? kTextReady : kTextDownload);
}

bool QueueManager::RefusedAsTrap(const DownloadRecord& record) {
    const store::Project* project = record.Project;
    // The address the user gave is taken as it is.
    if (!project || !project->CrawlTraps || record.IsStartAddress) return false;
    const CrawlTraps::Verdict verdict = traps_.Check(*project, record.URL);
    if (verdict == CrawlTraps::Verdict::Take) return false;
    if (traps_.FirstHit(*project, verdict)) ReportMessage(CrawlTrapMessage(verdict, record.URL), false);
    return true;
}

std::unique_ptr<DownloadRecord> QueueManager::TakeFromQueue(DownloadRecord& record) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->Is(&record)) {
            // A busy record leaving the held front leaves the rest of it as it was.
            if (static_cast<std::size_t>(it - queue_.begin()) < heldFront_.length) {
                if (record.Busy)
                    --heldFront_.length;
                else
                    ForgetHeldFront();
            }
            std::unique_ptr<DownloadRecord> owned = it->Release();
            queue_.erase(it);
            return owned;
        }
    }
    return nullptr;
}

void QueueManager::StartRecord(DownloadRecord& record, net::DownloadConnection& conn) {
    ++startDepth_;
    StartRecordOnce(record, conn);
    --startDepth_;
    if (startDepth_ > 0) return;
    while (startWanted_ > 0) {
        --startWanted_;
        if (stopping_ || suspended_) break;
        DownloadRecord* next = FirstWaiting();
        net::DownloadConnection* idle = FirstIdle();
        if (!next || !idle) break;
        idle->Delay = store::Options().Pause;
        ++startDepth_;
        StartRecordOnce(*next, *idle);
        --startDepth_;
    }
    startWanted_ = 0;
}

void QueueManager::StartRecordOnce(DownloadRecord& record, net::DownloadConnection& conn) {
    store::Project* project = record.Project;
    record.Busy = true;
    record.ContentType.clear();
    record.Base.clear();

    if (project &&
        ((project->LimBNumber && project->DoneCount >= project->LimNumber) ||
         (project->LimBTSize && project->ReceivedBytes > static_cast<std::int64_t>(project->LimTSize) * 1024))) {
        // The Project reached a limit: the record is dropped uncounted.
        RecordFinished(record);
        return;
    }

    if (ServerManners::Applies(project)) {
        const std::string refusal = manners_->Refusal(record);
        if (!refusal.empty()) {
            ReportMessage(refusal, false);
            RecordFinished(record);
            return;
        }
        manners_->Started(record, SteadyMs());
    }

    conn.IfModifiedSince.clear();
    record.Conn = &conn;
    if (!captures_.empty()) captures_.erase(&record);  // left by an earlier record at this address
    // The temporary file is made when the first bytes of a body arrive (OpenBodyFile): most
    // answers of a link-dense site (404s, redirects, errors) bring no body that is kept.
    record.Temp.clear();
    if (record.DataFile) std::fclose(record.DataFile);
    record.DataFile = nullptr;
    record.BodyFileMade = false;

    bool exists = FileExists(record.FName);
    if (project && exists &&
        (project->FMGroup == 2 || (project->FMGroup == 3 && project->Lev - record.Lev > project->FM3Lev))) {
        // An existing file is taken as it is, like a "not modified" answer.
        conn.StatusCode = 304;
        conn.Complete = false;
        conn.ContentLength = 0;
        conn.Header.clear();
        OnDone(record, conn, net::DoneCode::Aborted);
        return;
    }

    // The file's directory is on the same file system and is cheaper to look up.
    std::int64_t free = freeSpace_.Free(record.Path.empty() ? record.FName : record.Path, totalReceived_);
    if (free >= 0 && free < static_cast<std::int64_t>(store::Options().DiskSpace) * 1048576) {
        // The record stays queued (not busy) until the stop destroys it.
        if (record.DataFile) {
            std::fclose(record.DataFile);
            record.DataFile = nullptr;
        }
        RemoveFile(record.Temp);
        record.Temp.clear();
        record.Busy = false;
        record.Conn = nullptr;
        ReportMessage("Not enough disk space: " + record.FName, true);
        return;
    }

    if (project && exists && (project->FMGroup == 0 || project->FMGroup == 3)) {
        std::string type, modified;
        if (LookupFileDescription(record.Path, record.RFile, type, modified)) {
            if (!(type == "text/html" && !FileExists(PrimaryName(record.FName)))) conn.IfModifiedSince = modified;
        }
    }

    const store::ProgramOptions& opt = store::Options();
    conn.SetURL(record.URL);
    ApplyConnectionOptions(conn, opt);
    // Only the pool keeps connections open for the next record.
    conn.KeepAlive = opt.KeepAlive;
    conn.Challenge = record.AuthChallenge;
    ChooseCredentials(record, conn.UserName, conn.Password);
    conn.PostBody.clear();
    conn.ExtraHeaders.clear();
    if (project) {
        const std::string cookies = ProjectCookies(project->IID).HeaderFor(record.URL, CookieClock());
        if (!cookies.empty()) conn.ExtraHeaders = "Cookie: " + cookies + "\r\n";
    }

    int limit = 0;
    if (project && project->LimBSize) limit = project->LimSize;
    if (record.Category && record.Category->Flag(store::CategoryFlag::SelectedSizesOnly) &&
        record.Category->Flag(store::CategoryFlag::MaxSizeOn))
        limit = record.Category->MaxSize;
    conn.SizeLimit = limit;

    DownloadRecord* rec = &record;
    conn.OnHeader = [this, rec](net::DownloadConnection& c) { OnHeader(*rec, c); };
    conn.OnData = [this, rec](net::DownloadConnection&, const char* block, std::size_t count) {
        OnData(*rec, block, count);
    };
    conn.OnDone = [this, rec](net::DownloadConnection& c, net::DoneCode code) { OnDone(*rec, c, code); };
    conn.Referer = record.Referer;
    BeginCapture(record, conn);
    if (!conn.Start(false)) {
        DropCapture(record, conn);
        conn.OnHeader = nullptr;
        conn.OnData = nullptr;
        conn.OnDone = nullptr;
        if (record.DataFile) {
            std::fclose(record.DataFile);
            record.DataFile = nullptr;
        }
        RemoveFile(record.Temp);
        record.Temp.clear();
        record.Busy = false;
        record.Conn = nullptr;
        RecordFinished(record);
    }
}

std::unique_ptr<DownloadRecord> QueueManager::RecordFinished(DownloadRecord& record) {
    // The record leaves the queue; the caller keeps it or lets it go.
    std::unique_ptr<DownloadRecord> owned = TakeFromQueue(record);
    if (record.Project) DecQueued(*record.Project);
    StartAnalysis();
    RaiseStatus(queue_.empty() ? kTextReady : kTextDownload);
    if (stopping_ || suspended_) return owned;
    if (pendingCount_ != 0) ApplyPendingCount();
    if (startDepth_ > 0) {
        // A start is under way further up: it takes the next record when it returns.
        ++startWanted_;
        return owned;
    }
    DownloadRecord* next = FirstWaiting();
    net::DownloadConnection* conn = FirstIdle();
    if (next && conn) {
        conn->Delay = store::Options().Pause;
        StartRecord(*next, *conn);
    }
    return owned;
}

void QueueManager::FillConnections() {
    // Woken by an event, or asked to look again: the whole queue is looked at once more.
    ForgetHeldFront();
    if (OnChange) OnChange(*this);
    if (rendering_) rendering_->StartWaiting();
    // Pages pile up faster than the browser renders them: downloads wait for it.
    const bool renderingBehind = rendering_ && rendering_->Backlogged();
    for (std::size_t i = 0; i < pool_.size() && !renderingBehind; ++i) {
        net::DownloadConnection& conn = *pool_[i];
        if (conn.Busy) continue;
        DownloadRecord* next = FirstWaiting();
        if (!next) break;
        conn.Delay = store::Options().Pause;
        StartRecord(*next, conn);
    }
    StartAnalysis();
}

void QueueManager::ApplyPendingCount() {
    int n = pendingCount_;
    if (n < 1) {
        pendingCount_ = 0;
        return;
    }
    std::size_t want = static_cast<std::size_t>(n);
    if (want > pool_.size()) {
        while (pool_.size() < want) {
            net::DownloadConnection& c = AddConnection();
            if (OnPoolChange) OnPoolChange(*this, c.Index, PoolChange::Added);
        }
        pendingCount_ = 0;
        FillConnections();
        return;
    }
    while (pool_.size() > want && !pool_.back()->Busy) {
        RetireConnection(std::move(pool_.back()));
        pool_.pop_back();
        if (OnPoolChange) OnPoolChange(*this, static_cast<int>(pool_.size()), PoolChange::Removed);
    }
    if (pool_.size() == want) pendingCount_ = 0;
}

void QueueManager::RetireConnection(std::unique_ptr<net::DownloadConnection> conn) {
    // The connection may be reporting to us right now (its done event started this): it is
    // destroyed once the current event is over.
    conn->OnHeader = nullptr;
    conn->OnData = nullptr;
    conn->OnStatus = nullptr;
    retired_.push_back(std::move(conn));
    std::weak_ptr<std::atomic<bool>> alive = alive_;
    platform::Post([this, alive] {
        auto a = alive.lock();
        if (a && a->load()) retired_.clear();
    });
}

void QueueManager::SetConnectionCount(int n) {
    if (n < 1 || n > 100) return;
    pendingCount_ = n;
    if (static_cast<std::size_t>(n) == pool_.size())
        pendingCount_ = 0;
    else
        ApplyPendingCount();
    StartAnalysis();
}

void QueueManager::SetSuspended(bool flag) {
    suspended_ = flag;
    if (!flag) FillConnections();
    RaiseQueueState();
}

void QueueManager::WaitForParser(const std::function<bool()>& stillWaiting) {
    // The analysis thread may be waiting for a call into this thread: answer those calls
    // while waiting, so that neither side blocks the other.
    while (stillWaiting()) {
        RunPendingCalls();
        if (!stillWaiting()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void QueueManager::StopAll() {
    // Before stopping_: records dropped from here on were never seen.
    ++seenGeneration_;
    stoppingAll_ = true;
    stopping_ = true;
    if (rendering_) rendering_->Cancel(nullptr);
    if (retryTimer_) retryTimer_->Stop();
    retryTimerDueMs_ = 0;
    manners_->Cancel(nullptr);
    for (std::size_t i = 0; i < pool_.size(); ++i)
        if (pool_[i]->Busy) pool_[i]->Abort();
    ForgetHeldFront();
    QueueList left;
    left.swap(queue_);
    for (auto& entry : left) {
        if (entry.IsPacked()) {
            if (store::Project* project = entry.Project()) DecQueued(*project);
            continue;
        }
        DownloadRecord* r = entry.get();
        // A record whose connection did not report back is closed here.
        if (r->DataFile) {
            std::fclose(r->DataFile);
            r->DataFile = nullptr;
        }
        if (r->Busy) {
            RemoveFile(r->Temp);
            r->Temp.clear();
        }
        if (r->Project) DecQueued(*r->Project);
    }
    left.clear();
    RecordList pending;
    pending.swap(analysis_);
    if (thread_)
        for (auto& r : thread_->TakeBackWaiting()) pending.push_back(std::move(r));
    for (auto& r : pending) DropUnanalysed(std::move(r));
    pending.clear();
    // The record being analysed finishes; its results are acted on (and its found records
    // dropped) while the queue is still stopping.
    WaitForParser([this] { return thread_ && !thread_->Finished(); });
    stopping_ = false;
    stoppingAll_ = false;
    CloseArchives();
    if (pendingCount_ != 0) ApplyPendingCount();
}

void QueueManager::DropUnanalysed(std::unique_ptr<DownloadRecord> record) {
    RemoveFile(record->Temp);
    record->Temp.clear();
    if (record->Project) {
        if (record->Project->ProcessingCount > 0) --record->Project->ProcessingCount;
        NotifyIfFinished(*record->Project);
    }
}

void QueueManager::StopProject(store::Project& project) {
    ++seenGeneration_;
    stoppingProject_ = &project;
    stopping_ = true;
    manners_->Cancel(&project);
    if (rendering_) rendering_->Cancel(&project);
    // Busy records of the Project: aborting their connections takes them out of the queue.
    for (std::size_t i = 0; i < pool_.size(); ++i) {
        net::DownloadConnection& conn = *pool_[i];
        if (!conn.Busy) continue;
        for (auto& r : queue_) {
            if (r.Busy() && r->Conn == &conn && r->Project == &project) {
                conn.Abort();
                break;
            }
        }
    }
    QueueList kept;
    for (auto& r : queue_) {
        if (r.Project() != &project) {
            kept.push_back(std::move(r));
        } else if (r.Busy()) {
            // Its connection did not report back: close it here.
            if (r->DataFile) {
                std::fclose(r->DataFile);
                r->DataFile = nullptr;
            }
            RemoveFile(r->Temp);
            if (project.QueuedCount > 0) --project.QueuedCount;
        } else {
            if (project.QueuedCount > 0) --project.QueuedCount;
        }
    }
    queue_.swap(kept);
    ForgetHeldFront();
    kept.clear();  // the Project's records go now
    // Records the thread has not started go back to the front of the list, in order.
    std::vector<std::unique_ptr<DownloadRecord>> waiting;
    if (thread_) waiting = thread_->TakeBackWaiting();
    for (auto& r : analysis_) waiting.push_back(std::move(r));
    RecordList keptAnalysis;
    for (auto& r : waiting) {
        if (r->Project != &project) {
            keptAnalysis.push_back(std::move(r));
        } else {
            RemoveFile(r->Temp);
            if (project.ProcessingCount > 0) --project.ProcessingCount;
            r.reset();
        }
    }
    analysis_.swap(keptAnalysis);
    CountersChanged(project);
    // While the thread finishes the Project's record, the others' records are started and
    // taken again.
    stopping_ = false;
    WaitForParser([this, &project] { return thread_ && thread_->Holds(&project); });
    stoppingProject_ = nullptr;
    std::erase_if(captures_, [&project](const auto& entry) { return entry.second.project == &project; });
    CloseArchive(project);
    if (pendingCount_ != 0) ApplyPendingCount();
    FillConnections();
    StartAnalysis();
}

void QueueManager::ReportMessage(const std::string& text, bool stop) {
    if (OnStatus) OnStatus(*this, text, MessageKind::Analysis);
    if (stop) StopAll();
}

void QueueManager::QueueForAnalysis(std::unique_ptr<DownloadRecord> record, const std::string& source,
                                    const std::string& target, bool deleteTemp) {
    record->AnalysisSource = source;
    record->AnalysisTarget = target;
    record->AnalysisDeletesTemp = deleteTemp;
    if (ArchiveOf(record->Project)) record->Outlinks = std::make_unique<std::vector<std::string>>();
    analysis_.push_back(std::move(record));
    StartAnalysis();
}

void QueueManager::StartAnalysis() {
    // The threads are given the next records while they still work on some, so that they
    // need not wait for this thread between pages.
    constexpr std::size_t kGivenAhead = 16;
    while (!analysis_.empty()) {
        if (thread_ && thread_->Outstanding() >= kGivenAhead) return;
        if (store::Options().LowMemory && queue_.size() >= 1000) return;
        std::unique_ptr<DownloadRecord> record = std::move(analysis_.front());
        analysis_.pop_front();
        if (!thread_)
            thread_ = std::make_unique<AnalysisThread>(
                *this, analysisThreads_ > 0 ? analysisThreads_ : DefaultAnalysisThreads());
        thread_->Give(std::move(record), store::Options().Priority);
        RaiseStatus(std::string(kTextParsing) + " (" + std::to_string(analysis_.size()) + ")");
    }
}

void QueueManager::OnAnalysedRecord(std::unique_ptr<DownloadRecord> record) {
    RecordOutlinks(*record);
    // Whatever the analysis left of the download's temporary file goes now.
    RemoveFile(record->Temp);
    record->Temp.clear();
    if (store::Project* p = record->Project) {
        if (p->ProcessingCount > 0) --p->ProcessingCount;
        NotifyIfFinished(*p);
    }
    if (OnItemStored) OnItemStored(*this, *record);
}

void QueueManager::AnalysisFinished(std::unique_ptr<DownloadRecord> record, std::string stopText, FoundBatch found) {
    // Runs on the analysis thread; everything below happens on the main thread, in the order
    // of the messages (found records, analysed record, stop request, idle).
    struct Results {
        std::unique_ptr<DownloadRecord> record;
        std::string stopText;
        FoundBatch found;
    };
    auto results = std::make_shared<Results>(Results{std::move(record), std::move(stopText), std::move(found)});
    PostToMain([this, results] {
        AddFoundRecords(results->found);
        OnAnalysedRecord(std::move(results->record));
        if (thread_) thread_->MarkDone();
        if (!results->stopText.empty()) ReportMessage(results->stopText, true);
        RaiseQueueState();
        StartAnalysis();
    });
}

void QueueManager::AddFoundRecords(std::vector<std::unique_ptr<DownloadRecord>>& found) {
    for (auto& record : found) {
        if (stoppingAll_) break;
        if (Seen(record->URL)) continue;
        AddRecord(std::move(record), false, true);
    }
    found.clear();
}

void QueueManager::HandOverFound(FoundBatch batch) {
    constexpr std::size_t kMaxWaiting = 8;
    auto handed = std::make_shared<FoundBatch>(std::move(batch));
    {
        std::lock_guard<std::mutex> lock(handMutex_);
        ++handedWaiting_;
    }
    PostToMain([this, handed] {
        AddFoundRecords(*handed);
        {
            std::lock_guard<std::mutex> lock(handMutex_);
            --handedWaiting_;
        }
        handTaken_.notify_all();
    });
    std::unique_lock<std::mutex> lock(handMutex_);
    // A stop drops what is handed over; the short steps notice it.
    while (handedWaiting_ > kMaxWaiting && !stoppingAll_.load())
        handTaken_.wait_for(lock, std::chrono::milliseconds(10));
}

void QueueManager::AddFoundRecords(FoundBatch& batch) {
    AddFoundRecords(batch.found);
    // Seen in this generation: already in the seen-address list, nothing to look up.
    if (batch.knownGeneration != seenGeneration_.load()) AddFoundRecords(batch.known);
    batch.known.clear();
}

void QueueManager::FlushAnalysis() {
    while (!analysis_.empty()) {
        std::unique_ptr<DownloadRecord> record = std::move(analysis_.front());
        analysis_.pop_front();
        RaiseStatus(std::string(kTextParsing) + " (" + std::to_string(analysis_.size()) + ")");
        std::string stopText = RunAnalysis(*this, *record);
        if (store::Project* p = record->Project) {
            if (p->ProcessingCount > 0) --p->ProcessingCount;
            NotifyIfFinished(*p);
        }
        if (OnItemStored) OnItemStored(*this, *record);
        RemoveFile(record->Temp);
        record->Temp.clear();
        record.reset();
        if (!stopText.empty()) ReportMessage(stopText, true);
    }
    RaiseQueueState();
}

void QueueManager::FinishAnalysis() {
    // The thread's results come back as calls to this thread, and each may give the thread
    // the next waiting record; what it is not given is analysed here.
    for (;;) {
        WaitForParser([this] { return thread_ && !thread_->Finished(); });
        if (analysis_.empty()) break;
        FlushAnalysis();
    }
}

void QueueManager::CallOnMain(std::function<void()> fn) {
    if (platform::IsMainThread()) {
        fn();
        return;
    }
    auto call = std::make_shared<PendingCall>();
    call->fn = std::move(fn);
    QueueCall(call);
    std::unique_lock<std::mutex> lock(call->m);
    call->cv.wait(lock, [&] { return call->done; });
}

void QueueManager::PostToMain(std::function<void()> fn) {
    auto call = std::make_shared<PendingCall>();
    call->fn = std::move(fn);
    QueueCall(call);
}

void QueueManager::QueueCall(std::shared_ptr<PendingCall> call) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(callsMutex_);
        // One wake-up serves every call queued before the main thread gets to them.
        wake = calls_.empty();
        calls_.push_back(std::move(call));
    }
    if (!wake) return;
    std::weak_ptr<std::atomic<bool>> alive = alive_;
    platform::Post([this, alive] {
        auto a = alive.lock();
        if (a && a->load()) RunPendingCalls();
    });
}

void QueueManager::RunPendingCalls() {
    for (;;) {
        std::shared_ptr<PendingCall> call;
        {
            std::lock_guard<std::mutex> lock(callsMutex_);
            if (calls_.empty()) return;
            call = calls_.front();
            calls_.pop_front();
        }
        call->fn();
        {
            std::lock_guard<std::mutex> lock(call->m);
            call->done = true;
        }
        call->cv.notify_all();
    }
}

}  // namespace qm::engine
