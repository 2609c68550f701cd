// Address parsing, the text helpers and the listening-socket routine.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/http_client.h"
#include "net/sockets.h"

using qm::net::DownloadConnection;

TEST(SetURL, HttpAddressesAndTheirDefaults) {
    qm::net::DownloadConnection c;
    c.SetURL("http://host");
    EXPECT_EQ(c.Scheme, qm::net::UrlScheme::Http);
    EXPECT_EQ(c.Host, "host");
    EXPECT_EQ(c.Port, 80);
    EXPECT_EQ(c.Path, "/");
    EXPECT_TRUE(c.PathIsDirectory);
    EXPECT_EQ(c.GetURL(), "http://host/");

    c.SetURL("  \t example.org/a/b.html\r\n");  // no scheme: http
    EXPECT_EQ(c.Scheme, qm::net::UrlScheme::Http);
    EXPECT_EQ(c.Host, "example.org");
    EXPECT_EQ(c.Path, "/a/b.html");
    EXPECT_FALSE(c.PathIsDirectory);

    c.SetURL("HTTP://Host:8080/a");
    EXPECT_EQ(c.Host, "Host");
    EXPECT_EQ(c.Port, 8080);
    EXPECT_EQ(c.GetURL(), "http://Host:8080/a");

    c.SetURL("http://host:x/a");
    EXPECT_EQ(c.Port, 80);
    EXPECT_EQ(c.Host, "host");

    // A colon after the first slash is part of the path.
    c.SetURL("http://host/a:b");
    EXPECT_EQ(c.Host, "host");
    EXPECT_EQ(c.Port, 80);
    EXPECT_EQ(c.Path, "/a:b");
}

TEST(SetURL, FtpDecodesEscapesOnlyWhenValid) {
    qm::net::DownloadConnection c;
    c.SetURL("ftp://host/a%20b");
    EXPECT_EQ(c.Scheme, qm::net::UrlScheme::Ftp);
    EXPECT_EQ(c.Port, 21);
    EXPECT_EQ(c.Path, "/a b");
    c.SetURL("ftp://host:2121/pub/");
    EXPECT_EQ(c.Port, 2121);
    EXPECT_TRUE(c.PathIsDirectory);
    EXPECT_EQ(c.GetURL(), "ftp://host:2121/pub/");
    c.SetURL("ftp://host/x%zz%00%4");  // invalid, zero and cut-off escapes stay
    EXPECT_EQ(c.Path, "/x%zz%00%4");
    c.SetURL("ftp://host:bad/f");
    EXPECT_EQ(c.Port, 80);
}

TEST(SetURL, FileAddresses) {
    qm::net::DownloadConnection c;
    c.Host = "kept";
    c.SetURL("file:///tmp/some file.html");
    EXPECT_EQ(c.Scheme, qm::net::UrlScheme::File);
    EXPECT_EQ(c.Path, "/tmp/some file.html");
    EXPECT_EQ(c.Host, "kept");
    EXPECT_EQ(c.GetURL(), "file:///tmp/some file.html");
    // A cleaned address keeps two slashes; its path is still absolute here.
    c.SetURL("file://tmp/cleaned.html");
    EXPECT_EQ(c.Path, "/tmp/cleaned.html");
    c.SetURL("file://c|/x");
    EXPECT_EQ(c.Path, "c:/x");
    // The first scheme found in the list order wins, wherever it stands.
    c.SetURL("view:file:///a?u=http://b/");
    EXPECT_EQ(c.Scheme, qm::net::UrlScheme::Http);
    EXPECT_EQ(c.Host, "b");
}

TEST(StatusText, PhrasesByCode) {
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(200), "200 OK");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(206), "206 Partial Content");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(301), "301 Object Moved");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(302), "302 Object Moved");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(304), "304 Not Modified");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(407), "407 Proxy Authentication Required");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(500), "500 Server/Gateway error");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(599), "599 Server/Gateway error");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(303), "303 Unknown");
    EXPECT_EQ(qm::net::DownloadConnection::StatusText(0), "0 Unknown");
}

TEST(Base64, StandardAlphabetAndPadding) {
    EXPECT_EQ(qm::net::DownloadConnection::Base64(""), "");
    EXPECT_EQ(qm::net::DownloadConnection::Base64("f"), "Zg==");
    EXPECT_EQ(qm::net::DownloadConnection::Base64("fo"), "Zm8=");
    EXPECT_EQ(qm::net::DownloadConnection::Base64("foo"), "Zm9v");
    EXPECT_EQ(qm::net::DownloadConnection::Base64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(qm::net::DownloadConnection::Base64(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(ContentTypeOf, LaterRulesOverrideEarlier) {
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("a/b/index.HTML"), "text/html");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("page.shtm"), "text/html");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("x.stm"), "text/html");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("p.JPEG"), "image/jpeg");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("p.gif"), "image/gif");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("q.asp"), "text/html");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("A.class"), "");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("s.js"), "application/x-javascript");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("data.bin"), "");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("_static/Theme.CSS"), "text/css");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("fig.svg"), "image/svg+xml");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("theme.css@2022.1"), "");  // named by its query
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("noext"), "");
    // A dot in a folder name is no extension.
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("c:\\dir.htm\\file"), "");
    EXPECT_EQ(qm::net::DownloadConnection::ContentTypeOf("/srv/dir.htm/file"), "");
}

TEST(TextHelpers, HasPrefixCountedToStringHexByte) {
    EXPECT_TRUE(qm::net::HasPrefix("HTTP/1.0", "HTTP"));
    EXPECT_TRUE(qm::net::HasPrefix("x", ""));
    EXPECT_TRUE(qm::net::HasPrefix("", ""));
    EXPECT_FALSE(qm::net::HasPrefix("http", "HTTP"));
    EXPECT_FALSE(qm::net::HasPrefix("HT", "HTTP"));

    const char raw[] = {'a', 'b', '\0', 'c'};
    EXPECT_EQ(qm::net::CountedToString(raw, 4), "ab");
    EXPECT_EQ(qm::net::CountedToString(raw, 1), "a");
    EXPECT_EQ(qm::net::CountedToString(nullptr, 3), "");

    EXPECT_EQ(qm::net::HexByte("4A"), 0x4a);
    EXPECT_EQ(qm::net::HexByte("ff"), 255);
    EXPECT_EQ(qm::net::HexByte("0g"), 0);
    EXPECT_EQ(qm::net::HexByte("4"), 0);
}

TEST(CreateListener, SystemPortAndFallbackRange) {
    int a = qm::net::CreateListener(0, 7000);
    ASSERT_NE(a, qm::net::kNoSocket);
    EXPECT_EQ(qm::net::LastListenPort, 0);
    int taken = qm::net::BoundPort(a);
    EXPECT_GT(taken, 0);

    // The port is busy: the first free alternative is taken.
    int b = qm::net::CreateListener(taken, taken);
    ASSERT_NE(b, qm::net::kNoSocket);
    EXPECT_EQ(qm::net::LastListenPort, qm::net::BoundPort(b));
    EXPECT_GT(qm::net::BoundPort(b), taken);
    EXPECT_LE(qm::net::BoundPort(b), taken + 2000);

    // Without alternatives a busy port gives no socket.
    EXPECT_EQ(qm::net::CreateListener(taken, 0), qm::net::kNoSocket);

    // The listener accepts connections.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(taken));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(s);
    close(a);
    close(b);
}

TEST(NetStartup, SetsAndClearsSharedSettings) {
    qm::net::DownloadConnection::UserAgent = "other";
    qm::net::DownloadConnection::ProxyUser = "u";
    qm::net::NetStartup();
    EXPECT_EQ(qm::net::DownloadConnection::UserAgent, "Velloran/4.0");
    qm::net::NetShutdown();
    EXPECT_EQ(qm::net::DownloadConnection::UserAgent, "");
    EXPECT_EQ(qm::net::DownloadConnection::ProxyUser, "");
    EXPECT_EQ(qm::net::DownloadConnection::ProxyPassword, "");
}
