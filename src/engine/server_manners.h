#pragma once
// ServerManners: how a run behaves towards the servers it fetches from, for the Projects that
// ask for it: robots.txt fetched once per server and obeyed, a pace of at most so many
// requests a second to one server (or the robots.txt Crawl-delay), and a log-in form posted
// before a Project's first record starts. Records wait in the queue while their server's
// robots.txt or their Project's log-in is on its way, or until their server's next turn.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/robots_txt.h"

namespace qm::net {
class DownloadConnection;
}  // namespace qm::net
namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

class DownloadRecord;

class ServerManners {
public:
    // wake: something a record waited for has arrived (the queue fills its connections).
    // log: a line for the log. found: a record for an address a sitemap lists, admitted.
    ServerManners(std::function<void()> wake, std::function<void(const std::string&)> log,
                  std::function<void(std::unique_ptr<DownloadRecord>)> found);
    ~ServerManners();
    ServerManners(const ServerManners&) = delete;
    ServerManners& operator=(const ServerManners&) = delete;

    // Whether a Project's records pass through here at all.
    static bool Applies(const store::Project* project);

    enum class Gate { Go, Wait, Refused };
    // Whether the record may start at nowMs (steady clock). Wait: dueMs is when its server's
    // turn comes, or 0 when it waits for a robots.txt or a log-in.
    Gate Check(const DownloadRecord& record, std::int64_t nowMs, std::int64_t& dueMs);
    // The record starts now: its server's next turn is one interval later.
    void Started(const DownloadRecord& record, std::int64_t nowMs);
    // Why robots.txt refuses the record's address ("" when it does not), as the log says it.
    std::string Refusal(const DownloadRecord& record);
    // Changes whenever a record told to wait may have become free to start without the
    // clock moving on: a robots.txt arrived or was given up, a log-in or sitemap is in, a
    // Project stopped.
    std::uint64_t Generation() const { return generation_; }

    // The rule of the record's server's robots.txt that refuses it ("Disallow: /private/"),
    // fetching that robots.txt now and waiting for it (at most timeoutMs); "" when the
    // Project does not obey robots.txt or nothing refuses the address. Main thread, outside a
    // run (quillmoor-cli explain).
    static std::string RobotsRuleNow(const DownloadRecord& record, int timeoutMs);
    // What a run would meet at the record's server, found the same way: the refusing rule
    // of its robots.txt (when obeyed), and the wait between two requests to that server
    // with the Crawl-delay that set it (0 when the Project's own pace did, or none).
    struct MannersNow {
        std::string refusingRule;
        std::int64_t intervalMs = 0;
        double crawlDelaySeconds = 0;
    };
    static MannersNow MannersNowFor(const DownloadRecord& record, int timeoutMs);

    // Posts the Project's log-in form; its records wait until the answer is in.
    void BeginLogIn(store::Project& project);
    // Reads the sitemaps of the Project's start server (/sitemap.xml and those robots.txt
    // names); its records wait until they are in, and their addresses join the queue at the
    // start address's level.
    void BeginSitemaps(store::Project& project);
    // A stop of one Project (or of all, nullptr): its log-in and sitemaps under way are
    // dropped, and the robots.txt fetches no other running Project waits for (a later
    // record of that server asks again).
    void Cancel(const store::Project* project);

    // The milliseconds between two requests of project to a server with these rules.
    static std::int64_t IntervalMs(const store::Project& project, const RobotsRules* rules);
    // The server part of an address ("http://host:port"), lower case; empty for other schemes.
    static std::string OriginOf(const std::string& url);
    // Whether url's server part is origin (as OriginOf gives it), looked at in place.
    static bool HasOrigin(const std::string& url, const std::string& origin);
    // The path with its query of an address ("/" when none).
    static std::string PathOf(const std::string& url);
    // The log-in form's name=value lines as a form body (each name and value escaped).
    static std::string FormBody(const std::string& fields);

private:
    struct Server {
        bool fetching = false;
        bool known = false;
        RobotsRules rules;
        std::int64_t lastStartMs = 0;
        bool started = false;
    };
    struct Transfer;
    void FetchRobots(const std::string& origin, const std::string& url, int hops,
                     std::unordered_set<const store::Project*> waiting);
    void WaitForRobots(const std::string& origin, const store::Project* project);
    void FetchSitemap(store::Project& project, const std::string& url, bool robotsFile);
    void SitemapArrived(store::Project& project, const std::string& url, const std::string& body, bool robotsFile);
    void Prepared(store::Project* project);
    void Finish(Transfer* transfer);
    void Wake();
    Server& ServerOf(const std::string& origin) { return servers_[origin]; }
    // The server of a web address (nullptr for other schemes), with its origin as key.
    std::pair<const std::string, Server>* ServerFor(const std::string& url);

    std::function<void()> wake_;
    std::function<void(const std::string&)> log_;
    std::function<void(std::unique_ptr<DownloadRecord>)> found_;
    std::unordered_map<std::string, Server> servers_;
    // The server the last record looked up was on: most records of a run are on the same
    // server as the one before, and are matched to it without making a key.
    std::pair<const std::string, Server>* lastServer_ = nullptr;
    std::uint64_t generation_ = 0;
    // Transfers a Project's records wait for (its log-in, its sitemaps), and the sitemaps a run
    // has asked for.
    std::unordered_map<const store::Project*, int> preparing_;
    std::unordered_map<const store::Project*, std::vector<std::string>> sitemapsAsked_;
    std::vector<std::unique_ptr<Transfer>> transfers_;
    std::vector<std::unique_ptr<Transfer>> finished_;  // destroyed outside their own events
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace qm::engine
