// Progress figures from samples of the counters.
#include "app/progress_tracker.h"

#include <algorithm>
#include <cmath>

namespace qm::app {

namespace {
int Permille(std::int64_t part, std::int64_t whole) {
    if (whole <= 0) return 0;
    return static_cast<int>(std::clamp<std::int64_t>(part * 1000 / whole, 0, 1000));
}
}  // namespace

RunProgress ProgressTracker::Update(Series& series, double t, const ProjectCounts& counts) {
    const int known = counts.done + counts.queued + counts.processing;
    if (series.points.empty() || known > series.points.back().known) series.lastGrowth = t;
    // A Project started again begins a new series.
    if (!series.points.empty() &&
        (counts.done < series.points.back().done || counts.bytes < series.points.back().bytes))
        series.points.clear(), series.lastGrowth = t;
    series.points.push_back({t, counts.done, known, counts.bytes});
    while (series.points.size() > 2 && t - series.points.front().t > kWindowSeconds) series.points.pop_front();

    RunProgress r;
    r.project = counts.project;
    r.done = counts.done;
    r.known = known;
    r.bytes = counts.bytes;
    r.permille = Permille(counts.done, known);
    const Point& first = series.points.front();
    const double span = t - first.t;
    if (span > 0) r.rate = static_cast<std::int64_t>(static_cast<double>(counts.bytes - first.bytes) / span);
    r.growing = t - series.lastGrowth < kSettleSeconds;
    if (!r.growing) {
        // The pace of stored files since the queue settled (within the window).
        const Point* from = &first;
        for (const Point& p : series.points)
            if (p.t >= series.lastGrowth) {
                from = &p;
                break;
            }
        const double pace = t > from->t ? (counts.done - from->done) / (t - from->t) : 0;
        if (pace > 0) r.secondsLeft = static_cast<std::int64_t>(std::ceil((known - counts.done) / pace));
    }
    return r;
}

void ProgressTracker::SampleProjects(double seconds, const std::vector<ProjectCounts>& projects) {
    projects_.clear();
    ProjectCounts total;
    std::map<const store::Project*, Series> kept;
    for (const ProjectCounts& c : projects) {
        if (c.queued <= 0 && c.processing <= 0) continue;
        Series& s = series_[c.project];
        projects_.push_back(Update(s, seconds, c));
        kept[c.project] = std::move(s);
        total.done += c.done;
        total.queued += c.queued;
        total.processing += c.processing;
        total.bytes += c.bytes;
    }
    series_ = std::move(kept);  // finished Projects start afresh next time
    downloading_ = !projects_.empty();
    if (!downloading_) {
        overallSeries_ = Series();
        overall_ = RunProgress();
        return;
    }
    overall_ = Update(overallSeries_, seconds, total);
    // Another Project's start adds files: the whole is growing while any part is.
    for (const RunProgress& p : projects_) overall_.growing = overall_.growing || p.growing;
    if (overall_.growing) {
        overall_.secondsLeft = -1;
        return;
    }
    std::int64_t inTransfer = 0, transferRate = 0;
    for (const ConnectionProgress& c : connections_)
        if (c.busy && c.length > 0) {
            inTransfer += c.remaining;
            transferRate += c.rate;
        }
    if (inTransfer > 0 && transferRate > 0)
        overall_.secondsLeft =
            std::max<std::int64_t>(overall_.secondsLeft, (inTransfer + transferRate - 1) / transferRate);
}

const RunProgress* ProgressTracker::ProjectFigures(const store::Project* project) const {
    for (const RunProgress& p : projects_)
        if (p.project == project) return &p;
    return nullptr;
}

void ProgressTracker::SampleConnections(double seconds, const std::vector<ConnectionSample>& connections) {
    connections_.clear();
    std::map<int, ConnectionHistory> kept;
    for (const ConnectionSample& c : connections) {
        ConnectionHistory h = std::move(connectionHistory_[c.index]);
        if (!c.busy || h.address != c.address || (!h.points.empty() && c.received < h.points.back().second))
            h.points.clear();
        h.address = c.address;
        if (c.busy) h.points.emplace_back(seconds, c.received);
        while (h.points.size() > 2 && seconds - h.points.front().first > 3) h.points.pop_front();

        ConnectionProgress p;
        p.index = c.index;
        p.busy = c.busy;
        p.address = c.busy ? c.address : std::string();
        p.received = c.busy ? c.received : 0;
        p.length = c.busy ? c.length : 0;
        if (p.length > 0) {
            p.remaining = std::clamp<std::int64_t>(c.remaining, 0, c.length);
            p.permille = Permille(c.length - p.remaining, c.length);
        }
        if (h.points.size() >= 2 && h.points.back().first - h.points.front().first >= 1.0)
            p.rate = static_cast<std::int64_t>(static_cast<double>(h.points.back().second - h.points.front().second) /
                                               (h.points.back().first - h.points.front().first));
        connections_.push_back(p);
        kept[c.index] = std::move(h);
    }
    connectionHistory_ = std::move(kept);
}

}  // namespace qm::app
