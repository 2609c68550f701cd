#include "net/ftp_listing.h"

namespace qm::net {

namespace {

bool IsSeparator(unsigned char c) { return c <= ' ' || c == 0x7F; }

// Text for the page: the characters that would start or end markup become entities.
void AppendEscapedText(std::string_view text, std::string& out) {
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
}

// A link target: characters that would end the attribute, start markup, or change the
// meaning of the address ("#", "?", "%") are written as %XX escapes, which the connection
// decodes again before the name goes to the server.
void AppendEscapedTarget(std::string_view text, std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '&' || c == '%' || c == '#' || c == '?' ||
            c == '\'') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
}

}  // namespace

bool IsPermissionText(std::string_view field) {
    if (field.size() < 10) return false;
    char first = field[0];
    if (first != '-' && first != 'd' && first != 'f' && first != 'l') return false;
    // Set-id and sticky bits (s, S, t, T) take the place of an x; a mark after the ten
    // characters ("." or "+") says the file has a security context or access list.
    for (std::size_t i = 1; i < 10; ++i) {
        char c = field[i];
        if (c != '-' && c != 'r' && c != 'w' && c != 'x' && c != 's' && c != 'S' && c != 't' && c != 'T') return false;
    }
    for (std::size_t i = 10; i < field.size(); ++i)
        if (field[i] != '.' && field[i] != '+' && field[i] != '@') return false;
    return true;
}

void FtpListingConverter::ConvertLine(std::string_view line, std::string& out) {
    // Find where each field begins; the name is the ninth field and runs to the line's end.
    std::size_t pos = 0, nameStart = std::string_view::npos;
    std::string_view field0;
    for (int field = 0; field <= 8; ++field) {
        while (pos < line.size() && IsSeparator(static_cast<unsigned char>(line[pos]))) ++pos;
        if (pos >= line.size()) break;
        std::size_t start = pos;
        while (pos < line.size() && !IsSeparator(static_cast<unsigned char>(line[pos]))) ++pos;
        if (field == 0) {
            field0 = line.substr(start, pos - start);
            if (!IsPermissionText(field0)) break;
        }
        if (field == 8) nameStart = start;
    }
    if (nameStart == std::string_view::npos) {
        AppendEscapedText(line, out);
        return;
    }
    std::string_view target = line.substr(nameStart);
    // A symbolic link is listed as "name -> destination"; the entry is the name.
    if (field0[0] == 'l') {
        std::size_t arrow = target.find(" -> ");
        if (arrow != std::string_view::npos) target = target.substr(0, arrow);
    }
    std::size_t wordEnd = 0;
    while (wordEnd < target.size() && !IsSeparator(static_cast<unsigned char>(target[wordEnd]))) ++wordEnd;
    AppendEscapedText(line.substr(0, nameStart), out);
    out += "<a href=\"";
    AppendEscapedTarget(target, out);
    if (field0[0] == 'd') out += '/';
    out += "\">";
    AppendEscapedText(target.substr(0, wordEnd), out);
    out += "</a>";
}

void FtpListingConverter::Reset() {
    carry_.clear();
    started_ = false;
    passingLongLine_ = false;
}

void FtpListingConverter::Convert(std::string_view piece, std::string& out) {
    if (!started_) {
        out += "<HTML><PRE>\r\n";
        started_ = true;
    }
    std::size_t pos = 0;
    while (pos < piece.size()) {
        std::size_t brk = piece.find_first_of("\r\n", pos);
        if (brk == std::string_view::npos) {
            std::string_view rest = piece.substr(pos);
            if (passingLongLine_) {
                AppendEscapedText(rest, out);
            } else if (carry_.size() + rest.size() > kMaxLineBytes) {
                AppendEscapedText(carry_, out);
                AppendEscapedText(rest, out);
                carry_.clear();
                passingLongLine_ = true;
            } else {
                carry_.append(rest);
            }
            return;
        }
        std::string_view part = piece.substr(pos, brk - pos);
        if (passingLongLine_) {
            AppendEscapedText(part, out);
            passingLongLine_ = false;
        } else if (carry_.empty()) {
            ConvertLine(part, out);
        } else {
            carry_.append(part);
            ConvertLine(carry_, out);
            carry_.clear();
        }
        out += piece[brk];
        pos = brk + 1;
    }
}

void FtpListingConverter::Finish(std::string& out) {
    if (!started_) {
        out += "<HTML><PRE>\r\n";
        started_ = true;
    }
    if (!carry_.empty()) ConvertLine(carry_, out);
    carry_.clear();
    passingLongLine_ = false;
}

}  // namespace qm::net
