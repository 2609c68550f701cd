// Answers to WWW-Authenticate challenges: which challenge is picked from a header, and the
// Digest answers of RFC 7616's own examples.
#include <gtest/gtest.h>

#include "net/http_auth.h"

namespace qm {
namespace {

TEST(HttpAuth, StrongestAnswerableChallengeIsPicked) {
    // Several challenges on one line and over several lines; SHA-256 beats MD5 beats Basic.
    const std::string header =
        "HTTP/1.0 401 Unauthorized\r\nwww-authenticate: Basic realm=\"b\", Digest realm=\"d\", "
        "nonce=\"n1\", qop=\"auth-int, auth\", algorithm=MD5\r\n"
        "WWW-Authenticate: Digest realm=\"s\", nonce=\"n2\", algorithm=SHA-256, qop=\"auth\", "
        "opaque=\"o\\\"q\"\r\n\r\n";
    net::AuthChallenge c = net::PickChallenge(header);
    EXPECT_EQ(c.kind, net::AuthChallenge::kDigest);
    EXPECT_EQ(c.algorithm, "SHA-256");
    EXPECT_EQ(c.nonce, "n2");
    EXPECT_EQ(c.opaque, "o\"q");
    EXPECT_TRUE(c.qopAuth);

    // Only auth-int, an unknown algorithm or no nonce cannot be answered: Basic remains.
    c = net::PickChallenge(
        "WWW-Authenticate: Digest realm=\"x\", nonce=\"n\", qop=\"auth-int\"\r\n"
        "WWW-Authenticate: Digest realm=\"x\", nonce=\"n\", algorithm=SHA-512-256\r\n"
        "WWW-Authenticate: Digest realm=\"x\"\r\n"
        "WWW-Authenticate: Basic realm=\"only\"\r\n");
    EXPECT_EQ(c.kind, net::AuthChallenge::kBasic);
    EXPECT_EQ(c.realm, "only");

    // No challenge line, another scheme, or garbage: nothing to answer.
    EXPECT_FALSE(net::HasAuthenticateLine("HTTP/1.0 401 Unauthorized\r\nX-Authenticate: Basic\r\n"));
    EXPECT_TRUE(net::HasAuthenticateLine("WWW-Authenticate: Negotiate abc==\r\n"));
    EXPECT_EQ(net::PickChallenge("WWW-Authenticate: Negotiate abc==\r\n").kind, net::AuthChallenge::kNone);
    EXPECT_EQ(net::PickChallenge("WWW-Authenticate: ,,\"=\t=@@ Digest nonce=\"unterminated\r\n").kind,
              net::AuthChallenge::kDigest);
}

TEST(HttpAuth, AnswersMatchTheRfcExamples) {
    // RFC 7616, 3.9.1: the same request answered with MD5 and with SHA-256.
    net::AuthChallenge c = net::PickChallenge(
        "WWW-Authenticate: Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
        "algorithm=MD5, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
        "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"\r\n");
    const std::string cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    std::string v = net::AuthorizationValue(c, "Mufasa", "Circle of Life", "GET", "/dir/index.html", cnonce);
    EXPECT_NE(v.find("response=\"8ca523f5e9506fed4657c9700eebdbec\""), std::string::npos) << v;
    EXPECT_NE(v.find("qop=auth, nc=00000001, cnonce=\"" + cnonce + "\""), std::string::npos) << v;
    EXPECT_NE(v.find("opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\""), std::string::npos);
    EXPECT_NE(v.find("uri=\"/dir/index.html\""), std::string::npos);

    c.algorithm = "SHA-256";
    v = net::AuthorizationValue(c, "Mufasa", "Circle of Life", "GET", "/dir/index.html", cnonce);
    EXPECT_NE(v.find("response=\"753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1\""),
              std::string::npos)
        << v;

    // Basic, as RFC 7617 writes it; a user name cannot break the header line.
    net::AuthChallenge basic = net::PickChallenge("WWW-Authenticate: Basic realm=\"WallyWorld\"\r\n");
    EXPECT_EQ(net::AuthorizationValue(basic, "Aladdin", "open sesame", "GET", "/", ""),
              "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    v = net::AuthorizationValue(c, "a\"b\r\nX: y", "p", "GET", "/", "c");
    EXPECT_EQ(v.find('\n'), std::string::npos);
    EXPECT_NE(v.find("username=\"a\\\"bX: y\""), std::string::npos) << v;

    EXPECT_EQ(net::NewClientNonce().size(), 32u);
    EXPECT_NE(net::NewClientNonce(), net::NewClientNonce());
}

}  // namespace
}  // namespace qm
