#include "net/ftp_reply.h"

#include <limits>

namespace qm::net {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The three-digit code a line begins with, or 0.
int LineCode(std::string_view line) {
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return 0;
    if (line[0] == '0') return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// The character after the code: '-', ' ', or '\n'/'\r' for a bare code, 0 for anything else.
char CodeSeparator(std::string_view line) {
    if (line.size() < 4) return '\n';
    return line[3];
}

bool EndsReply(std::string_view line, int code) {
    if (LineCode(line) != code) return false;
    char sep = CodeSeparator(line);
    return sep == ' ' || sep == '\r' || sep == '\n';
}

}  // namespace

bool FtpReplyReader::Feed(const char* data, std::size_t size) {
    // What is left after Next has taken every complete reply is one unfinished reply.
    if (pending_.size() > kMaxReplyBytes) return false;
    pending_.append(data, size);
    return true;
}

std::optional<FtpReply> FtpReplyReader::Next() {
    std::size_t firstEnd = pending_.find('\n');
    if (firstEnd == std::string::npos) return std::nullopt;
    std::string_view all(pending_);
    std::string_view first = all.substr(0, firstEnd + 1);
    int code = LineCode(first);
    std::size_t end = firstEnd + 1;
    if (code != 0 && CodeSeparator(first) == '-') {
        // Lines follow until the one that begins with the same code and a blank.
        std::size_t pos = std::max(end, scanned_);
        bool found = false;
        while (pos < all.size()) {
            std::size_t lineEnd = all.find('\n', pos);
            if (lineEnd == std::string::npos) break;
            if (EndsReply(all.substr(pos, lineEnd + 1 - pos), code)) {
                end = lineEnd + 1;
                found = true;
                break;
            }
            pos = lineEnd + 1;
        }
        if (!found) {
            scanned_ = pos;
            return std::nullopt;
        }
    } else if (code != 0 && !EndsReply(first, code)) {
        code = 0;  // "123x...": not a reply line
    }
    FtpReply reply;
    reply.code = code;
    reply.digit = code / 100;
    reply.text.assign(pending_, 0, end);
    pending_.erase(0, end);
    scanned_ = 0;
    return reply;
}

void FtpReplyReader::Clear() {
    pending_.clear();
    scanned_ = 0;
}

std::int64_t FtpDigitsValue(std::string_view text, std::size_t from, std::size_t* digits) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    std::size_t n = 0;
    for (std::size_t i = from; i < text.size() && IsDigit(text[i]); ++i, ++n) {
        int d = text[i] - '0';
        if (value > (kMax - d) / 10)
            value = kMax;
        else
            value = value * 10 + d;
    }
    if (digits) *digits = n;
    return value;
}

std::string FtpSizeDigits(std::string_view reply) {
    std::size_t blank = reply.find(' ');
    if (blank == std::string_view::npos) return {};
    std::size_t n = 0;
    FtpDigitsValue(reply, blank + 1, &n);
    return std::string(reply.substr(blank + 1, n));
}

std::optional<std::string> FtpTransferSizeDigits(std::string_view reply) {
    std::size_t at = reply.find(" bytes)");
    if (at == std::string_view::npos) return std::nullopt;
    std::size_t begin = at;
    while (begin > 1 && IsDigit(reply[begin - 1])) --begin;
    return std::string(reply.substr(begin, at - begin));
}

bool FtpSafeArgument(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace qm::net
