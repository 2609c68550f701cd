#include "app/address_explanation.h"

#include <algorithm>

#include "analysis/robots_meta.h"
#include "engine/admission.h"
#include "engine/connection_setup.h"
#include "engine/crawl_limits.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/server_manners.h"
#include "net/http_client.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::app {

namespace {

// A robots tag sits in a page's head: this much of a page is enough to find it.
constexpr std::size_t kMaxPageBytes = 4 << 20;

const char* CategoryName(const engine::DownloadRecord& rec) {
    if (!rec.Category || !rec.Project) return "none";
    const store::FileCategory* first = &rec.Project->Categories[0];
    const std::ptrdiff_t index = rec.Category - first;
    if (index < 0 || index >= store::kCategoryCount) return "none";
    return store::kCategoryNames[static_cast<std::size_t>(index)];
}

}  // namespace

std::string NoFollowReason(const std::string& page) { return "robots tag \"nofollow\" on " + page; }

bool PageSaysNoFollowNow(const std::string& url, int timeoutMs) {
    net::DownloadConnection conn;
    conn.SetURL(url);
    engine::ApplyConnectionOptions(conn, store::Options());
    conn.AllowResume = false;
    std::string body;
    bool done = false;
    conn.OnData = [&body](net::DownloadConnection&, const char* block, std::size_t count) {
        const std::size_t room = kMaxPageBytes - std::min(body.size(), kMaxPageBytes);
        body.append(block, std::min(count, room));
    };
    conn.OnDone = [&done](net::DownloadConnection&, net::DoneCode) { done = true; };
    if (!conn.Start(false)) return false;
    platform::RunUntil([&done] { return done; }, timeoutMs);
    if (!done) conn.Abort();
    if (conn.StatusCode < 200 || conn.StatusCode >= 300) return false;
    std::transform(body.begin(), body.end(), body.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return analysis::RobotsMetaSaysNoFollow(body);
}

Explanation ExplainAddress(store::Project& project, const ExplainQuestion& q, int timeoutMs) {
    Explanation out;
    // The address as a link found in one of the Project's pages would be.
    engine::DownloadRecord rec;
    rec.Project = &project;
    rec.URL = q.url;
    rec.Lev = project.Lev > 0 ? project.Lev - 1 : 0;
    rec.IsImage = q.embedded;
    engine::AdmissionResult why;
    if (q.beyond >= 0) {
        // A frame (or, embedded, a file shown) on a page that many steps beyond.
        rec.Lev = 0;
        if (!engine::FollowsBeyondLevel(q.beyond, !q.embedded)) why.Refuse(engine::kReasonBeyondLevel);
    }
    if (why.reason.empty() && engine::Normalise(rec, why) && project.CrawlTraps) {
        if (engine::RepeatsPathSegments(rec.URL))
            why.Refuse(engine::kReasonRepeatingPath);
        else if (!engine::PathBeforeQuery(rec.URL).empty() &&
                 static_cast<std::uint32_t>(q.queries) >= engine::kMaxQueriesPerPath)
            why.Refuse(engine::kReasonTooManyQueries);
    }
    // A page's robots tag keeps its hyperlinks (not the files it shows) from the queue.
    if (why.admitted && project.Robots && !q.embedded && !q.fromPage.empty() &&
        PageSaysNoFollowNow(q.fromPage, timeoutMs))
        why.Refuse(NoFollowReason(q.fromPage));
    if (why.admitted) {
        // The server's own robots.txt has the last word; the pace says how often it is asked.
        const auto manners = engine::ServerManners::MannersNowFor(rec, timeoutMs);
        if (!manners.refusingRule.empty()) why.Refuse("robots.txt (" + manners.refusingRule + ")");
        out.paceMs = manners.intervalMs;
        out.crawlDelaySeconds = manners.crawlDelaySeconds;
    }
    out.admitted = why.admitted;
    out.reason = why.reason;
    if (!why.admitted) return out;
    out.url = rec.URL;
    out.category = CategoryName(rec);
    out.file = rec.FName;
    out.depth = rec.Depth;
    return out;
}

}  // namespace qm::app
