// The FTP reply reader, the size readers, the PORT and PASV texts and the listing converter.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/ftp_listing.h"
#include "net/ftp_reply.h"
#include "net/ftp_step.h"

namespace qm {
namespace {

std::vector<net::FtpReply> FeedAll(net::FtpReplyReader& r, const std::vector<std::string>& pieces) {
    std::vector<net::FtpReply> out;
    for (const std::string& p : pieces) {
        EXPECT_TRUE(r.Feed(p.data(), p.size()));
        while (auto reply = r.Next()) out.push_back(*reply);
    }
    return out;
}

TEST(FtpReply, SplitJoinedAndMultiLineReplies) {
    net::FtpReplyReader r;
    // One reply over three reads, then two replies in one read.
    auto got = FeedAll(r, {"33", "1 Password", " please.\r\n", "230 In.\r\n200 Type set.\r\n"});
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].code, 331);
    EXPECT_EQ(got[0].text, "331 Password please.\r\n");
    EXPECT_EQ(got[1].code, 230);
    EXPECT_EQ(got[2].code, 200);

    // A multi-line reply waits for its last line; lines inside may look like other replies.
    got = FeedAll(r, {"230-Welcome\r\n 200 not the end\r\n230-still\r\n", "230 Done\r\n"});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].code, 230);
    EXPECT_EQ(got[0].digit, 2);
    EXPECT_EQ(got[0].text, "230-Welcome\r\n 200 not the end\r\n230-still\r\n230 Done\r\n");

    // Short lines and lines without a code are not replies (digit 0); a bare code is one.
    got = FeedAll(r, {"2\r\nhello\r\n12\n226\r\n0ab x\r\n"});
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].digit, 0);
    EXPECT_EQ(got[1].digit, 0);
    EXPECT_EQ(got[2].digit, 0);
    EXPECT_EQ(got[3].code, 226);
    EXPECT_EQ(got[4].digit, 0);

    // An unfinished reply is bounded.
    net::FtpReplyReader big;
    std::string line = "220-" + std::string(1000, 'x') + "\r\n";
    bool refused = false;
    for (int i = 0; i < 200 && !refused; ++i) {
        refused = !big.Feed(line.data(), line.size());
        EXPECT_FALSE(big.Next().has_value());
    }
    EXPECT_TRUE(refused);
}

TEST(FtpReply, SizesAreSixtyFourBitAndSaturate) {
    EXPECT_EQ(net::FtpSizeDigits("213 8589934592\r\n"), "8589934592");
    EXPECT_EQ(net::FtpDigitsValue("8589934592", 0), 8589934592LL);
    EXPECT_EQ(net::FtpDigitsValue("99999999999999999999999999", 0), INT64_MAX);
    EXPECT_EQ(net::FtpDigitsValue("9223372036854775808", 0), INT64_MAX);
    EXPECT_EQ(net::FtpSizeDigits("213\r\n"), "");
    EXPECT_EQ(*net::FtpTransferSizeDigits("150 Opening BINARY mode data connection for f (8589934592 bytes).\r\n"),
              "8589934592");
    EXPECT_EQ(*net::FtpTransferSizeDigits("5 bytes)"), "");  // never the reply's first character
    EXPECT_FALSE(net::FtpTransferSizeDigits("150 Opening.\r\n").has_value());
    EXPECT_TRUE(net::FtpSafeArgument("RETR /a b"));
    EXPECT_FALSE(net::FtpSafeArgument("RETR /a\r\nDELE /b"));
    EXPECT_FALSE(net::FtpSafeArgument(std::string("PASS a\0b", 8)));
}

TEST(FtpReply, PortAndPassiveTexts) {
    std::uint32_t address = htonl(0xC0A80005);  // 192.168.0.5
    EXPECT_EQ(net::FtpConversation::PortArgument(address, 1025), "192,168,0,5,4,1");
    EXPECT_EQ(net::FtpConversation::PassivePort("227 Entering Passive Mode (127,0,0,1,195,80).\r\n"), 195 * 256 + 80);
    EXPECT_EQ(net::FtpConversation::PassivePort("227 =127,0,0,1,0,21\r\n"), 21);
    EXPECT_EQ(net::FtpConversation::PassivePort("227 (127,0,0,1,300,1)\r\n"), 0);
    EXPECT_EQ(net::FtpConversation::PassivePort("227 Passive\r\n"), 0);

    EXPECT_EQ(net::FtpConversation::ExtendedPortArgument("::1", true, 1025), "|2|::1|1025|");
    EXPECT_EQ(net::FtpConversation::ExtendedPortArgument("10.0.0.5", false, 21), "|1|10.0.0.5|21|");
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 Entering Extended Passive Mode (|||6446|)\r\n"), 6446);
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 ok (!!!65535!)\r\n"), 65535);
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 (|||65536|)\r\n"), 0);
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 (|||0|)\r\n"), 0);
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 (|||6446)\r\n"), 0) << "no closing delimiter";
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 (1116441)\r\n"), 0) << "a digit is no delimiter";
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 (||"), 0);
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 none\r\n(|||21|)"), 0) << "first line only";
    EXPECT_EQ(net::FtpConversation::ExtendedPassivePort("229 (|||99999999999999999999|)"), 0);
}

std::string Convert(const std::vector<std::string>& pieces, bool finish = false) {
    net::FtpListingConverter c;
    c.Reset();
    std::string out;
    for (const auto& p : pieces) c.Convert(p, out);
    if (finish) c.Finish(out);
    return out;
}

TEST(FtpListing, UnixLinesBecomeLinks) {
    std::string page =
        Convert({"total 8\r\n"
                 "drwxr-xr-x   2 ftp ftp 4096 Jan  1 10:00 docs\r\n"
                 "-rw-r--r--   1 ftp ftp   12 Jan  1 10:00 a b\r\n"});
    EXPECT_EQ(page,
              "<HTML><PRE>\r\n"
              "total 8\r\n"
              "drwxr-xr-x   2 ftp ftp 4096 Jan  1 10:00 <a href=\"docs/\">docs</a>\r\n"
              "-rw-r--r--   1 ftp ftp   12 Jan  1 10:00 <a href=\"a b\">a</a>\r\n");
    // A line split between reads is converted whole; the same text in one read gives the same page.
    std::string whole = "drwxrwxrwt 2 u g 1 Jan 1 2020 tmp\nlrwxrwxrwx 1 u g 1 Jan 1 2020 l -> /etc\n";
    EXPECT_EQ(Convert({whole.substr(0, 17), whole.substr(17, 30), whole.substr(47)}), Convert({whole}));
    EXPECT_NE(Convert({whole}).find("<a href=\"tmp/\">tmp</a>\n"), std::string::npos);
    EXPECT_NE(Convert({whole}).find("<a href=\"l\">l</a>\n"), std::string::npos);
    // A last line without a line break comes out at the end of the listing.
    EXPECT_EQ(Convert({"-rw-r--r-- 1 u g 1 Jan 1 2020 last"}, true),
              "<HTML><PRE>\r\n-rw-r--r-- 1 u g 1 Jan 1 2020 <a href=\"last\">last</a>");
    // Other listing styles pass through.
    EXPECT_EQ(Convert({"01-01-20  10:00AM       <DIR>          pub\r\n"}),
              "<HTML><PRE>\r\n01-01-20  10:00AM       &lt;DIR&gt;          pub\r\n");
}

TEST(FtpListing, HostileNamesAndLongLines) {
    std::string page = Convert({"-rw-r--r-- 1 u g 1 Jan 1 2020 <script>alert(1)</script>\"x&y#z?q%41\r\n"});
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"%3Cscript%3Ealert(1)%3C/script%3E%22x%26y%23z%3Fq%2541\">"
                        "&lt;script&gt;alert(1)&lt;/script&gt;&quot;x&amp;y#z?q%41</a>"),
              std::string::npos)
        << page;
    // An over-long line passes through, unconverted and escaped, in pieces; nothing spins and
    // what is held back stays bounded; the next line is converted again.
    net::FtpListingConverter c;
    c.Reset();
    std::string out;
    std::string longName = "-rw-r--r-- 1 u g 1 Jan 1 2020 " + std::string(40000, '<');
    for (std::size_t at = 0; at < longName.size(); at += 3000) {
        c.Convert(longName.substr(at, 3000), out);
        EXPECT_LE(c.Carry(), net::FtpListingConverter::kMaxLineBytes);
    }
    c.Convert("\r\n-rw-r--r-- 1 u g 1 Jan 1 2020 next\r\n", out);
    EXPECT_EQ(out.find('<', 13), out.find("<a href=\"next\">"));
    EXPECT_NE(out.find("&lt;&lt;&lt;"), std::string::npos);
}

}  // namespace
}  // namespace qm
