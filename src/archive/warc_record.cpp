// Writing WARC records and reading the HTTP messages they hold.
#include "archive/warc_record.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/captured_bytes.h"

namespace qm::archive {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::string WarcRecord::Field(std::string_view name) const {
    for (const auto& [key, value] : fields)
        if (SameText(key, name)) return value;
    return {};
}

std::string WarcRecord::SerializedHead() const {
    std::string out = "WARC/1.1\r\n";
    for (const auto& [key, value] : fields) out += key + ": " + value + "\r\n";
    out += "Content-Length: " + std::to_string(BlockSize()) + "\r\n\r\n";
    return out;
}

std::uint64_t WarcRecord::BlockSize() const { return block.size() + (blockTail ? blockTail->Size() : 0); }

std::string WarcRecord::Serialize() const {
    return SerializedHead() + block + (blockTail ? blockTail->All() : std::string()) + "\r\n\r\n";
}

std::string WarcDate(std::time_t when) {
    std::tm t{};
    gmtime_r(&when, &t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &t);
    return text;
}

std::string IndexTimestamp(std::string_view d) {
    // YYYY-MM-DDTHH:MM:SS
    if (d.size() < 19 || d[4] != '-' || d[7] != '-' || d[10] != 'T' || d[13] != ':' || d[16] != ':') return {};
    std::string out;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) {
        if (d[i] < '0' || d[i] > '9') return {};
        out += d[i];
    }
    return out;
}

std::string WarcDateFromTimestamp(std::string_view t) {
    if (t.size() < 14) return {};
    std::string s(t.substr(0, 14));
    return s.substr(0, 4) + "-" + s.substr(4, 2) + "-" + s.substr(6, 2) + "T" + s.substr(8, 2) + ":" + s.substr(10, 2) +
           ":" + s.substr(12, 2) + "Z";
}

std::string NewRecordId() {
    // Random bytes are drawn a few hundred identifiers at a time: one draw per record costs
    // more than the rest of a small record's making.
    struct RandomBytes {
        unsigned char bytes[4096];
        std::size_t used = sizeof bytes;
    };
    thread_local RandomBytes random;
    if (random.used + 16 > sizeof random.bytes) {
        if (RAND_bytes(random.bytes, sizeof random.bytes) != 1)
            for (auto& c : random.bytes) c = static_cast<unsigned char>(std::rand());
        random.used = 0;
    }
    unsigned char b[16];
    std::memcpy(b, random.bytes + random.used, sizeof b);
    random.used += sizeof b;
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
    char text[64];
    std::snprintf(text, sizeof text, "<urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x>",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

bool SplitHttpMessage(std::string_view message, std::string_view& head, std::string_view& body) {
    const std::size_t crlf = message.find("\r\n\r\n");
    // A bare-LF head ends before the CR LF one; the body past it is not searched.
    const std::size_t lf = message.substr(0, crlf == std::string_view::npos ? crlf : crlf + 2).find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos) return false;
    if (crlf != std::string_view::npos && (lf == std::string_view::npos || crlf < lf)) {
        head = message.substr(0, crlf);
        body = message.substr(crlf + 4);
    } else {
        head = message.substr(0, lf);
        body = message.substr(lf + 2);
    }
    return true;
}

std::string HttpHeaderValue(std::string_view head, std::string_view name) {
    std::size_t at = head.find('\n');  // past the start line
    while (at != std::string_view::npos && at < head.size()) {
        std::size_t end = head.find('\n', at + 1);
        std::string_view line = head.substr(at + 1, end == std::string_view::npos ? end : end - at - 1);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && SameText(Trimmed(line.substr(0, colon)), name))
            return std::string(Trimmed(line.substr(colon + 1)));
        at = end;
    }
    return {};
}

int HttpStatus(std::string_view head) {
    if (head.substr(0, 5) != "HTTP/") return 0;
    std::size_t sp = head.find(' ');
    if (sp == std::string_view::npos || sp + 4 > head.size()) return 0;
    int code = 0;
    for (std::size_t i = sp + 1; i < sp + 4; ++i) {
        if (head[i] < '0' || head[i] > '9') return 0;
        code = code * 10 + (head[i] - '0');
    }
    return code;
}

}  // namespace qm::archive
