// robots.txt fetches, the pace per server and log-in posts of a run.
#include "engine/server_manners.h"

#include <algorithm>

#include "engine/connection_setup.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "engine/project_cookies.h"
#include "engine/sitemap.h"
#include "net/header_fields.h"
#include "net/http_client.h"
#include "platform/event_loop.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

namespace {

// A robots.txt redirected more often than this is taken as missing.
constexpr int kMaxRobotsHops = 5;
// The longest Crawl-delay honoured: a run ends in reasonable time whatever a server asks.
constexpr std::int64_t kMaxCrawlDelayMs = 60000;

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsWebAddress(const std::string& url) {
    const std::string head = LowerAscii(url.substr(0, 8));
    return head.rfind("http://", 0) == 0 || head.rfind("https://", 0) == 0;
}

std::string FormEscape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '*') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace

struct ServerManners::Transfer {
    net::DownloadConnection conn;
    std::string origin;                 // robots.txt of this server
    store::Project* project = nullptr;  // or the log-in of this Project
    std::string body;
    int hops = 0;
    // The Projects whose records wait for this robots.txt: when the last of them stops, the
    // fetch ends with it.
    std::unordered_set<const store::Project*> waiting;
};

ServerManners::ServerManners(std::function<void()> wake, std::function<void(const std::string&)> log,
                             std::function<void(std::unique_ptr<DownloadRecord>)> found)
    : wake_(std::move(wake)), log_(std::move(log)), found_(std::move(found)) {}

ServerManners::~ServerManners() = default;

bool ServerManners::Applies(const store::Project* project) {
    return project && (project->Robots || project->PerSecond > 0 || !project->LoginURL.empty() || project->Sitemaps);
}

std::string ServerManners::OriginOf(const std::string& url) {
    if (!IsWebAddress(url)) return {};
    const std::size_t start = url.find("://") + 3;
    std::size_t end = url.find_first_of("/?#", start);
    if (end == std::string::npos) end = url.size();
    std::string authority = url.substr(start, end - start);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    return LowerAscii(url.substr(0, start)) + LowerAscii(authority);
}

bool ServerManners::HasOrigin(const std::string& url, const std::string& origin) {
    if (origin.empty() || url.size() < origin.size()) return false;
    for (std::size_t i = 0; i < origin.size(); ++i) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != origin[i]) return false;
    }
    // The authority ends here (a user name before "@" would not be part of the origin).
    return url.size() == origin.size() || url[origin.size()] == '/' || url[origin.size()] == '?' ||
           url[origin.size()] == '#';
}

std::pair<const std::string, ServerManners::Server>* ServerManners::ServerFor(const std::string& url) {
    if (lastServer_ && HasOrigin(url, lastServer_->first)) return lastServer_;
    std::string origin = OriginOf(url);
    if (origin.empty()) return nullptr;
    // Elements of the map keep their place while it grows, and none is ever removed.
    lastServer_ = &*servers_.try_emplace(std::move(origin)).first;
    return lastServer_;
}

std::string ServerManners::PathOf(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return "/";
    std::size_t start = url.find_first_of("/?#", scheme + 3);
    if (start == std::string::npos || url[start] == '#') return "/";
    std::string path = url.substr(start, url.find('#', start) - start);
    if (path[0] == '?') path.insert(0, "/");
    return path;
}

std::string ServerManners::FormBody(const std::string& fields) {
    std::string body;
    std::size_t start = 0;
    while (start < fields.size()) {
        std::size_t end = fields.find_first_of("\r\n", start);
        if (end == std::string::npos) end = fields.size();
        const std::string line = fields.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        if (!body.empty()) body += '&';
        body += FormEscape(line.substr(0, eq));
        body += '=';
        if (eq != std::string::npos) body += FormEscape(line.substr(eq + 1));
    }
    return body;
}

std::int64_t ServerManners::IntervalMs(const store::Project& project, const RobotsRules* rules) {
    std::int64_t interval = project.PerSecond > 0 ? (1000 + project.PerSecond - 1) / project.PerSecond : 0;
    if (project.Robots && rules) {
        const auto delay = static_cast<std::int64_t>(rules->CrawlDelaySeconds() * 1000);
        interval = std::max(interval, std::min(delay, kMaxCrawlDelayMs));
    }
    return interval;
}

ServerManners::Gate ServerManners::Check(const DownloadRecord& record, std::int64_t nowMs, std::int64_t& dueMs) {
    dueMs = 0;
    const store::Project* project = record.Project;
    if (!Applies(project)) return Gate::Go;
    if (!preparing_.empty() && preparing_.count(project)) return Gate::Wait;
    auto* entry = ServerFor(record.URL);
    if (!entry) return Gate::Go;
    const std::string& origin = entry->first;
    Server& server = entry->second;
    if (project->Robots) {
        if (!server.known) {
            if (!server.fetching) FetchRobots(origin, origin + "/robots.txt", 0, {});
            if (!server.known) {
                WaitForRobots(origin, project);
                return Gate::Wait;
            }
        }
        if (!server.rules.Allows(PathOf(record.URL))) return Gate::Refused;
    }
    const std::int64_t interval = IntervalMs(*project, server.known ? &server.rules : nullptr);
    if (interval > 0 && server.started && nowMs < server.lastStartMs + interval) {
        dueMs = server.lastStartMs + interval;
        return Gate::Wait;
    }
    return Gate::Go;
}

std::string ServerManners::RobotsRuleNow(const DownloadRecord& record, int timeoutMs) {
    if (!record.Project || !record.Project->Robots) return {};
    return MannersNowFor(record, timeoutMs).refusingRule;
}

ServerManners::MannersNow ServerManners::MannersNowFor(const DownloadRecord& record, int timeoutMs) {
    MannersNow now;
    if (!record.Project) return now;
    const std::string origin = OriginOf(record.URL);
    if (origin.empty()) return now;
    const RobotsRules* rules = nullptr;
    bool woken = false;
    ServerManners manners([&woken] { woken = true; }, nullptr, nullptr);
    if (record.Project->Robots) {
        std::int64_t due = 0;
        if (manners.Check(record, 0, due) == Gate::Wait && !manners.ServerOf(origin).known)
            platform::RunUntil([&] { return woken; }, timeoutMs);
        const Server& server = manners.ServerOf(origin);
        if (server.known) {
            rules = &server.rules;
            now.refusingRule = server.rules.RefusingRule(PathOf(record.URL));
        }
    }
    now.intervalMs = IntervalMs(*record.Project, rules);
    const std::int64_t ownPace = IntervalMs(*record.Project, nullptr);
    if (rules && now.intervalMs > ownPace) now.crawlDelaySeconds = rules->CrawlDelaySeconds();
    return now;
}

void ServerManners::Started(const DownloadRecord& record, std::int64_t nowMs) {
    if (!Applies(record.Project)) return;
    auto* entry = ServerFor(record.URL);
    if (!entry) return;
    entry->second.lastStartMs = nowMs;
    entry->second.started = true;
}

std::string ServerManners::Refusal(const DownloadRecord& record) {
    if (!record.Project || !record.Project->Robots) return {};
    auto* entry = ServerFor(record.URL);
    if (!entry || !entry->second.known) return {};
    const std::string rule = entry->second.rules.RefusingRule(PathOf(record.URL));
    if (rule.empty()) return {};
    return "Refused by robots.txt (" + rule + "): " + record.URL;
}

void ServerManners::WaitForRobots(const std::string& origin, const store::Project* project) {
    for (auto& t : transfers_) {
        if (t->origin != origin) continue;
        t->waiting.insert(project);
        return;
    }
}

void ServerManners::FetchRobots(const std::string& origin, const std::string& url, int hops,
                                std::unordered_set<const store::Project*> waiting) {
    Server& server = ServerOf(origin);
    server.fetching = true;
    auto transfer = std::make_unique<Transfer>();
    Transfer* t = transfer.get();
    t->origin = origin;
    t->hops = hops;
    t->waiting = std::move(waiting);
    transfers_.push_back(std::move(transfer));
    net::DownloadConnection& conn = t->conn;
    conn.SetURL(url);
    ApplyConnectionOptions(conn, store::Options());
    conn.AllowResume = false;
    conn.OnData = [t](net::DownloadConnection&, const char* block, std::size_t count) {
        const std::size_t room = RobotsRules::kMaxBytes - std::min(t->body.size(), RobotsRules::kMaxBytes);
        t->body.append(block, std::min(count, room));
    };
    conn.OnDone = [this, t](net::DownloadConnection& c, net::DoneCode) {
        Server& s = ServerOf(t->origin);
        const int status = c.StatusCode;
        if (status >= 300 && status < 400 && t->hops < kMaxRobotsHops) {
            const auto location = net::HeaderField(c.Header, "location:");
            std::string next = location ? std::string(*location) : std::string();
            while (!next.empty() && (next.back() == ' ' || next.back() == '\r')) next.pop_back();
            while (!next.empty() && next.front() == ' ') next.erase(0, 1);
            if (!next.empty() && next[0] == '/') next = c.GetURL().substr(0, OriginOf(c.GetURL()).size()) + next;
            if (IsWebAddress(next)) {
                const std::string origin = t->origin;
                const int hops = t->hops + 1;
                auto waiting = std::move(t->waiting);
                Finish(t);
                FetchRobots(origin, next, hops, std::move(waiting));
                return;
            }
        }
        if (status >= 200 && status < 300) {
            s.rules = RobotsRules::Parse(t->body, net::DownloadConnection::UserAgent);
        } else if (status >= 500) {
            // A server that fails to answer for its robots.txt is taken to refuse everything.
            s.rules = RobotsRules::DisallowAll();
            if (log_) log_("robots.txt answered " + std::to_string(status) + ", nothing is fetched: " + t->origin);
        } else {
            s.rules = RobotsRules();  // none there (or no answer): the records meet their own fate
        }
        s.known = true;
        s.fetching = false;
        ++generation_;
        Finish(t);
        Wake();
    };
    if (!conn.Start(false)) {
        server.known = true;
        server.fetching = false;
        ++generation_;
        Finish(t);
    }
}

void ServerManners::BeginLogIn(store::Project& project) {
    if (project.LoginURL.empty() || !IsWebAddress(project.LoginURL)) return;
    auto transfer = std::make_unique<Transfer>();
    Transfer* t = transfer.get();
    t->project = &project;
    transfers_.push_back(std::move(transfer));
    ++preparing_[&project];
    net::DownloadConnection& conn = t->conn;
    std::string user, password;
    const std::string url = WithoutCredentials(project.LoginURL, user, password);
    conn.SetURL(url);
    ApplyConnectionOptions(conn, store::Options());
    conn.AllowResume = false;
    conn.PostBody = FormBody(project.LoginFields);
    if (conn.PostBody.empty()) conn.PostBody = "=";
    const std::string cookies = ProjectCookies(project.IID).HeaderFor(url, CookieClock());
    if (!cookies.empty()) conn.ExtraHeaders = "Cookie: " + cookies + "\r\n";
    conn.OnHeader = [url, &project](net::DownloadConnection& c) {
        ProjectCookies(project.IID).SetFromResponse(url, c.Header, CookieClock());
    };
    conn.OnDone = [this, t, url](net::DownloadConnection& c, net::DoneCode) {
        if (log_) log_("Log-in form posted (" + std::to_string(c.StatusCode) + "): " + url);
        store::Project* p = t->project;
        Finish(t);
        Prepared(p);
    };
    if (!conn.Start(false)) {
        if (log_) log_("Log-in form could not be posted: " + url);
        Finish(t);
        Prepared(&project);
    }
}

void ServerManners::Prepared(store::Project* project) {
    ++generation_;
    auto it = preparing_.find(project);
    if (it != preparing_.end() && --it->second <= 0) preparing_.erase(it);
    Wake();
}

void ServerManners::BeginSitemaps(store::Project& project) {
    const std::string origin = OriginOf(project.URL);
    if (origin.empty()) return;
    sitemapsAsked_[&project].clear();
    // robots.txt first, for the sitemaps it names; /sitemap.xml after it.
    FetchSitemap(project, origin + "/robots.txt", true);
}

void ServerManners::FetchSitemap(store::Project& project, const std::string& url, bool robotsFile) {
    std::vector<std::string>& asked = sitemapsAsked_[&project];
    if (!robotsFile) {
        if (asked.size() >= kMaxSitemapsPerRun || std::find(asked.begin(), asked.end(), url) != asked.end()) return;
        asked.push_back(url);
    }
    auto transfer = std::make_unique<Transfer>();
    Transfer* t = transfer.get();
    t->project = &project;
    transfers_.push_back(std::move(transfer));
    ++preparing_[&project];
    net::DownloadConnection& conn = t->conn;
    conn.SetURL(url);
    ApplyConnectionOptions(conn, store::Options());
    conn.AllowResume = false;
    const std::string cookies = ProjectCookies(project.IID).HeaderFor(url, CookieClock());
    if (!cookies.empty()) conn.ExtraHeaders = "Cookie: " + cookies + "\r\n";
    conn.OnData = [t](net::DownloadConnection&, const char* block, std::size_t count) {
        const std::size_t room = kMaxSitemapBytes - std::min(t->body.size(), kMaxSitemapBytes);
        t->body.append(block, std::min(count, room));
    };
    conn.OnDone = [this, t, url, robotsFile](net::DownloadConnection& c, net::DoneCode) {
        store::Project* p = t->project;
        const std::string body = c.StatusCode >= 200 && c.StatusCode < 300 ? std::move(t->body) : std::string();
        Finish(t);
        SitemapArrived(*p, url, body, robotsFile);
        Prepared(p);
    };
    if (!conn.Start(false)) {
        Finish(t);
        SitemapArrived(project, url, {}, robotsFile);
        Prepared(&project);
    }
}

void ServerManners::SitemapArrived(store::Project& project, const std::string& url, const std::string& body,
                                   bool robotsFile) {
    if (robotsFile) {
        const RobotsRules rules = RobotsRules::Parse(body, net::DownloadConnection::UserAgent);
        for (const std::string& named : rules.Sitemaps())
            if (IsWebAddress(named)) FetchSitemap(project, named, false);
        FetchSitemap(project, OriginOf(project.URL) + "/sitemap.xml", false);
        return;
    }
    if (body.empty()) return;
    const Sitemap map = ParseSitemap(body);
    if (map.index) {
        for (const std::string& loc : map.locs)
            if (IsWebAddress(loc)) FetchSitemap(project, loc, false);
        return;
    }
    int taken = 0;
    for (const std::string& loc : map.locs) {
        if (!IsWebAddress(loc)) continue;
        auto rec = std::make_unique<DownloadRecord>();
        rec->Project = &project;
        rec->URL = loc;
        rec->Lev = project.Lev;
        rec->Img = rec->Srv = true;
        rec->Referer = url;
        if (!Normalise(*rec)) continue;
        ++taken;
        if (found_) found_(std::move(rec));
    }
    if (log_) log_("Sitemap read, " + std::to_string(taken) + " addresses taken: " + url);
}

void ServerManners::Wake() {
    // Never from inside a look at the queue: the queue fills its connections afterwards.
    std::weak_ptr<int> alive = alive_;
    platform::Post([this, alive] {
        if (!alive.expired() && wake_) wake_();
    });
}

void ServerManners::Finish(Transfer* transfer) {
    auto it = std::find_if(transfers_.begin(), transfers_.end(), [&](const auto& p) { return p.get() == transfer; });
    if (it == transfers_.end()) return;
    finished_.push_back(std::move(*it));
    transfers_.erase(it);
    // Destroyed once the event that finished it has returned.
    if (finished_.size() == 1) {
        std::weak_ptr<int> alive = alive_;
        platform::Post([this, alive] {
            if (!alive.expired()) finished_.clear();
        });
    }
}

void ServerManners::Cancel(const store::Project* project) {
    ++generation_;
    std::vector<std::unique_ptr<Transfer>> kept;
    for (auto& t : transfers_) {
        // A robots.txt fetch serves every Project waiting for it: it ends with the last of them.
        if (project && !t->origin.empty()) {
            t->waiting.erase(project);
            if (!t->waiting.empty()) {
                kept.push_back(std::move(t));
                continue;
            }
        } else if (project && t->project != project) {
            kept.push_back(std::move(t));
            continue;
        }
        t->conn.OnDone = nullptr;
        t->conn.OnHeader = nullptr;
        t->conn.OnData = nullptr;
        t->conn.Abort();
        if (!t->origin.empty()) ServerOf(t->origin).fetching = false;
        finished_.push_back(std::move(t));
    }
    transfers_ = std::move(kept);
    if (project) {
        preparing_.erase(project);
        sitemapsAsked_.erase(project);
    } else {
        preparing_.clear();
        sitemapsAsked_.clear();
    }
}

}  // namespace qm::engine
