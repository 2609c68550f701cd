#include "net/ftp_step.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/http_client.h"
#include "net/sockets.h"
#include "platform/event_loop.h"

namespace qm::net {

namespace {

constexpr std::size_t kControlRead = 4096;
constexpr std::size_t kDataRead = 64 * 1024;
constexpr int kReadsPerWakeUp = 16;
// The anonymous log-on's password, in the form of a mail address.
const char* const kAnonymousPassword = "guest@quillmoor.invalid";
// Remaining while no size is known; it is not counted down then.
constexpr std::int64_t kUnknownLength = 0x0FFFFFFF;

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// The address at the other end of fd; family 0 when it cannot be told.
sockaddr_storage PeerAddress(int fd) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) a.ss_family = 0;
    return a;
}

std::uint32_t LocalAddress(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || a.sin_family != AF_INET) return 0;
    return a.sin_addr.s_addr;
}

socklen_t AddressLength(const sockaddr_storage& a) {
    return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// Whether two socket addresses name the same host (ports aside).
bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    if (a.ss_family == AF_INET6)
        return IN6_ARE_ADDR_EQUAL(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                                  &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr);
    return false;
}

// A listening socket on the IPv6 address the control connection came from, at a port the
// system chooses: the server of an IPv6 control connection connects back there.
int Listener6Beside(int control) {
    sockaddr_in6 local{};
    socklen_t len = sizeof local;
    if (getsockname(control, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin6_family != AF_INET6)
        return kNoSocket;
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    local.sin6_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(fd, 5) != 0) {
        ::close(fd);
        return kNoSocket;
    }
    return fd;
}

std::string Local6Text(int fd) {
    sockaddr_in6 local{};
    socklen_t len = sizeof local;
    char text[INET6_ADDRSTRLEN] = {};
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin6_family != AF_INET6 ||
        !inet_ntop(AF_INET6, &local.sin6_addr, text, sizeof text))
        return {};
    return text;
}

}  // namespace

FtpConversation::FtpConversation(DownloadConnection& client, Hooks hooks) : c_(client), hooks_(std::move(hooks)) {}

FtpConversation::~FtpConversation() { CloseData(); }

std::string FtpConversation::PortArgument(std::uint32_t address, int port) {
    std::string dotted = DottedAddress(address);
    for (char& ch : dotted)
        if (ch == '.') ch = ',';
    return dotted + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

int FtpConversation::PassivePort(const std::string& reply) {
    // The six numbers are the last six of the first line; the address is not used: data
    // connections go to the server the control connection reached.
    std::size_t end = reply.find('\n');
    std::string_view line(reply.data(), end == std::string::npos ? reply.size() : end);
    std::vector<std::int64_t> numbers;
    std::size_t i = 4 <= line.size() ? 4 : line.size();
    while (i < line.size()) {
        if (line[i] >= '0' && line[i] <= '9') {
            std::size_t n = 0;
            numbers.push_back(FtpDigitsValue(line, i, &n));
            i += n;
        } else {
            ++i;
        }
    }
    if (numbers.size() < 6) return 0;
    std::int64_t hi = numbers[numbers.size() - 2], lo = numbers[numbers.size() - 1];
    if (hi > 255 || lo > 255) return 0;
    int port = static_cast<int>(hi * 256 + lo);
    return port > 0 ? port : 0;
}

std::string FtpConversation::ExtendedPortArgument(const std::string& address, bool ipv6, int port) {
    return std::string(ipv6 ? "|2|" : "|1|") + address + "|" + std::to_string(port) + "|";
}

int FtpConversation::ExtendedPassivePort(const std::string& reply) {
    // Only the first line counts, and only its first parenthesis.
    std::size_t end = reply.find('\n');
    std::string_view line(reply.data(), end == std::string::npos ? reply.size() : end);
    std::size_t open = line.find('(');
    if (open == std::string_view::npos || open + 5 > line.size()) return 0;
    const char d = line[open + 1];
    // The delimiter is a printable character other than a digit (RFC 2428 suggests '|').
    if (d < 33 || d > 126 || (d >= '0' && d <= '9')) return 0;
    if (line[open + 2] != d || line[open + 3] != d) return 0;
    std::size_t at = open + 4;
    std::int64_t port = 0;
    std::size_t digits = 0;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9' && digits < 6) {
        port = port * 10 + (line[at] - '0');
        ++at;
        ++digits;
    }
    if (digits == 0 || at >= line.size() || line[at] != d || port < 1 || port > 65535) return 0;
    return static_cast<int>(port);
}

void FtpConversation::Begin(int controlSocket, bool restarting, bool viaSocks) {
    CloseData();
    control_ = controlSocket;
    replies_.Clear();
    listing_.Reset();
    step_ = kGreeting;
    fileSize_ = 0;
    restAccepted_ = restRefused_ = false;
    restarting_ = restarting;
    viaSocks_ = viaSocks;
    // Through SOCKS the server's address is not known here, so the data connection stays
    // active (the server connects to us, as the log-on's PORT says).
    passive_ = c_.FtpPassive && !viaSocks;
    triedPassive_ = passive_;
    dataConnecting_ = dataReady_ = headerSent_ = dataEnded_ = false;
    finalDigit_ = 0;
    controlPeer_ = viaSocks ? sockaddr_storage{} : PeerAddress(controlSocket);
    ipv6_ = controlPeer_.ss_family == AF_INET6;
    if (buffer_.size() < kDataRead) buffer_.resize(kDataRead);
}

void FtpConversation::CloseData() {
    listenerWatch_.reset();
    dataWatch_.reset();
    CloseSocket(listener_);
    CloseSocket(data_);
    dataConnecting_ = false;
}

void FtpConversation::Fail(const std::string& text) {
    hooks_.finish(DoneCode::Failed, false, text, StatusKind::TransactionEnd);
}

// Reports the step's status text (when there is one), sends the command and reports it.
void FtpConversation::Command(const std::string& statusText, const std::string& command) {
    auto ok = hooks_.guard();
    if (!FtpSafeArgument(command)) {
        // A line break or zero byte taken from the address would start a command of its own.
        Fail("Refused a command with a line break or zero byte.");
        return;
    }
    if (!statusText.empty()) {
        hooks_.report(statusText, StatusKind::Connection);
        if (!ok()) return;
    }
    hooks_.send(command + "\r\n");
    hooks_.report(command, StatusKind::ProtocolText);
}

void FtpConversation::OnControlReadable() {
    auto ok = hooks_.guard();
    char block[kControlRead];
    for (int round = 0; round < kReadsPerWakeUp; ++round) {
        ssize_t n = ::recv(control_, block, sizeof block, 0);
        if (n < 0 && WouldBlock()) return;
        if (n <= 0) {
            hooks_.closed();
            return;
        }
        hooks_.activity();
        if (!replies_.Feed(block, static_cast<std::size_t>(n))) {
            Fail("FTP server access denied.");
            return;
        }
        while (auto reply = replies_.Next()) {
            hooks_.report(reply->text, StatusKind::ProtocolText);
            if (!ok()) return;
            OnReply(*reply);
            if (!ok()) return;
        }
    }
}

bool FtpConversation::SizeLimitExceeded() {
    if (c_.SizeLimit > 0 && fileSize_ > static_cast<std::int64_t>(c_.SizeLimit) * 1024) {
        hooks_.finish(DoneCode::SizeLimit, true, "File size limit exceed.", StatusKind::TransactionEnd);
        return true;
    }
    return false;
}

void FtpConversation::TakeSize(const std::string& digits) {
    hooks_.report("Length=" + digits + ".", StatusKind::Connection);
    fileSize_ = FtpDigitsValue(digits, 0);
}

void FtpConversation::OnReply(const FtpReply& reply) {
    auto ok = hooks_.guard();
    const int d = reply.digit;
    if (d == 0) return;  // not a reply line
    const bool ok123 = d <= 3;
    const bool dir = c_.PathIsDirectory;
    switch (step_) {
    case kGreeting:
        if (!ok123) return Fail("FTP server access denied.");
        step_ = kUser;
        Command("Logging on...", "USER " + (c_.UserName.empty() ? std::string("anonymous") : c_.UserName));
        if (!ok()) return;
        if (!passive_ && !OpenListener()) return;
        return;
    case kUser:
        if (!ok123) return Fail("User access denied.");
        step_ = kPass;
        if (reply.code == 230) {
            // Logged on without a password: go on as after PASS.
            FtpReply again;
            again.code = 230;
            again.digit = 2;
            return OnReply(again);
        }
        return Command("Sending password...",
                       "PASS " + (c_.Password.empty() ? std::string(kAnonymousPassword) : c_.Password));
    case kPass:
        if (!ok123) return Fail("Logon failed.");
        step_ = kCwdOrType;
        if (dir) return Command("Changing directory...", "CWD " + c_.Path);
        return Command("Setting binary connection...", "TYPE I");
    case kCwdOrType:
        if (dir) {
            if (!ok123) return Fail("Change directory failed.");
            step_ = kTypeSet;
            return Command("Setting ASCII mode...", "TYPE A");
        }
        if (!ok123) return Fail("Binary mode failed.");
        step_ = kSize;
        return Command("Getting file length...", "SIZE " + c_.Path);
    case kSize:
        if (ok123) {
            TakeSize(FtpSizeDigits(reply.text));
            if (!ok()) return;
            if (c_.Busy && SizeLimitExceeded()) return;
        }
        step_ = kTypeSet;
        return Command("", "TYPE I");
    case kTypeSet:
        if (!ok123) return Fail(dir ? "ASCII mode failed." : "Binary mode failed.");
        return AskForData();
    case kPortFile:
        if (!ok123) {
            if (FallBackToPassive()) return;
            return Fail("Port setting failed.");
        }
        return AskForTransfer();
    case kRestOrPortDir:
        if (dir) {
            if (!ok123 && FallBackToPassive()) return;
            step_ = kTransfer;
            return Command("Starting transfer...", "LIST");
        }
        if (d > 3) {
            if (restarting_) {
                // The part already delivered cannot be taken back: the resume ends here.
                hooks_.finish(DoneCode::ServerClosed, false, "Reget is not supported.", StatusKind::TransactionEnd);
                return;
            }
            restRefused_ = true;
            hooks_.report("Reget is not supported.", StatusKind::Connection);
            if (!ok()) return;
        } else {
            restAccepted_ = true;
        }
        step_ = kTransfer;
        return Command("Starting transfer...", "RETR " + c_.Path);
    case kPassive: {
        int port = d != 2 ? 0 : ipv6_ ? ExtendedPassivePort(reply.text) : PassivePort(reply.text);
        if (port == 0) return Fail("Port setting failed.");
        ConnectPassive(port);
        if (!ok()) return;
        return AskForTransfer();
    }
    case kTransfer:
        if (d == 1) {
            step_ = kTransferring;
            if (fileSize_ == 0) {
                if (auto digits = FtpTransferSizeDigits(reply.text)) {
                    TakeSize(*digits);
                    if (!ok()) return;
                    if (c_.Busy && SizeLimitExceeded()) return;
                }
            }
            return TryHeader();
        }
        if (d >= 4) {
            // 425: the server could not open the data connection to us.
            if (reply.code == 425 && FallBackToPassive()) return;
            return Fail("Data receive failed.");
        }
        return;
    case kTransferring:
        // The transfer ends with the data connection's close and this reply, which says
        // (when the length is not known) whether all of it came.
        if (d >= 2 && finalDigit_ == 0) {
            finalDigit_ = d;
            if (dataEnded_) EndTransfer();
        }
        return;
    default: return;
    }
}

// After TYPE: the data connection is set up, actively (PORT, or EPRT over IPv6) or
// passively (PASV, or EPSV over IPv6, whose reply carries no IPv4 address).
void FtpConversation::AskForData() {
    if (passive_) return AskForPassive();
    if (listener_ < 0 && !OpenListener()) return;
    step_ = c_.PathIsDirectory ? kRestOrPortDir : kPortFile;
    if (ipv6_)
        Command("Setting port...", "EPRT " + ExtendedPortArgument(Local6Text(control_), true, BoundPort(listener_)));
    else
        Command("Setting port...", "PORT " + PortArgument(LocalAddress(control_), BoundPort(listener_)));
}

void FtpConversation::AskForPassive() {
    step_ = kPassive;
    Command("Setting passive mode...", ipv6_ ? "EPSV" : "PASV");
}

// The data connection is asked for: REST (to resume) and RETR, or LIST.
void FtpConversation::AskForTransfer() {
    if (c_.PathIsDirectory) {
        step_ = kTransfer;
        Command("Starting transfer...", "LIST");
        return;
    }
    if (restarting_ || c_.ResumeFrom > 0) {
        auto ok = hooks_.guard();
        hooks_.report("Restarting from " + std::to_string(c_.Received) + ".", StatusKind::Connection);
        if (!ok()) return;
        step_ = kRestOrPortDir;
        Command("", "REST " + std::to_string(c_.Received));
        return;
    }
    step_ = kTransfer;
    Command("Starting transfer...", "RETR " + c_.Path);
}

// Active mode was refused (PORT failed, or the server could not connect to us): the
// transfer is asked for again with a passive data connection, once.
bool FtpConversation::FallBackToPassive() {
    if (passive_ || triedPassive_ || viaSocks_ || dataReady_) return false;
    auto ok = hooks_.guard();
    hooks_.report("Active mode refused; trying passive mode.", StatusKind::Connection);
    if (!ok()) return true;
    CloseData();
    passive_ = triedPassive_ = true;
    restAccepted_ = restRefused_ = false;
    AskForPassive();
    return true;
}

bool FtpConversation::OpenListener() {
    listener_ = ipv6_ ? Listener6Beside(control_) : CreateListener(0, 7000);
    if (listener_ < 0 || !SetNonBlocking(listener_)) {
        CloseSocket(listener_);
        Fail("Cannot create data socket.");
        return false;
    }
    listenerWatch_ = std::make_unique<platform::SocketWatch>(listener_, [this](int) { OnListener(); });
    listenerWatch_->SetInterest(true, false);
    return true;
}

void FtpConversation::OnListener() {
    if (!c_.Busy || listener_ < 0) return;
    for (;;) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (WouldBlock() || errno == ECONNABORTED) return;
            Fail("Data receive failed.");
            return;
        }
        // Only the server we talk to may bring the data (through SOCKS its address is
        // not known, and any peer is taken as before).
        if (controlPeer_.ss_family != 0 && !SameHost(peer, controlPeer_)) {
            ::close(fd);
            continue;
        }
        data_ = fd;
        break;
    }
    listenerWatch_.reset();
    CloseSocket(listener_);
    DataReady();
}

void FtpConversation::ConnectPassive(int port) {
    // The data connection goes to the server the control connection reached, whatever
    // address a PASV reply names.
    sockaddr_storage addr = controlPeer_;
    if (addr.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(addr).sin6_port = htons(static_cast<std::uint16_t>(port));
    else
        reinterpret_cast<sockaddr_in&>(addr).sin_port = htons(static_cast<std::uint16_t>(port));
    data_ = ::socket(addr.ss_family == AF_INET6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (data_ < 0) {
        data_ = -1;
        Fail("Cannot create data socket.");
        return;
    }
    dataWatch_ = std::make_unique<platform::SocketWatch>(data_, [this](int events) { OnDataSocket(events); });
    int rc = ::connect(data_, reinterpret_cast<sockaddr*>(&addr), AddressLength(addr));
    if (rc == 0) {
        DataReady();
    } else if (errno == EINPROGRESS || errno == EINTR) {
        dataConnecting_ = true;
        dataWatch_->SetInterest(false, true);
    } else {
        Fail("Data receive failed.");
    }
}

void FtpConversation::OnDataSocket(int events) {
    if (!c_.Busy) return;
    if (dataConnecting_) {
        if (!(events & platform::SocketWatch::kWritable)) return;
        dataConnecting_ = false;
        int error = 0;
        socklen_t len = sizeof error;
        if (getsockopt(data_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        if (error != 0) return Fail("Data receive failed.");
        DataReady();
        return;
    }
    if (events & platform::SocketWatch::kReadable) ReadData();
}

void FtpConversation::DataReady() {
    dataReady_ = true;
    int one = 1;
    setsockopt(data_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    if (!dataWatch_)
        dataWatch_ = std::make_unique<platform::SocketWatch>(data_, [this](int events) { OnDataSocket(events); });
    // Nothing is read before the server has said that the transfer starts.
    dataWatch_->SetInterest(false, false);
    TryHeader();
}

// The header goes out once the data connection is up and the transfer has started.
void FtpConversation::TryHeader() {
    if (!dataReady_ || step_ < kTransferring || step_ == kPassive || headerSent_ || !c_.Busy) return;
    auto ok = hooks_.guard();
    headerSent_ = true;
    if (restRefused_ && c_.Received > 0) {
        // The server sends the file from its start: so is it delivered.
        c_.Received = 0;
    }
    std::int64_t lastByte = 0;
    bool partial = false;
    if (fileSize_ != 0) {
        c_.ContentLength = c_.Received > 0 ? fileSize_ - c_.Received : fileSize_;
        lastByte = fileSize_ - 1;
        if (c_.RangeEnd > 0 && fileSize_ > c_.RangeEnd + 1) {
            c_.ContentLength -= fileSize_ - (c_.RangeEnd + 1);
            lastByte = c_.RangeEnd;
            partial = true;
        }
        if (c_.ContentLength < 0) c_.ContentLength = 0;
        c_.Remaining = c_.ContentLength;
        partial = partial || (restAccepted_ && c_.Received > 0);
    } else {
        c_.Received = 0;
        c_.Remaining = kUnknownLength;
    }
    if (c_.StatusCode == 0) c_.StatusCode = partial ? 206 : 200;
    std::string header = "HTTP/1.0 " + std::to_string(partial ? 206 : 200) + " OK\r\n";
    if (c_.ContentLength != 0) header += "Content-Length=" + std::to_string(c_.ContentLength) + "\r\n";
    std::string type = c_.PathIsDirectory ? "text/html" : DownloadConnection::ContentTypeOf(c_.Path);
    if (!type.empty()) header += "Content-type: " + type + "\r\n";
    if (partial)
        header += "Content-Range: bytes " + std::to_string(c_.Received) + "-" + std::to_string(lastByte) + "/" +
                  std::to_string(fileSize_) + "\r\n";
    header += "\r\n";
    if (restarting_)
        c_.RegetHeader = header;
    else
        c_.Header = header;
    hooks_.headerDone();
    if (!ok()) return;
    if (fileSize_ != 0 && c_.Remaining <= 0) {
        DataDone();
        return;
    }
    dataWatch_->SetInterest(true, false);
    ReadData();  // what came before the go-ahead
}

void FtpConversation::ReadData() {
    if (!c_.Busy || data_ < 0 || !headerSent_) return;
    auto ok = hooks_.guard();
    const bool listing = c_.PathIsDirectory;
    const bool sized = fileSize_ != 0;
    for (int round = 0; round < kReadsPerWakeUp; ++round) {
        ssize_t got = ::recv(data_, buffer_.data(), buffer_.size(), 0);
        if (got < 0 && WouldBlock()) return;
        if (got <= 0) {
            DataClosed();
            return;
        }
        hooks_.activity();
        std::int64_t n = got;
        if (sized && n > c_.Remaining) n = c_.Remaining;
        if (sized) c_.Remaining -= n;
        c_.Received += n;
        if (c_.OnStatus) {
            std::string p;
            if (c_.ContentLength == 0) {
                p = std::to_string(c_.Received);
            } else {
                double percent =
                    100.0 - static_cast<double>(c_.Remaining) / static_cast<double>(c_.ContentLength) * 100.0;
                p = std::to_string(static_cast<long long>(std::nearbyint(percent))) + "% of " +
                    std::to_string(c_.ContentLength);
            }
            hooks_.report(p + " bytes of " + c_.GetURL() + ".", StatusKind::Progress);
            if (!ok()) return;
        }
        if (n > 0 && c_.OnData) {
            if (listing) {
                page_.clear();
                listing_.Convert(std::string_view(buffer_.data(), static_cast<std::size_t>(n)), page_);
                if (!page_.empty()) c_.OnData(c_, page_.data(), page_.size());
            } else {
                c_.OnData(c_, buffer_.data(), static_cast<std::size_t>(n));
            }
            if (!ok()) return;
        }
        if (sized && c_.Remaining <= 0) {
            DataDone();
            return;
        }
        if (c_.SizeLimit > 0 && c_.Received > static_cast<std::int64_t>(c_.SizeLimit) * 1024) {
            hooks_.finish(DoneCode::SizeLimit, true, "File size limit exceed.", StatusKind::TransactionEnd);
            return;
        }
    }
}

void FtpConversation::DataClosed() {
    auto ok = hooks_.guard();
    if (fileSize_ != 0) {
        hooks_.closed();  // cut short: the client's close handling resumes where it can
        return;
    }
    if (c_.PathIsDirectory && c_.OnData) {
        page_.clear();
        listing_.Finish(page_);
        if (!page_.empty()) c_.OnData(c_, page_.data(), page_.size());
        if (!ok()) return;
    }
    DataDone();
}

// Everything came (or the server closed the data connection of a transfer of unknown
// length). The control connection stays until the server's end-of-transfer reply: a
// server whose data side is still busy when the control connection drops may lose track
// of its connections.
void FtpConversation::DataDone() {
    dataWatch_.reset();
    CloseSocket(data_);
    dataEnded_ = true;
    if (finalDigit_ != 0) EndTransfer();
    // Otherwise the server's reply decides (or the inactivity timer ends the wait).
}

void FtpConversation::EndTransfer() {
    if (fileSize_ != 0 || finalDigit_ == 2) {
        c_.Remaining = 0;
        hooks_.finish(DoneCode::Complete, true, "Read Transaction complete.", StatusKind::TransactionEnd);
    } else {
        hooks_.closed();  // the server says the transfer broke off
    }
}

}  // namespace qm::net
