// Reading and writing cookies.txt, and importing Firefox's cookies.sqlite.
#include "net/cookie_file.h"

#include <sqlite3.h>

#include <fstream>
#include <vector>

namespace qm::net {

namespace {

constexpr char kHttpOnlyPrefix[] = "#HttpOnly_";

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (fields.size() < 8) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

bool ReadNumber(const std::string& text, std::int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int ImportSqlite(const std::string& path, CookieJar& jar, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "cannot open the database";
        sqlite3_close(db);
        return -1;
    }
    sqlite3_stmt* query = nullptr;
    const char* sql = "SELECT host, path, isSecure, expiry, name, value, isHttpOnly FROM moz_cookies";
    if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) != SQLITE_OK) {
        error = std::string("not a Firefox cookie database: ") + sqlite3_errmsg(db);
        sqlite3_close(db);
        return -1;
    }
    auto text = [&](int column) {
        const unsigned char* t = sqlite3_column_text(query, column);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    int added = 0;
    std::size_t rows = 0;
    while (sqlite3_step(query) == SQLITE_ROW && ++rows <= CookieJar::kMaxCookies * 10) {
        Cookie c;
        const std::string host = text(0);
        c.hostOnly = host.empty() || host[0] != '.';
        c.domain = host;
        c.path = text(1);
        c.secure = sqlite3_column_int(query, 2) != 0;
        std::int64_t expiry = sqlite3_column_int64(query, 3);
        // Newer Firefox versions keep milliseconds.
        if (expiry > 100000000000LL) expiry /= 1000;
        c.expires = expiry > 0 ? expiry : 0;
        c.name = text(4);
        c.value = text(5);
        c.httpOnly = sqlite3_column_int(query, 6) != 0;
        if (jar.Add(std::move(c))) ++added;
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return added;
}

}  // namespace

std::string CookiesText(const CookieJar& jar) {
    std::string out = "# Netscape HTTP Cookie File\n";
    for (const Cookie& c : jar.Cookies()) {
        if (c.httpOnly) out += kHttpOnlyPrefix;
        out += (c.hostOnly ? "" : ".") + c.domain + "\t" + (c.hostOnly ? "FALSE" : "TRUE") + "\t" + c.path + "\t" +
               (c.secure ? "TRUE" : "FALSE") + "\t" + std::to_string(c.expires) + "\t" + c.name + "\t" + c.value + "\n";
    }
    return out;
}

int ReadCookiesText(const std::string& text, CookieJar& jar) {
    int added = 0;
    std::size_t start = 0;
    const std::size_t size = std::min(text.size(), kMaxCookieFileBytes);
    while (start < size) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos || end > size) end = size;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > CookieJar::kMaxLineBytes) continue;
        Cookie c;
        if (line.rfind(kHttpOnlyPrefix, 0) == 0) {
            c.httpOnly = true;
            line.erase(0, sizeof kHttpOnlyPrefix - 1);
        } else if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::vector<std::string> f = SplitTabs(line);
        if (f.size() != 7) continue;
        std::int64_t expires = 0;
        if (!ReadNumber(f[4], expires)) continue;
        c.domain = f[0];
        c.hostOnly = f[1] != "TRUE" && (c.domain.empty() || c.domain[0] != '.');
        c.path = f[2];
        c.secure = f[3] == "TRUE";
        c.expires = expires;
        c.name = f[5];
        c.value = f[6];
        if (jar.Add(std::move(c))) ++added;
    }
    return added;
}

int ImportCookieFile(const std::string& path, CookieJar& jar, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return -1;
    }
    std::string text(kMaxCookieFileBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.rfind("SQLite format 3", 0) == 0) return ImportSqlite(path, jar, error);
    return ReadCookiesText(text, jar);
}

}  // namespace qm::net
