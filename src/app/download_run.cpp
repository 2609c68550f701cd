// A download run: start-up of the engine, Projects from command-line words, progress,
// finishing times, site maps and saving.
#include "app/download_run.h"

#include <chrono>

#include "app/command_line.h"
#include "app/project_lookup.h"
#include "app/session.h"
#include "app/units.h"
#include "engine/connection_setup.h"
#include "engine/get_rec.h"
#include "engine/queue_file.h"
#include "engine/queue_manager.h"
#include "engine/site_map.h"
#include "engine/stored_files.h"
#include "net/http_client.h"
#include "net/sockets.h"
#include "platform/event_loop.h"
#include "store/object_stream.h"
#include "store/options.h"
#include "store/project.h"
#include "store/string_list.h"
#include "store/ui_messages.h"

#if __has_include("analysis/analysis.h")
#include "analysis/analysis.h"
#define QM_HAVE_ANALYSIS 1
#endif

namespace qm::app {

DownloadRun::DownloadRun(Session& session, RunSettings settings) : session_(session), settings_(std::move(settings)) {
    platform::InitEventLoop();
    net::NetStartup();
    const store::ProgramOptions& opt = store::Options();
    engine::ApplySharedConnectionOptions(opt);
#ifdef QM_HAVE_ANALYSIS
    analysis::InstallAnalysis();
#endif
    if (!settings_.message) settings_.message = [](const std::string&) {};
    queue_ = std::make_unique<engine::QueueManager>(opt.HTTPCount);
    queue_->OnItemStored = [this](engine::QueueManager&, engine::DownloadRecord& record) {
        // Only files that are really there belong to the map (a page followed only for its
        // links is not stored).
        if (record.Project && engine::FileExists(record.FName)) engine::AddToMap(*record.Project, record.FName);
        if (OnFileStored) OnFileStored(record);
    };
    queue_->OnStatus = [this](engine::QueueManager&, const std::string& text, engine::MessageKind kind) {
        if (OnQueueStatus)
            OnQueueStatus(text, kind);
        else if (kind == engine::MessageKind::Analysis)
            settings_.message(text);
    };
    queue_->OnConnStatus = [this](engine::QueueManager&, net::DownloadConnection& conn, const std::string& text,
                                  net::StatusKind kind) {
        if (OnConnectionStatus)
            OnConnectionStatus(conn.Index, text, engine::MessageKindOf(kind));
        else if (settings_.log)
            settings_.message("HTTP" + std::to_string(conn.Index) + ": " + text);
    };
    queue_->OnRenderStatus = [this](engine::QueueManager&, const std::string& text, net::StatusKind kind) {
        if (OnConnectionStatus)
            OnConnectionStatus(kBrowserLine, text, engine::MessageKindOf(kind));
        else if (settings_.log)
            settings_.message(text);
    };
    queue_->OnPoolChange = [this](engine::QueueManager&, int number, engine::PoolChange change) {
        if (OnPoolChange) OnPoolChange(number, change);
    };
}

DownloadRun::~DownloadRun() {
    queue_.reset();
    for (store::Project* p : started_) p->OnProjectChange = nullptr;
    net::NetShutdown();
}

engine::QueueManager& DownloadRun::Queue() { return *queue_; }

void DownloadRun::HookProject(store::Project& project) {
    project.OnProjectChange = [](store::Project& p, store::ProjectChange change, std::int64_t) {
        if (change == store::ProjectChange::Finished) p.LastEnd = store::NowDateTime();
    };
}

bool DownloadRun::Start(store::Project& project, std::string& why) {
    if (project.QueuedCount > 0 || project.ProcessingCount > 0) {
        why = "Project '" + project.Caption + "' is downloading already";
        return false;
    }
    return Restart(project, why);
}

bool DownloadRun::Restart(store::Project& project, std::string& why) {
    HookProject(project);
    queue_->ClearSeen();
    if (!queue_->StartProject(project)) {
        why = "Project '" + project.Caption + "' could not be started: its address " + project.URL + " is not taken";
        return false;
    }
    bool known = false;
    for (store::Project* p : started_)
        if (p == &project) known = true;
    if (!known) started_.push_back(&project);
    return true;
}

void DownloadRun::StopProject(store::Project& project) { queue_->StopProject(project); }
void DownloadRun::ForgetProject(store::Project& project) {
    queue_->StopProject(project);
    project.OnProjectChange = nullptr;
    std::erase(started_, &project);
}
bool DownloadRun::Suspended() const { return queue_->Suspended(); }
void DownloadRun::SetSuspended(bool suspended) { queue_->SetSuspended(suspended); }

bool DownloadRun::StartArg(const std::string& arg, std::string& why) {
    std::string lower = store::LowerCase(arg);
    if (lower == "/close" || lower == "/shutdown") return true;
    const std::vector<store::Project*> projects = MatchCommandWord(session_.Tree(), arg, &why);
    if (projects.empty()) return false;
    bool any = false;
    std::string failures;
    for (store::Project* p : projects) {
        std::string one;
        if (Start(*p, one))
            any = true;
        else
            failures += (failures.empty() ? "" : "; ") + one;
    }
    if (!any)
        why = failures;
    else if (!failures.empty())
        settings_.message(failures);
    return any;
}

bool DownloadRun::Idle() const { return queue_->Idle(); }

void DownloadRun::Adopt(store::Project& project) {
    HookProject(project);
    for (store::Project* p : started_)
        if (p == &project) return;
    started_.push_back(&project);
}

void DownloadRun::AskPasswordsWith(PasswordQuestion ask) {
    if (!ask) {
        queue_->OnPasswordWanted = nullptr;
        return;
    }
    queue_->OnPasswordWanted = [ask = std::move(ask)](engine::QueueManager&, store::Project& project,
                                                      const std::string& url, const std::string& realm,
                                                      std::string& user, std::string& password) {
        return ask(project, url, realm, user, password);
    };
}

bool DownloadRun::SuspendTo(const std::string& file, std::string& error) {
    return engine::SuspendToFile(*queue_, file, error);
}

bool DownloadRun::ResumeFrom(const std::string& file, engine::ResumeReport& report) {
    const bool read = engine::ResumeFromFile(*queue_, session_.Tree(), file, report);
    for (const auto& record : queue_->Queue())
        if (record.Project()) Adopt(*record.Project());
    return read;
}

bool DownloadRun::RunUntilIdle(std::atomic<bool>& stop) {
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now() + std::chrono::seconds(1);
    bool idle = false;
    bool triedFile = false;
    suspendedToFile_ = false;
    while (true) {
        if (platform::RunUntil([&] { return Idle() || stop.load(); }, 100)) {
            idle = Idle() && !stop.load();
            if (!idle && !settings_.suspendTo.empty() && !triedFile) {
                triedFile = true;
                std::string error;
                if (SuspendTo(settings_.suspendTo, error)) {
                    suspendedToFile_ = true;
                    settings_.message("The queue was written to " + settings_.suspendTo);
                } else {
                    // The transfers go on; a second stop request discards the queue.
                    settings_.message("The queue could not be written to " + settings_.suspendTo + ": " + error +
                                      "; downloading goes on (stop again to discard the queue)");
                    stop.store(false);
                    continue;
                }
            }
            break;
        }
        if (Clock::now() >= next) {
            next += std::chrono::seconds(1);
            Tick();
        }
    }
    if (!idle) {
        queue_->StopAll();
        // Let the last messages of the analysis thread arrive.
        platform::RunUntil([&] { return Idle(); }, 2000);
    }
    return idle;
}

void DownloadRun::Tick() {
    speed_.Add(queue_->TotalReceived());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    progress_.SampleConnections(seconds, ConnectionSamples());
    progress_.SampleRendering(queue_->PagesRendering());
    progress_.SampleProjects(seconds, ProjectSamples());
    if (settings_.progress) settings_.progress(ProgressLine());
}

std::string RetryWaitText(const engine::QueueManager& queue) {
    std::size_t waiting = queue.RetryWaitingCount();
    if (waiting == 0) return std::string();
    return "  waiting to retry: " + std::to_string(waiting) + " (next in " +
           std::to_string(queue.SecondsToNextRetry()) + " s)";
}

std::string TimeLeftText(const ProgressTracker& progress) {
    if (!progress.Downloading()) return std::string();
    const RunProgress& all = progress.Overall();
    if (all.growing) return "  (" + store::UIMessage(store::UIText::QueueGrowing) + ")";
    if (all.secondsLeft < 0) return std::string();
    return "  " + FormatDuration(all.secondsLeft) + " " + store::UIMessage(store::UIText::TimeLeft);
}

// Pages in the browser or waiting for it: their downloads are done, yet the run is not.
std::string RenderingText(const engine::QueueManager& queue) {
    const std::size_t pages = queue.PagesForBrowser();
    if (pages == 0) return std::string();
    return "  " + store::UIMessage(store::UIText::Rendering) + ": " + std::to_string(pages);
}

std::string DownloadRun::ProgressLine() const {
    long long done = 0, bytes = 0;
    for (const store::Project* p : started_) {
        done += p->DoneCount;
        bytes += p->ReceivedBytes;
    }
    const long long speed = speed_.BytesPerSecond();
    return store::UIMessage(store::UIText::Downloaded) + ": " + std::to_string(done) + " " +
           store::UIMessage(store::UIText::Files) + "  " + store::UIMessage(store::UIText::Queue) + ": " +
           std::to_string(queue_->QueueCount()) + "  " + store::UIMessage(store::UIText::Size) + ": " +
           FormatSize(bytes) + "  " + store::UIMessage(store::UIText::Speed) + ": " + FormatRate(speed) +
           RenderingText(*queue_) + TimeLeftText(progress_) + RetryWaitText(*queue_);
}

std::vector<ProjectCounts> DownloadRun::ProjectSamples() const {
    std::vector<ProjectCounts> out;
    for (const store::Project* p : started_)
        out.push_back({p, p->DoneCount, p->QueuedCount, p->ProcessingCount, p->ReceivedBytes});
    return out;
}

std::vector<ConnectionSample> DownloadRun::ConnectionSamples() {
    std::vector<ConnectionSample> out;
    for (std::size_t i = 0; i < queue_->PoolSize(); ++i) {
        const net::DownloadConnection& c = queue_->Connection(i);
        ConnectionSample s;
        s.index = static_cast<int>(i);
        s.busy = c.Busy;
        if (c.Busy) {
            s.address = c.GetURL();
            s.length = c.ContentLength;
            s.remaining = c.Remaining;
            s.received = c.Received;
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::string DownloadRun::SummaryLine(const store::Project& p) {
    return p.Caption + ": S200=" + std::to_string(p.S200) + " S304=" + std::to_string(p.S304) +
           " S400=" + std::to_string(p.S400) + " SErr=" + std::to_string(p.SErr) + " SAbr=" + std::to_string(p.SAbr);
}

bool SaveSiteMaps(const std::vector<store::Project*>& projects, std::string& error) {
    if (engine::SaveMaps(projects)) return true;
    bool ok = true;
    for (store::Project* p : projects)
        if (p->SiteMapModified()) {
            ok = false;
            error = "the site map of '" + p->Caption + "' could not be written";
        }
    return ok;
}

bool DownloadRun::Save(std::string& error) {
    std::string mapError;
    const bool mapsSaved = SaveSiteMaps(started_, mapError);
    if (!session_.Save(error)) return false;
    if (!mapsSaved) error = mapError;
    return mapsSaved;
}

}  // namespace qm::app
