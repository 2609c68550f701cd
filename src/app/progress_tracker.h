#pragma once
// The figures behind the progress display, shared by the window and any front end: for each
// connection the file in transfer (bytes of its length, or none known) and its rate; for
// each running Project the files stored against the files known, bytes, rate and a time
// left; the same for all running Projects together.
//
// A time left is only given once a queue has stopped growing for a while: while a crawl
// still finds new addresses, "files known" is not a total and any estimate would be a guess.
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::app {

// What a Project's counters say at one moment.
struct ProjectCounts {
    const store::Project* project = nullptr;
    int done = 0, queued = 0, processing = 0;
    std::int64_t bytes = 0;
};

// What a connection of the pool is doing at one moment.
struct ConnectionSample {
    int index = 0;
    bool busy = false;
    std::string address;
    std::int64_t length = 0;     // the announced length of the body; 0: none known
    std::int64_t remaining = 0;  // of that length
    std::int64_t received = 0;   // body bytes of this file so far
};

struct ConnectionProgress {
    int index = 0;
    bool busy = false;
    std::string address;
    std::int64_t length = 0;  // 0: unknown
    std::int64_t received = 0;
    std::int64_t remaining = 0;  // of the length
    // Bytes per second over the last seconds; -1 until the file has been watched for a
    // second (servers that pace their answers send in bursts, so less says nothing).
    std::int64_t rate = -1;
    int permille = -1;  // of the length; -1 when no length is known
};

// A running Project, or with project null all running Projects together.
struct RunProgress {
    const store::Project* project = nullptr;
    int done = 0;
    int known = 0;  // done, queued and in processing
    std::int64_t bytes = 0;
    std::int64_t rate = 0;          // bytes per second over the last seconds
    bool growing = true;            // the number of known files rose lately
    std::int64_t secondsLeft = -1;  // -1: no estimate (growing, or nothing finished lately)
    int permille = 0;               // done of known
};

class ProgressTracker {
public:
    // The queue counts as settled once its known files have not risen for this long.
    static constexpr double kSettleSeconds = 10;
    // Rates and the file pace are taken over at most this many seconds.
    static constexpr double kWindowSeconds = 30;

    // Once a second (seconds: any steady clock) with the counters of the Projects of the
    // run; a Project with nothing queued or in processing is finished and drops out. Near
    // the end, when the files still in transfer need longer than the pace of stored files
    // says (one large file left), the whole's time left is what they need at their rates.
    void SampleProjects(double seconds, const std::vector<ProjectCounts>& projects);
    // As often as the display refreshes, with the pool's connections.
    void SampleConnections(double seconds, const std::vector<ConnectionSample>& connections);

    const std::vector<ConnectionProgress>& Connections() const { return connections_; }
    // With the addresses of the pages the browser renders now.
    void SampleRendering(std::vector<std::string> pages) { rendering_ = std::move(pages); }
    const std::vector<std::string>& Rendering() const { return rendering_; }
    // The running Projects, in the order given.
    const std::vector<RunProgress>& Projects() const { return projects_; }
    const RunProgress* ProjectFigures(const store::Project* project) const;
    // All running Projects; Downloading() false when none runs.
    const RunProgress& Overall() const { return overall_; }
    bool Downloading() const { return downloading_; }

private:
    struct Point {
        double t;
        int done, known;
        std::int64_t bytes;
    };
    struct Series {
        std::deque<Point> points;
        double lastGrowth = 0;
    };
    static RunProgress Update(Series& series, double t, const ProjectCounts& counts);
    struct ConnectionHistory {
        std::string address;
        std::deque<std::pair<double, std::int64_t>> points;
    };

    std::map<const store::Project*, Series> series_;
    Series overallSeries_;
    std::vector<RunProgress> projects_;
    RunProgress overall_;
    bool downloading_ = false;
    std::map<int, ConnectionHistory> connectionHistory_;
    std::vector<ConnectionProgress> connections_;
    std::vector<std::string> rendering_;
};

}  // namespace qm::app
