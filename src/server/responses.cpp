#include "server/responses.h"

#include "server/page_text.h"

namespace qm::server {

namespace {
const char kServerLine[] = "Server: Velloran 4.0 (Win32)\r\n";
const char kStubStart[] = "<HTML><HEAD><META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=";
constexpr std::size_t kStubStartLength = sizeof(kStubStart) - 1;  // 55
// Digits of a range start beyond this many would not fit a file size anyway.
constexpr std::size_t kMaxRangeDigits = 18;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string PageHeader(std::size_t pageLength) {
    return std::string("HTTP/1.0 200 OK\r\n") + kServerLine +
           "Content-Type: text/html\r\nContent-Length: " + std::to_string(pageLength) + "\r\n\r\n";
}

std::string Response302(const std::string& location) {
    const std::string shown = HtmlText(location);
    const std::string body = "<html><body>Object Moved to <a href=\"" + shown + "\">" + shown + "</a></body></html>";
    return std::string("HTTP/1.0 302 Object Moved\r\n") + kServerLine +
           "Content-Type: text/html\r\nLocation: " + location + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

const std::string& Response404() {
    static const std::string text =
        "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 57\r\n\r\n"
        "<HTML><BODY><H1>404 Document Not Found</H1></BODY></HTML>\r\n";
    return text;
}

const std::string& Response421() {
    static const std::string body =
        "<html><body><h1>421 Misdirected Request</h1><p>This server answers only for 127.0.0.1, "
        "localhost and [::1].</p></body></html>";
    static const std::string text = std::string("HTTP/1.0 421 Misdirected Request\r\n") + kServerLine +
                                    "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\n\r\n" + body;
    return text;
}

const std::string& Response500() {
    static const std::string text = std::string("HTTP/1.0 500 Error\r\n") + kServerLine + "\r\n";
    return text;
}

std::string FileHeader(const std::string& contentType, std::int64_t fileSize, std::int64_t start, bool partial) {
    std::string h = "HTTP/1.0 ";
    h += partial ? "206 Partial content\r\n" : "200 OK\r\n";
    h += kServerLine;
    h += "Content-Type: " + contentType + "\r\n";
    h += "Content-Length: " + std::to_string(fileSize - start) + "\r\n";
    if (partial)
        h += "Content-Range: bytes " + std::to_string(start) + "-" + std::to_string(fileSize - 1) + "/" +
             std::to_string(fileSize) + "\r\n";
    h += "\r\n";
    return h;
}

RequestLine ParseRequestLine(const std::string& request) {
    RequestLine line;
    const std::size_t blank = request.find(' ');
    if (blank == std::string::npos) return line;
    line.method = request.substr(0, blank);
    std::size_t p = blank + 1;
    while (p < request.size() && static_cast<unsigned char>(request[p]) < 33) ++p;
    const std::size_t end = request.find(' ', p);
    if (end == std::string::npos) return line;
    line.path = request.substr(p, end - p);
    // A path carrying control characters (a request line broken across lines) cannot be
    // answered sensibly and must never reach a Location header: it counts as no path.
    for (char c : line.path)
        if (static_cast<unsigned char>(c) < 33) {
            line.path.clear();
            break;
        }
    return line;
}

bool ParseRangeStart(const std::string& request, std::int64_t& start) {
    const std::string lowered = Lower(request);
    const std::size_t at = lowered.find("range:");
    if (at == std::string::npos) return false;
    std::size_t b = at + 6, e = lowered.size();
    while (b < e && static_cast<unsigned char>(lowered[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(lowered[e - 1]) <= 32) --e;
    if (lowered.compare(b, 5, "bytes") != 0 || e - b < 5) return false;
    std::string digits;
    // The last character of the trimmed text is never looked at.
    for (std::size_t i = b + 5; i + 1 < e; ++i) {
        const char c = lowered[i];
        if (c == '\r' || c == '\n') break;
        if (IsDigit(c)) {
            if (digits.size() >= kMaxRangeDigits) return false;
            digits += c;
        } else if (!digits.empty()) {
            break;
        }
    }
    if (digits.empty()) return false;
    start = std::stoll(digits);
    return true;
}

int HexPair(char high, char low) {
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    const int h = value(high), l = value(low);
    if (h < 0 || l < 0) return 0;
    return h * 16 + l;
}

std::string DecodePercent(const std::string& text, std::size_t from) {
    if (from >= text.size()) return text;
    std::string out = text.substr(0, from);
    out.reserve(text.size());
    for (std::size_t i = from; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int byte = HexPair(text[i + 1], text[i + 2]);
            if (byte != 0) {
                out += static_cast<char>(byte);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool StubLocation(const std::string& head, std::string& location) {
    if (head.compare(0, kStubStartLength, kStubStart) != 0) return false;
    for (std::size_t i = kStubStartLength; i < head.size(); ++i) {
        const char c = head[i];
        if (c == '"') {
            location = head.substr(kStubStartLength, i - kStubStartLength);
            return true;
        }
        // The target belongs to the first line; a break before the quote means no stub.
        if (static_cast<unsigned char>(c) < 32) return false;
    }
    return false;
}

}  // namespace qm::server
