#pragma once
// The web archive of one Project's run: every exchange appended as WARC records (request and
// response, revisits of unchanged answers, resources of ftp and local files, the links found
// in each page) to files named with the run's start time in the Project's archive folder.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/captured_bytes.h"
#include "archive/warc_writer.h"

namespace qm::archive {

// What the run's warcinfo record tells about it.
struct RunInfo {
    std::string software;                                       // "Quillmoor 1.0"
    std::string projectUrl;                                     // the Project's start address
    std::vector<std::pair<std::string, std::string>> settings;  // the settings that matter
};

// One http or https exchange as it went over the connection.
struct HttpExchange {
    std::string url;
    std::string request;     // the bytes sent
    CapturedBytes response;  // the bytes received, before any decoding
    std::string ipAddress;   // of the server (empty through a proxy)
    std::time_t date = 0;    // when the request went out
    bool truncated = false;  // the answer was cut off (size limit, abort, failure)
};

class Recorder {
public:
    static constexpr std::size_t kMaxRemembered = 1000000;
    // Opens the run's archive in folder: archives of killed runs are made whole first, and
    // the payload digests recorded before are remembered for revisit records. Null with
    // error when the folder cannot be used.
    static std::unique_ptr<Recorder> Open(const std::string& folder, const RunInfo& info, std::time_t start,
                                          std::string& error, std::uint64_t rotateBytes = WarcWriter::kDefaultRotation);
    ~Recorder();

    bool RecordHttp(HttpExchange exchange);
    bool RecordResource(const std::string& url, const std::string& contentType, CapturedBytes body, std::time_t date);
    // A metadata record listing the links found in the page at url.
    bool RecordOutlinks(const std::string& url, std::vector<std::string> links, std::time_t date);
    bool Close();
    std::string Error() const;
    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& Files() const { return writer_.Files(); }

    // The stem of a run's files: "YYYYMMDDHHMMSS" of its start (UTC).
    static std::string RunStem(std::time_t start);

private:
    Recorder(const std::string& folder, const std::string& stem, std::uint64_t rotateBytes);
    void Remember(const std::string& url, const std::string& digest, const std::string& date);
    // The writing thread's part of RecordHttp and RecordResource.
    bool WriteHttp(HttpExchange& x, std::string& error);
    bool WriteResource(const std::string& url, const std::string& contentType, CapturedBytes& body, std::time_t date,
                       std::string& error);
    struct Recorded {
        std::string digest, date;
    };
    std::string folder_;
    WarcWriter writer_;
    // Both used on the writing thread alone once the run's records begin.
    std::unordered_map<std::string, Recorded> recorded_;        // last payload recorded per address
    std::unordered_map<std::string, std::string> responseIds_;  // this run's record per address
};

// The block of a page's metadata record: "outlink: " and a link on each line (links holding a
// line break are left out).
std::string OutlinksBlock(const std::vector<std::string>& links);

}  // namespace qm::archive
