// Rendering stored pages in the headless browser and queuing what the browser found.
#include "engine/page_rendering.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "engine/credential_scope.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/parser_thread.h"
#include "engine/project_cookies.h"
#include "engine/queue_manager.h"
#include "engine/stored_files.h"
#include "net/http_client.h"
#include "platform/event_loop.h"
#include "render/browser.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

const char* const kTextRendering = "Rendering";

namespace {

bool IsWebAddress(const std::string& url) {
    auto starts = [&](const char* p) {
        const std::size_t n = std::char_traits<char>::length(p);
        return url.size() >= n && std::equal(p, p + n, url.begin(), [](char a, char b) {
                   return a == std::tolower(static_cast<unsigned char>(b));
               });
    };
    return starts("http://") || starts("https://");
}

bool IsHtml(const std::string& contentType) {
    std::string lower = contentType.substr(0, 40);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.find("text/html") != std::string::npos || lower.find("application/xhtml") != std::string::npos;
}

// An address as a quoted attribute value: the browser hands them over escaped already, so
// one with a quote or a space in it is not an address it made.
bool Quotable(const std::string& url) { return url.find_first_of("\"<> \t\r\n") == std::string::npos; }

std::unique_ptr<DownloadRecord> CopyOfPage(const DownloadRecord& page) {
    auto copy = std::make_unique<DownloadRecord>();
    copy->Project = page.Project;
    copy->URL = page.URL;
    copy->Img = page.Img;
    copy->Lev = page.Lev;
    copy->Srv = page.Srv;
    copy->FName = page.FName;
    copy->Path = page.Path;
    copy->RFile = page.RFile;
    copy->Base = page.Base;
    copy->InitWay = page.InitWay;
    copy->Depth = page.Depth;
    copy->IsImage = page.IsImage;
    copy->URLPsw = page.URLPsw;
    copy->StepsBeyondLevel = page.StepsBeyondLevel;
    copy->ContentType = "text/html";
    return copy;
}

// A host name or address, and nothing the browser's proxy rules would read as more rules.
bool ProxyHostOk(const std::string& host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':' || c == '[' || c == ']';
    });
}

// The browser goes through the proxy the program's own connections use.
render::BrowserSettings BrowserSettingsFrom(const store::ProgramOptions& options) {
    render::BrowserSettings settings;
    const char* scheme = options.ProxyType == 1 ? "http://" : options.ProxyType == 2 ? "socks4://" : nullptr;
    if (scheme && ProxyHostOk(options.ProxyAddr))
        settings.proxyServer = scheme + options.ProxyAddr + ":" + std::to_string(options.ProxyPort);
    return settings;
}

render::LogIn ProxyLogIn() {
    render::LogIn login;
    login.user = net::DownloadConnection::ProxyUser;
    login.password = net::DownloadConnection::ProxyPassword;
    login.goesTo = [](const std::string&) { return true; };  // asked by the proxy itself
    return login;
}

// The Project's user name and password, for its own servers only, when it answers
// challenges by itself.
render::LogIn SiteLogIn(const store::Project& project) {
    render::LogIn login;
    if (project.pswMethod != 0 || project.User.empty()) return login;
    login.user = project.User;
    login.password = project.Psw;
    login.goesTo = [start = project.URL](const std::string& url) { return CredentialsMayFollow(start, url); };
    return login;
}

}  // namespace

struct PageRendering::Job {
    std::uint64_t id = 0;
    std::unique_ptr<DownloadRecord> page;  // what the found links need of the page
    render::RenderRequest request;
    std::atomic<bool> cancel{false};
    std::thread thread;
};

PageRendering::PageRendering(QueueManager& queue)
    : queue_(queue), idleCheck_(std::make_unique<platform::Timer>([this] { CloseBrowserWhenIdle(); })) {}

PageRendering::~PageRendering() { Cancel(nullptr); }

bool PageRendering::Wanted(const DownloadRecord& record, int status) const {
    if (browserMissing_ || !record.Project || !record.Project->RenderPages) return false;
    if (status != 200 && status != 304) return false;
    // A 304 answer has no type: the stored page's is looked up later.
    return IsWebAddress(record.URL) && (status == 304 || IsHtml(record.ContentType));
}

void PageRendering::Add(const DownloadRecord& record) {
    if (!IsHtml(record.ContentType) || browserMissing_) return;
    // The rendering is part of the page's processing: the Project is not finished before it.
    if (store::Project* p = record.Project) ++p->ProcessingCount;
    waiting_.push_back(CopyOfPage(record));
    StartWaiting();
}

void PageRendering::StartWaiting() {
    if (queue_.Stopping() || queue_.Suspended()) return;
    while (!waiting_.empty() && jobs_.size() < std::max<std::size_t>(1, queue_.PoolSize())) {
        if (!EnsureBrowser()) {
            // Without a browser the pages stay as their servers sent them.
            while (!waiting_.empty()) {
                store::Project* project = waiting_.front()->Project;
                waiting_.pop_front();
                Done(project);
            }
            return;
        }
        std::unique_ptr<DownloadRecord> page = std::move(waiting_.front());
        waiting_.pop_front();
        StartJob(std::move(page));
    }
}

std::vector<std::string> PageRendering::InBrowser() const {
    std::vector<std::string> urls;
    for (const auto& [id, job] : jobs_) urls.push_back(job->request.url);
    return urls;
}

std::vector<std::unique_ptr<DownloadRecord>> PageRendering::Pages() const {
    std::vector<std::unique_ptr<DownloadRecord>> pages;
    for (const auto& [id, job] : jobs_) pages.push_back(CopyOfPage(*job->page));
    for (const auto& page : waiting_) pages.push_back(CopyOfPage(*page));
    return pages;
}

bool PageRendering::EnsureBrowser() {
    if (browser_ && browser_->Running()) return true;
    if (browserMissing_) return false;
    // A browser that ended on its own is started again once its renderings are over.
    if (browser_ && !jobs_.empty()) return false;
    for (std::thread& t : ended_)
        if (t.joinable()) t.join();
    ended_.clear();
    ended_jobs_.clear();
    {
        std::lock_guard<std::mutex> lock(contextsMutex_);
        contexts_.clear();
    }
    browser_ = std::make_unique<render::Browser>();
    std::string error;
    if (!browser_->Start(BrowserSettingsFrom(store::Options()), error)) {
        browser_.reset();
        browserMissing_ = true;
        queue_.ReportMessage("Pages are not rendered: " + error + "; pages are stored as their servers send them",
                             false);
        return false;
    }
    idleCheck_->Start(2000);
    return true;
}

void PageRendering::StartJob(std::unique_ptr<DownloadRecord> page) {
    auto job = std::make_unique<Job>();
    job->id = nextId_++;
    job->page = std::move(page);
    job->request.url = job->page->URL;
    job->request.userAgent = net::DownloadConnection::UserAgent;
    job->request.timeoutMs = std::max(1000, store::Options().TimeOut);
    job->request.proxy = ProxyLogIn();
    if (store::Project* p = job->page->Project) {
        job->request.cookies = ProjectCookies(p->IID).Cookies();
        job->request.site = SiteLogIn(*p);
    }
    Report(std::string(kTextRendering) + " " + job->request.url, net::StatusKind::Connection);
    Job& j = *job;
    jobs_[job->id] = std::move(job);
    j.thread = std::thread([this, &j] { Run(j); });
}

void PageRendering::Run(Job& job) {
    render::RenderResult result;
    std::string error;
    if (!browser_->WaitUntilReady(error)) {
        result.error = error;
    } else {
        job.request.browserContext = ContextOf(job.page->Project);
        result = render::RenderPage(browser_->Client(), job.request, job.cancel);
    }
    if (job.cancel) return;  // ended early: nobody waits for the result
    const std::uint64_t id = job.id;
    std::weak_ptr<bool> alive = alive_;
    queue_.PostToMain([this, alive, id, result = std::move(result)]() mutable {
        if (alive.lock()) Finished(id, std::move(result));
    });
}

std::string PageRendering::ContextOf(const store::Project* project) {
    // One context per Project: its pages share cookies and cache, as one user's tabs do.
    std::lock_guard<std::mutex> lock(contextsMutex_);
    auto it = contexts_.find(project);
    if (it != contexts_.end()) return it->second;
    const render::CommandAnswer a = browser_->Client().Call("Target.createBrowserContext");
    if (!a.ok) return {};  // the page gets a context of its own
    const std::string id = a.result.value("browserContextId").toString().toStdString();
    contexts_[project] = id;
    return id;
}

void PageRendering::Finished(std::uint64_t id, render::RenderResult result) {
    auto it = jobs_.find(id);
    if (it == jobs_.end()) return;  // cancelled meanwhile
    std::unique_ptr<Job> job = std::move(it->second);
    jobs_.erase(it);
    if (job->thread.joinable()) job->thread.join();
    store::Project* project = job->page->Project;
    const std::string& url = job->request.url;
    if (!queue_.Dropping(project)) {
        if (!result.ok) {
            queue_.ReportMessage("Rendering of " + url + " failed: " + result.error, false);
        } else {
            if (result.timedOut)
                queue_.ReportMessage("Rendering of " + url + " timed out; the links seen so far are followed", false);
            HandOver(*job, result);
        }
    }
    Report("Rendered " + url + ": " + std::to_string(result.requests.size()) + " requests, " +
               std::to_string(result.anchors.size()) + " links",
           net::StatusKind::TransactionEnd);
    Done(project);
    StartWaiting();
    if (!queue_.Stopping() && !queue_.Suspended()) queue_.FillConnections();
    CloseBrowserWhenIdle();
}

void PageRendering::Done(store::Project* project) {
    if (!project) return;
    if (project->ProcessingCount > 0) --project->ProcessingCount;
    NotifyIfFinished(*project);
}

void PageRendering::Report(const std::string& text, net::StatusKind kind) {
    if (queue_.OnRenderStatus) queue_.OnRenderStatus(queue_, text, kind);
}

void PageRendering::HandOver(Job& job, const render::RenderResult& result) {
    // The browser's findings, written as the tags that stand for them, go through the
    // page's own analysis: the same admission, level and naming rules as its other links.
    std::string doc = "<html><body>\n";
    for (const std::string& url : result.requests)
        if (url != job.request.url && Quotable(url)) doc += "<img src=\"" + url + "\">\n";
    for (const std::string& url : result.anchors)
        if (Quotable(url)) doc += "<a href=\"" + url + "\"></a>\n";
    doc += "</body></html>\n";
    const std::string source = CreateTemporaryFile();
    if (source.empty()) return;
    if (std::FILE* f = std::fopen(source.c_str(), "wb")) {
        const bool written = std::fwrite(doc.data(), 1, doc.size(), f) == doc.size();
        if (std::fclose(f) == 0 && written) {
            DownloadRecord& page = *job.page;
            page.AnalysisSource = source;
            page.AnalysisTarget.clear();
            page.AnalysisDeletesTemp = false;
            const std::string stop = RunAnalysis(queue_, page);
            if (!stop.empty()) queue_.PostToMain([q = &queue_, stop] { q->ReportMessage(stop, true); });
        }
    }
    RemoveFile(source);
}

void PageRendering::Cancel(const store::Project* project) {
    std::deque<std::unique_ptr<DownloadRecord>> kept;
    for (auto& page : waiting_) {
        if (!project || page->Project == project)
            Done(page->Project);
        else
            kept.push_back(std::move(page));
    }
    waiting_.swap(kept);
    std::vector<std::uint64_t> ids;
    for (const auto& [id, job] : jobs_)
        if (!project || job->page->Project == project) ids.push_back(id);
    for (std::uint64_t id : ids) {
        auto it = jobs_.find(id);
        std::unique_ptr<Job> job = std::move(it->second);
        jobs_.erase(it);
        job->cancel = true;
        if (job->thread.joinable()) ended_.push_back(std::move(job->thread));
        // The thread still reads the job: it is kept until the thread is joined.
        Done(job->page->Project);
        ended_jobs_.push_back(std::move(job));
    }
    if (!project || Count() == 0) CloseBrowser();
}

void PageRendering::CloseBrowserWhenIdle() {
    if (Count() == 0 && queue_.Idle()) CloseBrowser();
}

void PageRendering::CloseBrowser() {
    if (!jobs_.empty()) return;
    idleCheck_->Stop();
    // Waiting commands fail at once, so the threads of ended renderings end quickly.
    if (browser_) browser_->Client().Shutdown();
    for (std::thread& t : ended_)
        if (t.joinable()) t.join();
    ended_.clear();
    ended_jobs_.clear();
    browser_.reset();
    std::lock_guard<std::mutex> lock(contextsMutex_);
    contexts_.clear();
}

}  // namespace qm::engine
