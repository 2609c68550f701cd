// Turning a run's exchanges into WARC records.
#include "archive/recorder.h"

#include <filesystem>
#include <fstream>
#include <memory>

#include "archive/digest.h"
#include "codings/chunked_body.h"

namespace qm::archive {

namespace {

const char* const kRevisitNotModified = "http://netpreserve.org/warc/1.1/revisit/server-not-modified";
const char* const kRevisitIdentical = "http://netpreserve.org/warc/1.1/revisit/identical-payload-digest";

WarcRecord Begin(const char* type, const std::string& url, std::time_t date, const std::string& id) {
    WarcRecord r;
    r.fields.emplace_back("WARC-Type", type);
    r.fields.emplace_back("WARC-Record-ID", id);
    r.fields.emplace_back("WARC-Date", WarcDate(date));
    if (!url.empty()) r.fields.emplace_back("WARC-Target-URI", url);
    return r;
}

}  // namespace

std::string Recorder::RunStem(std::time_t start) { return IndexTimestamp(WarcDate(start)); }

Recorder::Recorder(const std::string& folder, const std::string& stem, std::uint64_t rotateBytes)
    : folder_(folder), writer_(folder, stem, rotateBytes) {}

Recorder::~Recorder() { Close(); }

std::unique_ptr<Recorder> Recorder::Open(const std::string& folder, const RunInfo& info, std::time_t start,
                                         std::string& error, std::uint64_t rotateBytes) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return nullptr;
    }
    RepairArchiveFolder(folder, error);
    std::string stem = RunStem(start);
    // Two runs started in one second get files of their own.
    for (int n = 1; std::filesystem::exists(folder + "/" + stem + "-00000.warc.gz", ec); ++n)
        stem = RunStem(start) + "-" + std::to_string(n);
    std::unique_ptr<Recorder> r(new Recorder(folder, stem, rotateBytes));
    for (const std::string& name : ArchiveFiles(folder)) {
        std::ifstream in(folder + "/" + IndexNameOf(name));
        std::string line;
        while (std::getline(in, line) && r->recorded_.size() < kMaxRemembered) {
            IndexEntry e;
            if (ParseIndexLine(line, e) && e.status == "200" && e.mime != "warc/revisit" && !e.digest.empty())
                r->Remember(e.url, e.digest, WarcDateFromTimestamp(e.timestamp));
        }
    }
    WarcRecord w = Begin("warcinfo", "", start, NewRecordId());
    w.fields.emplace_back("WARC-Filename", "");
    w.fields.emplace_back("Content-Type", "application/warc-fields");
    w.block = "software: " + info.software + "\r\nformat: WARC File Format 1.1\r\n" +
              "conformsTo: http://iipc.github.io/warc-specifications/specifications/warc-format/warc-1.1/\r\n" +
              "isPartOf: " + info.projectUrl + "\r\n";
    for (const auto& [key, value] : info.settings) w.block += key + ": " + value + "\r\n";
    w.fields.emplace_back("WARC-Block-Digest", Sha1Base32(w.block));
    r->writer_.SetInfo(w);
    return r;
}

void Recorder::Remember(const std::string& url, const std::string& digest, const std::string& date) {
    if (recorded_.size() >= kMaxRemembered && !recorded_.count(url)) return;
    recorded_[url] = Recorded{digest, date};
}

namespace {

// The digests of a response: of its block (every byte) and of its payload (the body after
// the head, its chunks decoded when it came chunked and they are well formed).
struct ResponseDigests {
    std::string block, payload;
};

constexpr std::size_t kDigestPiece = std::size_t{128} << 10;

ResponseDigests DigestsOf(const CapturedBytes& response, std::size_t bodyStart, bool chunked) {
    Sha1Digest block, raw, decoded;
    codings::ChunkedBody chunks;
    std::string content;
    bool decodable = chunked;
    std::uint64_t at = 0;
    const auto digest = [&](std::string_view bytes) {
        block.Add(bytes);
        if (at + bytes.size() > bodyStart) {
            const std::string_view body = bytes.substr(at >= bodyStart ? 0 : static_cast<std::size_t>(bodyStart - at));
            raw.Add(body);
            if (decodable && !chunks.Ended()) {
                content.clear();
                decodable = chunks.Feed(body.data(), body.size(), content) != codings::ChunkedBody::Result::Bad;
                decoded.Add(content);
            }
        }
        at += bytes.size();
    };
    // In pieces that stay in the cache between the digests that read them.
    const bool read = response.ForEach([&digest](std::string_view bytes) {
        for (std::size_t from = 0; from < bytes.size(); from += kDigestPiece) digest(bytes.substr(from, kDigestPiece));
    });
    ResponseDigests out;
    out.block = block.Finish();
    out.payload = decodable && chunks.Ended() ? decoded.Finish() : raw.Finish();
    if (!read) out.block.clear();
    return out;
}

}  // namespace

bool Recorder::RecordHttp(HttpExchange exchange) {
    // Digests, the revisit decision and compression are the writing thread's work: the
    // thread that hands the exchange over goes back to its transfers at once.
    const std::size_t bytes = exchange.response.Front().size() + exchange.request.size();
    auto x = std::make_shared<HttpExchange>(std::move(exchange));
    return writer_.Submit([this, x](std::string& error) { return WriteHttp(*x, error); }, bytes);
}

bool Recorder::WriteHttp(HttpExchange& x, std::string& error) {
    // The head lies in the bytes kept in memory (they are megabytes long).
    const std::string& front = x.response.Front();
    std::string_view head, body;
    const bool split = SplitHttpMessage(front, head, body);
    if (!split) head = front;
    const int status = HttpStatus(head);
    const bool chunked = split && HttpHeaderValue(head, "Transfer-Encoding").find("chunked") != std::string::npos;
    const ResponseDigests digests = DigestsOf(x.response, split ? front.size() - body.size() : front.size(), chunked);
    if (digests.block.empty()) {
        error = "cannot read back the captured answer of " + x.url;
        return false;
    }
    const std::string& payloadDigest = digests.payload;
    const std::string requestId = NewRecordId(), responseId = NewRecordId();
    const auto known = recorded_.find(x.url);

    WarcRecord response;
    if (status == 304 ||
        (status == 200 && !x.truncated && known != recorded_.end() && known->second.digest == payloadDigest)) {
        response = Begin("revisit", x.url, x.date, responseId);
        response.fields.emplace_back("WARC-Profile", status == 304 ? kRevisitNotModified : kRevisitIdentical);
        if (known != recorded_.end()) {
            response.fields.emplace_back("WARC-Refers-To-Target-URI", x.url);
            response.fields.emplace_back("WARC-Refers-To-Date", known->second.date);
        }
        // The body is the one recorded before: only the header is kept.
        response.block = std::string(head) + (split ? "\r\n\r\n" : "");
        response.fields.emplace_back("WARC-Block-Digest", Sha1Base32(response.block));
        if (status == 200) response.fields.emplace_back("WARC-Truncated", "length");
    } else {
        response = Begin("response", x.url, x.date, responseId);
        if (x.truncated || x.response.Truncated()) response.fields.emplace_back("WARC-Truncated", "length");
        response.fields.emplace_back("WARC-Block-Digest", digests.block);
        response.block = x.response.TakeFront();
        if (x.response.Spilled()) response.blockTail = std::make_shared<CapturedBytes>(std::move(x.response));
    }
    response.fields.emplace_back("WARC-Concurrent-To", requestId);
    if (!x.ipAddress.empty()) response.fields.emplace_back("WARC-IP-Address", x.ipAddress);
    response.fields.emplace_back("Content-Type", "application/http;msgtype=response");
    if (split && status != 304) response.fields.emplace_back("WARC-Payload-Digest", payloadDigest);

    WarcRecord request = Begin("request", x.url, x.date, requestId);
    request.fields.emplace_back("WARC-Concurrent-To", responseId);
    if (!x.ipAddress.empty()) request.fields.emplace_back("WARC-IP-Address", x.ipAddress);
    request.fields.emplace_back("Content-Type", "application/http;msgtype=request");
    request.block = std::move(x.request);
    request.fields.emplace_back("WARC-Block-Digest", Sha1Base32(request.block));

    const bool whole = response.Field("WARC-Type") == "response";
    if (!writer_.WriteHere(request, error) || !writer_.WriteHere(response, error)) return false;
    responseIds_[x.url] = responseId;
    if (status == 200 && !x.truncated && whole) Remember(x.url, payloadDigest, WarcDate(x.date));
    return true;
}

bool Recorder::RecordResource(const std::string& url, const std::string& contentType, CapturedBytes body,
                              std::time_t date) {
    const std::size_t bytes = body.Front().size();
    auto shared = std::make_shared<CapturedBytes>(std::move(body));
    return writer_.Submit([this, url, contentType, shared,
                           date](std::string& error) { return WriteResource(url, contentType, *shared, date, error); },
                          bytes);
}

bool Recorder::WriteResource(const std::string& url, const std::string& contentType, CapturedBytes& body,
                             std::time_t date, std::string& error) {
    const std::string id = NewRecordId();
    WarcRecord r = Begin("resource", url, date, id);
    r.fields.emplace_back("Content-Type", contentType.empty() ? "application/octet-stream" : contentType);
    Sha1Digest sha1;
    if (!body.ForEach([&sha1](std::string_view bytes) { sha1.Add(bytes); })) {
        error = "cannot read back the captured body of " + url;
        return false;
    }
    const std::string digest = sha1.Finish();
    r.fields.emplace_back("WARC-Block-Digest", digest);
    r.fields.emplace_back("WARC-Payload-Digest", digest);
    if (body.Truncated()) r.fields.emplace_back("WARC-Truncated", "length");
    r.block = body.TakeFront();
    if (body.Spilled()) r.blockTail = std::make_shared<CapturedBytes>(std::move(body));
    if (!writer_.WriteHere(r, error)) return false;
    responseIds_[url] = id;
    return true;
}

bool Recorder::RecordOutlinks(const std::string& url, std::vector<std::string> links, std::time_t date) {
    // The links are handed over as they are: the block is made on the writing thread.
    std::size_t bytes = 0;
    for (const std::string& link : links) bytes += link.size() + sizeof(std::string);
    auto shared = std::make_shared<std::vector<std::string>>(std::move(links));
    return writer_.Submit(
        [this, url, shared, date](std::string& error) {
            WarcRecord r = Begin("metadata", url, date, NewRecordId());
            // The page's own record was made by an earlier job: its name is known here.
            auto id = responseIds_.find(url);
            if (id != responseIds_.end()) r.fields.emplace_back("WARC-Refers-To", id->second);
            r.fields.emplace_back("Content-Type", "application/warc-fields");
            r.block = OutlinksBlock(*shared);
            r.fields.emplace_back("WARC-Block-Digest", Sha1Base32(r.block));
            return writer_.WriteHere(r, error);
        },
        bytes);
}

std::string OutlinksBlock(const std::vector<std::string>& links) {
    constexpr std::string_view kField = "outlink: ";
    std::size_t size = 0;
    for (const std::string& link : links) size += kField.size() + link.size() + 2;
    std::string block;
    block.reserve(size);
    for (const std::string& link : links) {
        // A line break inside a link would end its field early. (One pass without a branch
        // per byte: links are short and almost never hold one.)
        bool breaks = false;
        for (const char c : link) breaks |= (c == '\n') | (c == '\r');
        if (breaks) continue;
        block.append(kField).append(link).append("\r\n");
    }
    return block;
}

bool Recorder::Close() { return writer_.Close(); }

std::string Recorder::Error() const { return writer_.Error(); }

}  // namespace qm::archive
