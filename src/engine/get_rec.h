#pragma once
// A download record (DownloadRecord): one queued address with its Project, level, local names and
// run state. Saved fields go to queue files (type code 2).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "store/streamable.h"

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::store {
struct FileCategory;
}  // namespace qm::store
namespace qm::net {
class DownloadConnection;
}  // namespace qm::net
namespace qm::engine {

class AnalysisThread;

class DownloadRecord : public store::StreamObject {
public:
    DownloadRecord();                        // ConnTries from the program option "ConnRetries"
    explicit DownloadRecord(int connTries);  // off the main thread, from a copy of the option
    ~DownloadRecord() override;              // closes DataFile when still open
    DownloadRecord(const DownloadRecord&) = delete;
    DownloadRecord& operator=(const DownloadRecord&) = delete;
    void Load(store::ObjectStream& stream) override;  // the Project is found by "IID" when the queue loads it
    void Save(store::ObjectStream& stream) override;

    // Saved fields, in the order Save writes them (after "IID", the Project's identifier).
    qm::store::Project* Project = nullptr;  // not owned
    std::string URL;
    bool Img = false;
    int Lev = 0;
    bool Srv = false;
    std::string FName;  // full local path
    std::string Temp;   // temporary file receiving the body
    std::string Path;   // FName before its last separator
    std::string RFile;  // FName after its last separator
    std::string Base;
    std::string InitWay;
    bool JavaClass = false;
    int Depth = 0;
    bool IsImage = false;
    std::string URLPsw;  // "user:password" taken out of the address

    // In memory only.
    int LoadedIID = 0;  // the "IID" read by Load, until the Project is found
    bool Busy = false;
    net::DownloadConnection* Conn = nullptr;
    std::FILE* DataFile = nullptr;
    std::unique_ptr<char[]> DataBuffer;  // the write buffer of DataFile, outlives it
    std::string ContentType;
    std::string Referer;
    std::string AnalysisSource, AnalysisTarget;
    bool AnalysisDeletesTemp = false;
    bool BodyFileMade = false;  // Temp was made (or tried) for the present attempt
    AnalysisThread* Parser = nullptr;
    int ConnTries = 0;
    int BadRequestAnswers = 0;  // 400 answers received so far in this run
    int FailedAttempts = 0;     // failed attempts in a row, for the wait before the next one
    // Steady-clock time (milliseconds) before which the record is not started again.
    std::int64_t NotBeforeMs = 0;
    store::FileCategory* Category = nullptr;
    // A 401 answer this record answers on its next attempt: the answer's header with its
    // challenge, and the user name and password that answer it (once per record).
    std::string AuthChallenge;
    std::string AuthUser, AuthPassword;
    std::string OldFName;
    int OldDepth = 0;
    std::string NewFName;
    std::string RedirectStart;      // the address a chain of redirects began with
    std::uint8_t RedirectHops = 0;  // redirects followed, kept across the re-queue
    // Links in a row that took no level step (or were found at the last level).
    std::uint8_t StepsBeyondLevel = 0;
    bool IsStartAddress = false;  // the Project's start record, through its redirects
    bool FoundInScript = false;   // a name read from script text, not from a tag
    bool IsFrame = false;         // named by a frame or iframe tag
    // A page of a Project recording a web archive: the links its analysis found.
    std::unique_ptr<std::vector<std::string>> Outlinks;
};

}  // namespace qm::engine
