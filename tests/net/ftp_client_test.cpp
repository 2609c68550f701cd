// The FTP conversation against a scripted server: the commands sent, replies in odd pieces,
// sizes, listings, resumes and data connections that are refused or come from elsewhere.
#include <algorithm>

#include "net/client_harness.h"
#include "net/ftp_scripted_server.h"

namespace qm::test {
namespace {

using Session = ScriptedFtpServer::Session;
const std::string kContent = "0123456789";

bool HasCommand(const std::vector<std::string>& commands, const std::string& prefix) {
    return std::any_of(commands.begin(), commands.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
}

class FtpClientTest : public NetTest {};

TEST_F(FtpClientTest, FileThroughSplitMultiLineAndJoinedReplies) {
    ScriptedFtpServer* self = nullptr;
    ScriptedFtpServer server("220-Welcome\r\n220-to the test\r\n220 Ready.\r\n", {{"/f.bin", kContent}},
                             [&](Session& s, const std::string& verb, const std::string& arg) {
                                 if (verb == "USER") {
                                     s.Send("33");
                                     s.Pause(150);
                                     s.Send("1 Password");
                                     s.Pause(150);
                                     s.Send(" please.\r\n");
                                     return true;
                                 }
                                 if (verb == "PASS") {
                                     s.Send("230-Hello\r\n230-there\r\n");
                                     s.Pause(150);
                                     s.Send("230 Logged on.\r\n");
                                     return true;
                                 }
                                 if (verb == "RETR") {
                                     // The go-ahead and the end arrive in one read, after the data.
                                     if (!s.OpenData()) return false;
                                     s.SendData(kContent);
                                     s.CloseData();
                                     s.Send("150 Opening (10 bytes).\r\n226 Done.\r\n");
                                     return true;
                                 }
                                 return self->Standard(s, verb, arg);
                             });
    self = &server;
    net::DownloadConnection c;
    Events e;
    Attach(c, e);
    c.SetURL(server.Url("/f.bin"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e)) << e.Dump();
    EXPECT_EQ(e.code, 0) << e.Dump();
    EXPECT_TRUE(c.Complete);
    EXPECT_EQ(e.body, kContent);
    EXPECT_EQ(c.StatusCode, 200);
    EXPECT_EQ(c.Header, "HTTP/1.0 200 OK\r\nContent-Length=10\r\n\r\n");
    EXPECT_EQ(e.headers, 1);
    EXPECT_FALSE(e.dataBeforeHeader);
    auto cmds = server.Commands();
    ASSERT_EQ(cmds.size(), 7u);
    EXPECT_EQ(cmds[0], "USER anonymous");
    EXPECT_EQ(cmds[1], "PASS guest@quillmoor.invalid");
    EXPECT_EQ(cmds[2], "TYPE I");
    EXPECT_EQ(cmds[3], "SIZE /f.bin");
    EXPECT_EQ(cmds[4], "TYPE I");
    EXPECT_EQ(cmds[5].rfind("PORT 127,0,0,1,", 0), 0u);
    EXPECT_EQ(cmds[6], "RETR /f.bin");
    for (const char* text : {"Logging on...", "Sending password...", "Setting binary connection...",
                             "Getting file length...", "Length=10.", "Setting port...", "Starting transfer..."})
        EXPECT_TRUE(e.Has(text, 0)) << text << "\n" << e.Dump();
    EXPECT_TRUE(e.Has("Read Transaction complete.", 2));
}

TEST_F(FtpClientTest, EightGigabyteSizes) {
    ScriptedFtpServer* self = nullptr;
    bool sizeKnown = true;
    ScriptedFtpServer server("220 Ready.\r\n", {{"/big", kContent}},
                             [&](Session& s, const std::string& verb, const std::string& arg) {
                                 if (verb == "SIZE") {
                                     s.Send(sizeKnown ? "213 8589934592\r\n" : "500 Unknown command.\r\n");
                                     return true;
                                 }
                                 if (verb == "RETR") {
                                     s.Send("150 Opening BINARY mode data connection for big (8589934592 bytes).\r\n");
                                     s.OpenData();
                                     s.SendData(kContent);
                                     return true;  // and never more
                                 }
                                 return self->Standard(s, verb, arg);
                             });
    self = &server;
    {
        net::DownloadConnection c;
        Events e;
        Attach(c, e);
        c.SizeLimit = 1;
        c.SetURL(server.Url("/big"));
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(e));
        EXPECT_TRUE(e.Has("Length=8589934592.", 0)) << e.Dump();
        EXPECT_TRUE(e.Has("File size limit exceed.", 2));
        EXPECT_EQ(e.code, 5);
        EXPECT_TRUE(c.Complete);
        EXPECT_FALSE(HasCommand(server.Commands(), "PORT"));
    }
    {
        // Without SIZE, the size comes from the transfer reply.
        sizeKnown = false;
        net::DownloadConnection c;
        Events e;
        Attach(c, e);
        c.OnHeader = [&](net::DownloadConnection& cl) {
            ++e.headers;
            cl.Abort();
        };
        c.SetURL(server.Url("/big"));
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(e));
        EXPECT_EQ(e.code, 3);
        EXPECT_EQ(c.ContentLength, 8589934592LL);
        EXPECT_EQ(c.Header, "HTTP/1.0 200 OK\r\nContent-Length=8589934592\r\n\r\n");
        EXPECT_TRUE(HasCommand(server.Commands(), "SIZE /big"));
    }
}

TEST_F(FtpClientTest, HostileListingAndRefusedLineBreaks) {
    const std::string listing =
        "total 2\r\n"
        "drwxr-xr-x 2 u g 4096 Jan 1 10:00 docs\r\n"
        "-rw-r--r-- 1 u g 1 Jan 1 10:00 <script>alert(1)</script>\r\n" +
        std::string(5000, 'x') + "\r\n-rw-r--r-- 1 u g 1 Jan 1 10:00 tail";
    ScriptedFtpServer server("220 Ready.\r\n", {{"/pub/", ""}, {"LIST", listing}});
    {
        net::DownloadConnection c;
        Events e;
        Attach(c, e);
        c.SetURL(server.Url("/pub/"));
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(e));
        auto cmds = server.Commands();
        ASSERT_GE(cmds.size(), 6u);
        EXPECT_EQ(cmds[2], "CWD /pub/");
        EXPECT_EQ(cmds[3], "TYPE A");
        EXPECT_EQ(cmds[4].rfind("PORT ", 0), 0u);
        EXPECT_EQ(cmds[5], "LIST");
        EXPECT_EQ(e.body.rfind("<HTML><PRE>\r\n", 0), 0u);
        EXPECT_NE(e.body.find("<a href=\"docs/\">docs</a>\r\n"), std::string::npos);
        EXPECT_EQ(e.body.find("<script"), std::string::npos);
        EXPECT_NE(e.body.find(std::string(5000, 'x')), std::string::npos);
        EXPECT_NE(e.body.find("<a href=\"tail\">tail</a>"), std::string::npos);
        // The server's end-of-transfer reply says the listing is whole.
        EXPECT_EQ(e.code, 0) << e.Dump();
        EXPECT_TRUE(c.Complete);
        EXPECT_EQ(c.StatusCode, 200);
    }
    for (const std::string& url : {server.Url("/a%0D%0ADELE%20b"), server.Url("/x")}) {
        net::DownloadConnection c;
        Events e;
        Attach(c, e);
        c.SetURL(url);
        if (url.find("DELE") == std::string::npos) c.Password = "pw\r\nDELE b";
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(e));
        EXPECT_EQ(e.code, 4);
        EXPECT_TRUE(e.Has("Refused a command with a line break or zero byte.", 2)) << e.Dump();
    }
    EXPECT_FALSE(HasCommand(server.Commands(), "DELE"));
}

TEST_F(FtpClientTest, DataConnections) {
    ScriptedFtpServer* self = nullptr;
    int mode = 0;  // 0 refuse active, 1 passive port closed, 2 stranger first, 3 standard
    ScriptedFtpServer server("220 Ready.\r\n", {{"/f", kContent}},
                             [&](Session& s, const std::string& verb, const std::string& arg) {
                                 if (verb == "PORT" && mode == 0) {
                                     s.Send("425 Can't connect to specified address.\r\n");
                                     return true;
                                 }
                                 if (verb == "PASV" && mode == 1) {
                                     int closed = s.ListenPassive();
                                     close(s.passiveListener);
                                     s.passiveListener = -1;
                                     s.Send("227 Entering Passive Mode (127,0,0,1," + std::to_string(closed / 256) +
                                            "," + std::to_string(closed % 256) + ").\r\n");
                                     return true;
                                 }
                                 if (verb == "RETR" && mode == 2) {
                                     s.Send("150 Opening.\r\n");
                                     // Another address of this machine gets in first.
                                     if (s.OpenData("127.0.0.2")) s.SendData("EVIL!EVIL!");
                                     s.Pause(100);
                                     s.OpenData();
                                     s.SendData(kContent);
                                     s.CloseData();
                                     s.Send("226 Done.\r\n");
                                     return true;
                                 }
                                 return self->Standard(s, verb, arg);
                             });
    self = &server;
    auto fetch = [&](bool passive, Events& e) {
        net::DownloadConnection c;
        Attach(c, e);
        c.FtpPassive = passive;
        c.SetURL(server.Url("/f"));
        EXPECT_TRUE(c.Start(false));
        EXPECT_TRUE(RunToDone(e));
        return c.StatusCode;
    };
    {
        Events e;
        fetch(false, e);
        EXPECT_TRUE(e.Has("Active mode refused; trying passive mode.", 0)) << e.Dump();
        EXPECT_EQ(e.code, 0);
        EXPECT_EQ(e.body, kContent);
        EXPECT_TRUE(HasCommand(server.Commands(), "PASV"));
    }
    {
        mode = 1;
        Events e;
        fetch(true, e);
        EXPECT_EQ(e.code, 4);
        EXPECT_TRUE(e.Has("Data receive failed.", 2)) << e.Dump();
    }
    {
        mode = 2;
        Events e;
        fetch(false, e);
        EXPECT_EQ(e.code, 0) << e.Dump();
        EXPECT_EQ(e.body, kContent);
    }
}

TEST_F(FtpClientTest, ResumeWithRestAcceptedAndRefused) {
    ScriptedFtpServer* self = nullptr;
    bool refuse = false;
    ScriptedFtpServer server("220 Ready.\r\n", {{"/f.txt", kContent}},
                             [&](Session& s, const std::string& verb, const std::string& arg) {
                                 if (verb == "REST" && refuse) {
                                     s.Send("502 Command not implemented.\r\n");
                                     return true;
                                 }
                                 return self->Standard(s, verb, arg);
                             });
    self = &server;
    for (bool passive : {false, true}) {
        refuse = false;
        net::DownloadConnection c;
        Events e;
        Attach(c, e);
        c.FtpPassive = passive;
        c.ResumeFrom = 3;
        c.SetURL(server.Url("/f.txt"));
        ASSERT_TRUE(c.Start(false));
        ASSERT_TRUE(RunToDone(e));
        EXPECT_TRUE(e.Has("Restarting from 3.", 0));
        EXPECT_EQ(e.body, kContent.substr(3));
        EXPECT_EQ(c.StatusCode, 206);
        EXPECT_EQ(c.Header, "HTTP/1.0 206 OK\r\nContent-Length=7\r\nContent-Range: bytes 3-9/10\r\n\r\n");
        EXPECT_EQ(c.Received, 10);
        EXPECT_TRUE(HasCommand(server.Commands(), "REST 3"));

        refuse = true;
        Events r;
        net::DownloadConnection d;
        Attach(d, r);
        d.FtpPassive = passive;
        d.ResumeFrom = 3;
        d.SetURL(server.Url("/f.txt"));
        ASSERT_TRUE(d.Start(false));
        ASSERT_TRUE(RunToDone(r));
        // The server starts from the beginning: so does the result, as a whole file.
        EXPECT_TRUE(r.Has("Reget is not supported.", 0));
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.body, kContent);
        EXPECT_EQ(d.StatusCode, 200);
        EXPECT_EQ(d.Received, 10);
        EXPECT_EQ(d.Header, "HTTP/1.0 200 OK\r\nContent-Length=10\r\n\r\n");
    }
}

TEST_F(FtpClientTest, BrokenTransferResumesWithRest) {
    ScriptedFtpServer* self = nullptr;
    int retrs = 0;
    ScriptedFtpServer server("220 Ready.\r\n", {{"/f", kContent}},
                             [&](Session& s, const std::string& verb, const std::string& arg) {
                                 if (verb == "RETR" && ++retrs == 1) {
                                     s.Send("150 Opening.\r\n");
                                     s.OpenData();
                                     s.SendData(kContent.substr(0, 4));
                                     s.CloseData();
                                     s.Send("426 Connection closed; transfer aborted.\r\n");
                                     return true;
                                 }
                                 return self->Standard(s, verb, arg);
                             });
    self = &server;
    net::DownloadConnection c;
    Events e;
    Attach(c, e);
    c.SetURL(server.Url("/f"));
    ASSERT_TRUE(c.Start(false));
    ASSERT_TRUE(RunToDone(e));
    EXPECT_TRUE(e.Has("Connection Reset by Peer. Status: 200 OK.", 2)) << e.Dump();
    EXPECT_TRUE(e.Has("Restarting from 4.", 0));
    EXPECT_TRUE(HasCommand(server.Commands(), "REST 4"));
    EXPECT_EQ(e.code, 0);
    EXPECT_EQ(e.dones, 1);
    EXPECT_EQ(e.headers, 1);  // the resumed part comes without a second header
    EXPECT_EQ(e.body, kContent);
    EXPECT_EQ(c.StatusCode, 200);
    EXPECT_EQ(c.RegetHeader, "HTTP/1.0 206 OK\r\nContent-Length=6\r\nContent-Range: bytes 4-9/10\r\n\r\n");
}

}  // namespace
}  // namespace qm::test
