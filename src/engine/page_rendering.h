#pragma once
// PageRendering: pages of Projects that render their pages are also opened in the headless
// browser, from their original address. What the browser fetched for a page, and the links
// of the rendered document, go to the queue as links of that page, through the same
// analysis the page's own links went through: the requests as embedded files, the links as
// followed ones. The connection that fetched the page goes on with the next file at once:
// pages wait here for the browser, which has at most as many pages open as the queue has
// connections. The browser runs on threads of its own; its results reach the queue on the
// main thread. It is started at the first page and ended when the queue is idle, stopped,
// or destroyed.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/connection_codes.h"
#include "render/page_render.h"

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::render {
class Browser;
}  // namespace qm::render
namespace qm::platform {
class Timer;
}  // namespace qm::platform
namespace qm::engine {

class DownloadRecord;
class QueueManager;

// The status text of a page in the browser.
extern const char* const kTextRendering;

class PageRendering {
public:
    // Pages waiting for the browser beyond which the queue starts no more downloads.
    static constexpr std::size_t kMaxWaitingPages = 512;

    explicit PageRendering(QueueManager& queue);
    ~PageRendering();  // stops every rendering and ends the browser
    PageRendering(const PageRendering&) = delete;
    PageRendering& operator=(const PageRendering&) = delete;

    // Whether the answer record got (status, content type) is a page its Project renders.
    bool Wanted(const DownloadRecord& record, int status) const;
    // The page record stands for waits for the browser; its Project counts as running until
    // the page is rendered (main thread).
    void Add(const DownloadRecord& record);
    // Opens waiting pages while the browser has room (not while the queue is suspended).
    void StartWaiting();
    // Pages waiting for the browser or in it.
    std::size_t Count() const { return waiting_.size() + jobs_.size(); }
    // So many pages wait that downloading more would only make the list longer.
    bool Backlogged() const { return waiting_.size() >= kMaxWaitingPages; }
    // The addresses of the pages in the browser now, in the order they were opened.
    std::vector<std::string> InBrowser() const;
    // Copies of the pages waiting or in the browser, to be fetched (and rendered) again in a
    // later run (Suspend To File).
    std::vector<std::unique_ptr<DownloadRecord>> Pages() const;
    // Ends the renderings of project (all with nullptr); their results are dropped.
    void Cancel(const store::Project* project);

private:
    struct Job;
    void StartJob(std::unique_ptr<DownloadRecord> page);
    void Run(Job& job);
    void Finished(std::uint64_t id, render::RenderResult result);
    void HandOver(Job& job, const render::RenderResult& result);
    // The page no longer waits for the browser: its Project may have finished.
    void Done(store::Project* project);
    void CloseBrowserWhenIdle();
    // Ends the browser when no rendering runs (joining the threads of those ended early).
    void CloseBrowser();
    bool EnsureBrowser();
    // The browser context of project's pages, made at its first page (rendering threads).
    std::string ContextOf(const store::Project* project);
    void Report(const std::string& text, net::StatusKind kind);

    QueueManager& queue_;
    // Results posted to the main thread are dropped once this object is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<render::Browser> browser_;
    // Looks now and then whether the browser is still needed: a queue that became idle
    // without a rendering ending (its last page's analysis ended later) closes it here.
    std::unique_ptr<platform::Timer> idleCheck_;
    bool browserMissing_ = false;  // said once: the run goes on without rendering
    std::mutex contextsMutex_;
    std::map<const store::Project*, std::string> contexts_;
    std::deque<std::unique_ptr<DownloadRecord>> waiting_;
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, std::unique_ptr<Job>> jobs_;
    // Renderings ended early and their threads, kept until the threads are joined.
    std::vector<std::thread> ended_;
    std::vector<std::unique_ptr<Job>> ended_jobs_;
};

}  // namespace qm::engine
