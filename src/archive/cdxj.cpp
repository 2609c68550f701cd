// CDXJ lines as replay tools read them (pywb's keys and value forms).
#include "archive/cdxj.h"

#include <algorithm>

namespace qm::archive {

namespace {

std::string Lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

// The value of "key" in one of our own JSON lines (string values without escapes beyond \" and \\).
std::string JsonValue(std::string_view json, std::string_view key) {
    const std::string pattern = "\"" + std::string(key) + "\": \"";
    std::size_t at = json.find(pattern);
    if (at == std::string_view::npos) return {};
    at += pattern.size();
    std::string out;
    for (; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] == '\\' && at + 1 < json.size()) ++at;
        out += json[at];
    }
    return out;
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Surt(std::string_view url) {
    std::string u = Lowered(url);
    std::size_t scheme = u.find("://");
    std::string rest = scheme == std::string::npos ? u : u.substr(scheme + 3);
    std::size_t slash = rest.find_first_of("/?#");
    std::string host = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    if (path[0] != '/') path = "/" + path;
    std::size_t hash = path.find('#');
    if (hash != std::string::npos) path.resize(hash);
    std::size_t at = host.rfind('@');
    if (at != std::string::npos) host = host.substr(at + 1);
    std::string port;
    std::size_t colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']') == std::string::npos) {
        port = host.substr(colon + 1);
        host.resize(colon);
        if (port == "80" || port == "443") port.clear();
    }
    if (host.rfind("www.", 0) == 0) host = host.substr(4);
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
        std::size_t dot = host.find('.', from);
        parts.push_back(host.substr(from, dot == std::string::npos ? dot : dot - from));
        if (dot == std::string::npos) break;
        from = dot + 1;
    }
    std::string key;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) key += (key.empty() ? "" : ",") + *it;
    if (!port.empty()) key += ":" + port;
    std::size_t q = path.find('?');
    if (q != std::string::npos) {
        std::vector<std::string> args;
        std::string query = path.substr(q + 1);
        for (std::size_t from = 0;;) {
            std::size_t amp = query.find('&', from);
            args.push_back(query.substr(from, amp == std::string::npos ? amp : amp - from));
            if (amp == std::string::npos) break;
            from = amp + 1;
        }
        std::sort(args.begin(), args.end());
        path.resize(q + 1);
        for (std::size_t i = 0; i < args.size(); ++i) path += (i ? "&" : "") + args[i];
    }
    return key + ")" + path;
}

bool EntryOf(const WarcRecord& record, std::uint64_t offset, std::uint64_t length, const std::string& filename,
             IndexEntry& out) {
    const std::string type = record.Field("WARC-Type");
    if (type != "response" && type != "revisit" && type != "resource") return false;
    out = IndexEntry{};
    out.url = record.Field("WARC-Target-URI");
    if (out.url.size() > 1 && out.url.front() == '<' && out.url.back() == '>')
        out.url = out.url.substr(1, out.url.size() - 2);
    out.timestamp = IndexTimestamp(record.Field("WARC-Date"));
    out.digest = record.Field("WARC-Payload-Digest");
    if (out.digest.empty()) out.digest = record.Field("WARC-Block-Digest");
    out.filename = filename;
    out.offset = offset;
    out.length = length;
    if (type == "resource") {
        out.mime = record.Field("Content-Type");
        out.status = "200";
    } else {
        std::string_view head, body;
        if (!SplitHttpMessage(record.block, head, body)) head = record.block;
        const int status = HttpStatus(head);
        out.status = status ? std::to_string(status) : "";
        out.mime = type == "revisit" ? "warc/revisit" : HttpHeaderValue(head, "Content-Type");
        std::size_t semi = out.mime.find(';');
        if (semi != std::string::npos) out.mime.resize(semi);
    }
    return !out.url.empty() && !out.timestamp.empty();
}

std::string IndexLine(const IndexEntry& e) {
    std::string json = "{\"url\": " + JsonString(e.url);
    if (!e.mime.empty()) json += ", \"mime\": " + JsonString(e.mime);
    if (!e.status.empty()) json += ", \"status\": " + JsonString(e.status);
    if (!e.digest.empty()) json += ", \"digest\": " + JsonString(e.digest);
    json += ", \"length\": \"" + std::to_string(e.length) + "\", \"offset\": \"" + std::to_string(e.offset) +
            "\", \"filename\": " + JsonString(e.filename) + "}";
    return Surt(e.url) + " " + e.timestamp + " " + json;
}

std::string IndexText(const std::vector<IndexEntry>& entries) {
    std::vector<std::string> lines;
    lines.reserve(entries.size());
    for (const IndexEntry& e : entries) lines.push_back(IndexLine(e));
    std::sort(lines.begin(), lines.end());  // bytewise, as LC_ALL=C sort
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

bool ParseIndexLine(std::string_view line, IndexEntry& out) {
    std::size_t sp1 = line.find(' ');
    if (sp1 == std::string_view::npos) return false;
    std::size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos) return false;
    std::string_view json = line.substr(sp2 + 1);
    out = IndexEntry{};
    out.timestamp = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
    out.url = JsonValue(json, "url");
    out.mime = JsonValue(json, "mime");
    out.status = JsonValue(json, "status");
    out.digest = JsonValue(json, "digest");
    out.filename = JsonValue(json, "filename");
    const std::string offset = JsonValue(json, "offset"), length = JsonValue(json, "length");
    if (out.url.empty() || offset.empty() || length.empty() || offset.size() > 18 || length.size() > 18 ||
        offset.find_first_not_of("0123456789") != std::string::npos ||
        length.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out.offset = std::stoull(offset);
    out.length = std::stoull(length);
    return true;
}

}  // namespace qm::archive
