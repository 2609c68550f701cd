#pragma once
// Queue files: the whole download queue written to a file chosen by the user (Suspend To
// File) and read back later, possibly in another run (Resume From File).
#include <memory>
#include <string>
#include <vector>

namespace qm::store {
class ProjectTree;
}  // namespace qm::store
namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

class DownloadRecord;
class QueueManager;

// The Project of a record read back, found by its identifier. The Project found last is
// tried first, since a queue file holds long runs of one Project's records. One lookup serves
// one reading of a file (the tree must not change meanwhile).
class QueueProjectLookup {
public:
    store::Project* Find(const store::ProjectTree& tree, int iid);
    void Forget() { last_ = nullptr; }

private:
    store::Project* last_ = nullptr;
};

// Suspend To File: suspends the queue, finishes the analysis of every page waiting for or
// under analysis (their links are queued), writes every record of the download queue in
// order (busy ones included), then the pages waiting for the browser or in it, to fileName,
// and only when the file is complete on disk stops
// every transfer and empties the queue; the queue is left not suspended. The file is written under a temporary name
// beside fileName and renamed over it, so a failure leaves an existing file as it was. On failure the queue keeps
// running as it was and error says why.
bool SuspendToFile(QueueManager& queue, const std::string& fileName, std::string& error);

struct ResumeReport {
    int queued = 0;                     // records added to the queue
    int noProject = 0;                  // records whose Project is no longer in the tree (dropped)
    int renamed = 0;                    // records whose stored names left the Project's folder: recomputed
    int skipped = 0;                    // records that could not be read or placed (dropped)
    std::vector<std::string> problems;  // one line per damaged or dropped part
    bool opened = false;                // false: the file could not be read at all (see problems)
};

// Resume From File: queues every record of fileName whose Project is in tree, in file order
// behind what is queued, without the seen-address check. Local names come from the file
// only while they stay inside the Project's root folder; otherwise they are recomputed from
// the address, and the record is dropped when that fails. A record's temporary file name is
// never taken from the file. A damaged file resumes what it can; the queue is never left
// suspended. Returns false when nothing could be read.
bool ResumeFromFile(QueueManager& queue, const store::ProjectTree& tree, const std::string& fileName,
                    ResumeReport& report);

// The reading half of Resume From File, without touching any queue: the records of fileName
// whose Project is in tree, in file order, with safe local names and their category set.
// Returns false when nothing could be read.
bool ReadQueueFile(const store::ProjectTree& tree, const std::string& fileName, ResumeReport& report,
                   std::vector<std::unique_ptr<DownloadRecord>>& records);

// Makes the local names of a record read back safe for its Project (see ResumeFromFile).
// False when the record must be dropped; renamed tells whether the names were recomputed.
bool SettleResumedNames(DownloadRecord& record, bool& renamed);

}  // namespace qm::engine
