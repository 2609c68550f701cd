// Answers to "WWW-Authenticate" challenges: Basic and Digest (RFC 7616), hashes by OpenSSL.
#include "net/http_auth.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <vector>

#include "net/http_client.h"

namespace qm::net {

namespace {

constexpr std::size_t kMostHeaderRead = 64 * 1024;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

// A token character of RFC 9110.
bool IsTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    for (const char* p = "!#$%&'*+-.^_`|~"; *p; ++p)
        if (c == *p) return true;
    return false;
}

struct Parsed {
    std::string scheme;
    std::vector<std::pair<std::string, std::string>> params;
    std::string Param(std::string_view name) const {
        for (const auto& p : params)
            if (EqualNoCase(p.first, name)) return p.second;
        return {};
    }
};

// Reads the challenges of one header value. Every step consumes at least one character.
void ParseChallenges(std::string_view v, std::vector<Parsed>& out) {
    std::size_t i = 0;
    const std::size_t n = v.size();
    auto skipBlanks = [&] {
        while (i < n && (v[i] == ' ' || v[i] == '\t')) ++i;
    };
    auto token = [&] {
        const std::size_t s = i;
        while (i < n && IsTokenChar(v[i])) ++i;
        return std::string(v.substr(s, i - s));
    };
    while (i < n) {
        while (i < n && (v[i] == ' ' || v[i] == '\t' || v[i] == ',')) ++i;
        std::string scheme = token();
        if (scheme.empty()) {
            if (i < n) ++i;  // a stray character
            continue;
        }
        Parsed c;
        c.scheme = std::move(scheme);
        while (i < n) {
            const std::size_t before = i;
            while (i < n && (v[i] == ' ' || v[i] == '\t' || v[i] == ',')) ++i;
            std::string name = token();
            skipBlanks();
            if (name.empty() || i >= n || v[i] != '=') {
                i = before;  // the next challenge's scheme (or a token68, read as one)
                if (name.empty()) {
                    while (i < n && (v[i] == ' ' || v[i] == '\t' || v[i] == ',')) ++i;
                }
                break;
            }
            ++i;
            skipBlanks();
            std::string value;
            if (i < n && v[i] == '"') {
                ++i;
                while (i < n && v[i] != '"') {
                    if (v[i] == '\\' && i + 1 < n) ++i;
                    value.push_back(v[i++]);
                }
                if (i < n) ++i;
            } else {
                while (i < n && (IsTokenChar(v[i]) || v[i] == '/' || v[i] == '=')) value.push_back(v[i++]);
            }
            c.params.emplace_back(std::move(name), std::move(value));
        }
        out.push_back(std::move(c));
    }
}

std::vector<Parsed> Challenges(std::string_view header) {
    if (header.size() > kMostHeaderRead) header = header.substr(0, kMostHeaderRead);
    static constexpr std::string_view kName = "www-authenticate:";
    std::vector<Parsed> out;
    std::size_t line = 0;
    while (line < header.size()) {
        std::size_t end = header.find('\n', line);
        if (end == std::string_view::npos) end = header.size();
        std::string_view text = header.substr(line, end - line);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (text.size() >= kName.size() && EqualNoCase(text.substr(0, kName.size()), kName))
            ParseChallenges(text.substr(kName.size()), out);
        line = end + 1;
    }
    return out;
}

bool OffersAuth(const std::string& qop) {
    std::size_t i = 0;
    while (i < qop.size()) {
        std::size_t end = qop.find(',', i);
        if (end == std::string::npos) end = qop.size();
        std::string_view one(qop.data() + i, end - i);
        while (!one.empty() && (one.front() == ' ' || one.front() == '\t')) one.remove_prefix(1);
        while (!one.empty() && (one.back() == ' ' || one.back() == '\t')) one.remove_suffix(1);
        if (EqualNoCase(one, "auth")) return true;
        i = end + 1;
    }
    return false;
}

const EVP_MD* DigestOf(const std::string& algorithm) {
    std::string_view a = algorithm;
    if (a.size() > 5 && EqualNoCase(a.substr(a.size() - 5), "-sess")) a.remove_suffix(5);
    if (a.empty() || EqualNoCase(a, "MD5")) return EVP_md5();
    if (EqualNoCase(a, "SHA-256")) return EVP_sha256();
    return nullptr;
}

bool IsSession(const std::string& algorithm) {
    return algorithm.size() > 5 && EqualNoCase(std::string_view(algorithm).substr(algorithm.size() - 5), "-sess");
}

std::string HexHash(const EVP_MD* md, const std::string& text) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (EVP_Digest(text.data(), text.size(), out, &len, md, nullptr) != 1) return {};
    static const char* kHex = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < len; ++i) {
        hex.push_back(kHex[out[i] >> 4]);
        hex.push_back(kHex[out[i] & 15]);
    }
    return hex;
}

// A quoted-string of RFC 9110: '"' and '\' escaped, line breaks left out.
std::string Quoted(const std::string& text) {
    std::string q = "\"";
    for (char c : text) {
        if (c == '\r' || c == '\n') continue;
        if (c == '"' || c == '\\') q.push_back('\\');
        q.push_back(c);
    }
    q.push_back('"');
    return q;
}

}  // namespace

bool HasAuthenticateLine(std::string_view header) { return !Challenges(header).empty(); }

AuthChallenge PickChallenge(std::string_view header) {
    AuthChallenge best;
    int bestRank = 0;  // 1 Basic, 2 Digest MD5, 3 Digest SHA-256
    for (const Parsed& c : Challenges(header)) {
        int rank = 0;
        AuthChallenge a;
        if (EqualNoCase(c.scheme, "Basic")) {
            rank = 1;
            a.kind = AuthChallenge::kBasic;
            a.realm = c.Param("realm");
        } else if (EqualNoCase(c.scheme, "Digest")) {
            a.kind = AuthChallenge::kDigest;
            a.realm = c.Param("realm");
            a.nonce = c.Param("nonce");
            a.opaque = c.Param("opaque");
            a.algorithm = c.Param("algorithm");
            const std::string qop = c.Param("qop");
            a.qopAuth = OffersAuth(qop);
            const EVP_MD* md = DigestOf(a.algorithm);
            // Without "auth" among the offered qop values there is nothing this client may answer.
            if (md && !a.nonce.empty() && (qop.empty() || a.qopAuth)) rank = md == EVP_sha256() ? 3 : 2;
        }
        if (rank > bestRank) {
            bestRank = rank;
            best = std::move(a);
        }
    }
    return best;
}

std::string AuthorizationValue(const AuthChallenge& ch, const std::string& user, const std::string& password,
                               const std::string& method, const std::string& uri, const std::string& cnonce) {
    if (ch.kind == AuthChallenge::kBasic) return "Basic " + DownloadConnection::Base64(user + ":" + password);
    if (ch.kind != AuthChallenge::kDigest) return {};
    const EVP_MD* md = DigestOf(ch.algorithm);
    if (!md) return {};
    static const std::string nc = "00000001";
    std::string ha1 = HexHash(md, user + ":" + ch.realm + ":" + password);
    if (IsSession(ch.algorithm)) ha1 = HexHash(md, ha1 + ":" + ch.nonce + ":" + cnonce);
    const std::string ha2 = HexHash(md, method + ":" + uri);
    const std::string response = ch.qopAuth
                                     ? HexHash(md, ha1 + ":" + ch.nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2)
                                     : HexHash(md, ha1 + ":" + ch.nonce + ":" + ha2);
    std::string v = "Digest username=" + Quoted(user) + ", realm=" + Quoted(ch.realm) + ", nonce=" + Quoted(ch.nonce) +
                    ", uri=" + Quoted(uri);
    if (!ch.algorithm.empty()) v += ", algorithm=" + ch.algorithm;
    if (ch.qopAuth) v += ", qop=auth, nc=" + nc + ", cnonce=" + Quoted(cnonce);
    v += ", response=" + Quoted(response);
    if (!ch.opaque.empty()) v += ", opaque=" + Quoted(ch.opaque);
    return v;
}

std::string NewClientNonce() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return "0123456789abcdef";
    static const char* kHex = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 15]);
    }
    return hex;
}

}  // namespace qm::net
