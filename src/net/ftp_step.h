#pragma once
// The FTP conversation of a connection: log on, ask for a file (binary) or a directory
// listing (ASCII), open the data connection (active: we listen and the server connects;
// passive: the server listens and we connect), and deliver what arrives through the
// connection's events behind a short HTTP-like header, a listing turned into an HTML page.
// The connection owns the control socket, its timer and the ending of a transaction; this
// object owns the data sockets and the steps of the conversation.
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/connection_codes.h"
#include "net/ftp_listing.h"
#include "net/ftp_reply.h"

namespace qm::platform {
class SocketWatch;
}  // namespace qm::platform
namespace qm::net {

class DownloadConnection;

class FtpConversation {
public:
    struct Hooks {
        std::function<void(const std::string& text, StatusKind kind)> report;
        // Ends the transaction: the client idles, every socket closes, OnDone(code) follows.
        std::function<void(DoneCode code, bool complete, const std::string& text, StatusKind kind)> finish;
        // A connection closed under us: the client's close handling (with its resume).
        std::function<void()> closed;
        // Something arrived: the inactivity timer starts again.
        std::function<void()> activity;
        // Sends text on the control connection (the client keeps what the socket did not take).
        std::function<void(const std::string& text)> send;
        // The header is in the client's fields: the owner is told (once per transaction).
        std::function<void()> headerDone;
        // A test "is the transaction that is running now still running", made at the moment
        // of asking and safe to call after the client itself is gone.
        std::function<std::function<bool()>()> guard;
    };

    // Steps of the conversation, each named for the reply it waits for.
    enum Step {
        kGreeting = 0,
        kUser = 1,
        kPass = 2,
        kCwdOrType = 3,
        kSize = 4,
        kTypeSet = 5,
        kPortFile = 6,
        kRestOrPortDir = 7,
        kTransfer = 8,
        kTransferring = 9,
        kPassive = 20,  // reply to PASV or EPSV
    };

    FtpConversation(DownloadConnection& client, Hooks hooks);
    ~FtpConversation();
    FtpConversation(const FtpConversation&) = delete;
    FtpConversation& operator=(const FtpConversation&) = delete;

    // The control connection is up (and a SOCKS proxy, if any, granted it): the server
    // speaks first. viaSocks: the control connection goes through a SOCKS proxy.
    void Begin(int controlSocket, bool restarting, bool viaSocks);
    // The control socket has something to read (or was closed).
    void OnControlReadable();
    // Closes the data listener and the data connection.
    void CloseData();

    int FtpStep() const { return step_; }
    std::int64_t FileSize() const { return fileSize_; }
    bool RestAccepted() const { return restAccepted_; }
    bool UsingPassive() const { return passive_; }

    // The PORT argument for an IPv4 address (network byte order) and a port:
    // "192,168,0,5,4,1" for 192.168.0.5 and 1025.
    static std::string PortArgument(std::uint32_t address, int port);
    // The port a PASV reply names ("227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)"), or 0.
    static int PassivePort(const std::string& reply);
    // The EPRT argument for an address of either family in text form and a port:
    // "|2|::1|1025|" for ::1 (IPv6), "|1|10.0.0.5|1025|" for IPv4.
    static std::string ExtendedPortArgument(const std::string& address, bool ipv6, int port);
    // The port an EPSV reply names ("229 Entering Extended Passive Mode (|||6446|)": a
    // delimiter, two empty fields, the port, the delimiter again), or 0.
    static int ExtendedPassivePort(const std::string& reply);

private:
    void OnReply(const FtpReply& reply);
    void Command(const std::string& statusText, const std::string& command);
    void Fail(const std::string& text);
    bool SizeLimitExceeded();
    void TakeSize(const std::string& digits);
    void AskForData();
    void AskForPassive();
    void AskForTransfer();
    bool FallBackToPassive();
    bool OpenListener();
    void OnListener();
    void ConnectPassive(int port);
    void OnDataSocket(int events);
    void DataReady();
    void TryHeader();
    void ReadData();
    void DataClosed();
    void DataDone();
    void EndTransfer();

    DownloadConnection& c_;
    Hooks hooks_;
    int control_ = -1;
    FtpReplyReader replies_;
    FtpListingConverter listing_;
    int step_ = 0;
    std::int64_t fileSize_ = 0;
    bool restAccepted_ = false;
    bool restRefused_ = false;
    bool restarting_ = false;
    bool viaSocks_ = false;
    bool passive_ = false;       // this transaction's data connection is passive
    bool triedPassive_ = false;  // passive mode was already taken after active failed
    bool ipv6_ = false;          // the control connection is IPv6: EPSV and EPRT, never PASV or PORT
    int listener_ = -1;
    int data_ = -1;
    bool dataConnecting_ = false;
    bool dataReady_ = false;
    bool headerSent_ = false;
    bool dataEnded_ = false;          // the server closed the data connection
    int finalDigit_ = 0;              // first digit of the reply that ends the transfer, 0 until it came
    sockaddr_storage controlPeer_{};  // the server's address; family 0 when not known (SOCKS)
    std::unique_ptr<platform::SocketWatch> listenerWatch_;
    std::unique_ptr<platform::SocketWatch> dataWatch_;
    std::vector<char> buffer_;
    std::string page_;  // a converted piece of a listing
};

}  // namespace qm::net
