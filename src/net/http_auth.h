#pragma once
// Answers to a server's "WWW-Authenticate" challenge: Basic, and Digest (MD5 and SHA-256,
// with or without "-sess", qop "auth" or none) as RFC 7616 describes it.
#include <string>
#include <string_view>

namespace qm::net {

struct AuthChallenge {
    enum Kind { kNone, kBasic, kDigest } kind = kNone;
    std::string realm, nonce, opaque, algorithm;
    bool qopAuth = false;  // the server offers qop "auth"
};

// The strongest challenge of a response header that this program can answer: Digest with
// SHA-256, then Digest with MD5, then Basic. kind is kNone when there is none. Reads at most
// the first 64 KiB of the header.
AuthChallenge PickChallenge(std::string_view header);

// Whether a response header carries any "WWW-Authenticate" line.
bool HasAuthenticateLine(std::string_view header);

// The value of the Authorization line answering challenge for a request of method and uri
// (the request target as sent). cnonce is the client's nonce for Digest; "nc" is always 1,
// since every answer goes out once.
std::string AuthorizationValue(const AuthChallenge& challenge, const std::string& user, const std::string& password,
                               const std::string& method, const std::string& uri, const std::string& cnonce);

// A fresh client nonce: 16 random bytes in hexadecimal.
std::string NewClientNonce();

}  // namespace qm::net
