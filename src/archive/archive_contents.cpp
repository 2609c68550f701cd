// The latest answer per address across archive files.
#include "archive/archive_contents.h"

#include "archive/warc_reader.h"

namespace qm::archive {

namespace {

std::string Unbracketed(std::string url) {
    if (url.size() > 1 && url.front() == '<' && url.back() == '>') url = url.substr(1, url.size() - 2);
    return url;
}

bool HttpAddress(const std::string& url) { return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0; }

}  // namespace

bool ArchiveContents::Add(const std::string& path, std::string& error) {
    WarcReader reader(path);
    ReadRecord r;
    while (reader.Next(r)) {
        ++records_;
        const WarcRecord& rec = r.record;
        const std::string type = rec.Field("WARC-Type");
        const std::string url = Unbracketed(rec.Field("WARC-Target-URI"));
        const std::string date = rec.Field("WARC-Date");
        if (url.empty() || (type != "response" && type != "resource" && type != "revisit")) continue;
        // A cut-off answer is no copy of the file; an older whole one stays.
        if (type != "revisit" && !rec.Field("WARC-Truncated").empty()) continue;
        if (type == "response" && !HttpAddress(url)) continue;
        if (!answers_.count(url) && !revisits_.count(url)) {
            if (order_.size() >= kMaxAddresses) continue;
            order_.push_back(url);
        }
        if (type == "revisit") {
            Revisit& v = revisits_[url];
            if (date >= v.date) v = Revisit{date, Unbracketed(rec.Field("WARC-Refers-To-Target-URI"))};
            continue;
        }
        ArchivedAnswer& a = answers_[url];
        if (!a.date.empty() && date < a.date) continue;
        a = ArchivedAnswer{url, date, type, rec.Field("Content-Type"), path, r.offset, r.length};
        if (firstPage_.empty() && type == "response") {
            std::string_view head, body;
            if (SplitHttpMessage(rec.block, head, body) && HttpStatus(head) == 200 &&
                HttpHeaderValue(head, "Content-Type").find("text/html") != std::string::npos)
                firstPage_ = url;
        }
    }
    if (!reader.Error().empty()) error = path + ": " + reader.Error();
    return reader.Error().empty();
}

std::vector<ArchivedAnswer> ArchiveContents::Latest() const {
    std::vector<ArchivedAnswer> out;
    for (const std::string& url : order_) {
        auto answer = answers_.find(url);
        auto revisit = revisits_.find(url);
        // A later revisit of another address repeats that address' answer.
        if (revisit != revisits_.end() && !revisit->second.refersTo.empty() && revisit->second.refersTo != url &&
            (answer == answers_.end() || answer->second.date <= revisit->second.date)) {
            auto repeated = answers_.find(revisit->second.refersTo);
            if (repeated != answers_.end()) {
                ArchivedAnswer a = repeated->second;
                a.url = url;
                out.push_back(std::move(a));
                continue;
            }
        }
        // Otherwise a revisit repeats the address' own answer, the latest whole one.
        if (answer != answers_.end()) out.push_back(answer->second);
    }
    return out;
}

}  // namespace qm::archive
