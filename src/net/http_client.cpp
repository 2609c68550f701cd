#include "net/http_client.h"

#include <cctype>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "codings/chunked_body.h"
#include "codings/content_decoding.h"
#include "net/connect_race.h"
#include "net/ftp_step.h"
#include "net/header_fields.h"
#include "net/http_auth.h"
#include "net/host_lookup.h"
#include "net/kept_connections.h"
#include "net/request_target.h"
#include "net/sockets.h"
#include "net/tls_channel.h"
#include "platform/event_loop.h"
#include "store/trim.h"

namespace qm::net {

using codings::ChunkedBody;
using codings::ContentCodings;
using codings::ContentDecoder;
using codings::DecoderChain;
using codings::kAcceptedEncodings;

std::string DownloadConnection::UserAgent = "Velloran/4.0";
std::string DownloadConnection::ProxyUser;
std::string DownloadConnection::ProxyPassword;
bool DownloadConnection::AcceptUntrusted = false;
std::int64_t DownloadConnection::UnannouncedLimit = 4LL * 1024 * 1024 * 1024;

namespace {

constexpr std::int64_t kUnknownLength = 0x0FFFFFFF;
constexpr std::size_t kBufferSize = 8192;
constexpr std::size_t kReadSize = 4096;
constexpr std::size_t kLocalBlock = 2048;
constexpr int kReadsPerWakeUp = 64;
// A plain socket is read this many bytes at a time, and what came is then handled kReadSize
// bytes at a time, as separate reads would be: one system call instead of eight.
constexpr std::size_t kStagedSize = 8 * kReadSize;
// A response header (or resume header) longer than this ends the transfer: no real server
// sends one, and it keeps a hostile peer from growing our memory.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
// A connect refused sooner than this (0.000012 day) is reported after a one-second wait.
constexpr double kQuickRefusalDays = 0.000012;
// A coded body is taken for a decompression bomb when it expands beyond this many times its
// size and beyond this many bytes more than the file-size limit allows.
constexpr std::int64_t kBombRatio = 1000;
constexpr std::int64_t kBombMargin = 64LL * 1024 * 1024;

double NowDays() {
    using namespace std::chrono;
    double seconds = duration<double>(steady_clock::now().time_since_epoch()).count();
    return seconds / 86400.0;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Whether the last transfer coding of the header is chunked (the framing HTTP/1.1 uses for an
// answer of unknown length).
bool ChunkedFraming(const std::string& header) {
    std::optional<std::string_view> field = HeaderField(header, "transfer-encoding:");
    if (!field) return false;
    std::string value = Lower(std::string(*field));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    return value.size() >= 7 && value.compare(value.size() - 7, 7, "chunked") == 0;
}

// A whole decimal number, as a text-to-number conversion with a default would take it.
bool ParseNumber(const std::string& s, long long& value) {
    if (s.empty() || s.size() > 18) return false;
    std::size_t i = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        i = 1;
        if (s.size() == 1) return false;
    }
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    value = negative ? -v : v;
    return true;
}

// The earliest header terminator in text: returns the offset just after it, or npos.
std::size_t FindTerminator(const std::string& text, std::size_t from) {
    static const char* const kTerminators[] = {"\r\n\r\n", "\n\r\n\r", "\n\n", "\r\r", "\n\r\n"};
    std::size_t bestPos = std::string::npos, bestEnd = std::string::npos;
    for (const char* t : kTerminators) {
        std::size_t p = text.find(t, from);
        if (p != std::string::npos && (bestPos == std::string::npos || p < bestPos)) {
            bestPos = p;
            bestEnd = p + std::strlen(t);
        }
    }
    return bestEnd;
}

}  // namespace

// ---------------------------------------------------------------------------------------

struct DownloadConnection::Impl {
    explicit Impl(DownloadConnection& client) : c(client), timer([this] { OnTimer(); }) {}

    DownloadConnection& c;
    int sock = kNoSocket;
    std::unique_ptr<platform::SocketWatch> watch;
    platform::Timer timer;
    std::array<char, kBufferSize + 1> buffer{};
    // The last large read of a plain socket (made at its first use), of which the bytes from
    // stagedFrom to stagedTo are still to be handled; stagedShort: it did not fill its room,
    // so the socket had nothing more then.
    std::unique_ptr<char[]> staged;
    std::size_t stagedFrom = 0;
    std::size_t stagedTo = 0;
    bool stagedShort = false;
    std::string request;
    std::string pendingOut;  // the part of a send the socket did not take yet
    bool HeaderDone = false;
    bool lengthKnown = false;  // the answer announced its length
    bool overrun = false;      // bytes beyond the announced length came and were dropped
    bool reused = false;       // this transaction runs on a kept connection
    bool keepAfter = false;    // the answer ended where announced: the connection may stay
    // The framing and coding of the body being read: chunked (else a length or the close ends
    // it), and the content coding undone before the owner sees the bytes.
    std::unique_ptr<ChunkedBody> chunks;
    std::string unchunked;
    std::unique_ptr<DecoderChain> decoder;
    std::int64_t codedBytes = 0;        // coded body bytes given to the decoder
    std::unique_ptr<ConnectRace> race;  // the connect attempts to the server's addresses
    bool SocksGranted = false;
    bool Restarting = false;
    // Where the transaction stands while it reaches its server.
    enum class Stage {
        Idle = 0,               // idle, or connected and transferring
        Lookup = 1,             // looking up the server's (or the proxy's) address
        SocksTargetLookup = 2,  // looking up the server's address for the SOCKS request
        Connecting = 3,
        Refused = 4,  // a quick refusal waits before it is reported
    };
    Stage State = Stage::Idle;
    double ConnectStarted = 0;
    std::string HostToResolve;
    std::string ifModifiedLine;
    HostLookup* serverLookup = nullptr;
    HostLookup* targetLookup = nullptr;
    std::uint32_t connectAddress = kNoAddress;
    int connectPort = 0;
    std::uint32_t targetAddress = kNoAddress;
    // The SOCKS target has only IPv6 addresses, which a SOCKS4 request cannot carry: its
    // name goes to the proxy instead (SOCKS4a), which looks it up itself.
    bool socksByName = false;
    int targetPort = 0;
    bool connecting = false;      // waiting for the connect to finish
    std::size_t headerBytes = 0;  // raw bytes taken into the current header
    std::array<unsigned char, 8> socksReply{};
    std::size_t socksReplyBytes = 0;
    std::uint64_t generation = 0;  // counts transactions, so stale events are recognised
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    std::unique_ptr<FtpConversation> ftp;  // made for the first ftp:// address

    // FTP is not carried by an HTTP proxy: such addresses are fetched directly.
    ProxyKind Proxy() const {
        return c.Scheme == UrlScheme::Ftp && c.ProxyType == ProxyKind::Http ? ProxyKind::None : c.ProxyType;
    }
    FtpConversation& Ftp();
    // https: the TLS session over sock, and the proxy's answer to CONNECT while it is awaited.
    std::unique_ptr<TlsChannel> tls;
    bool tunnelPending = false;
    std::string tunnelReply;

    // True while the transaction of gen is still the running one.
    bool Current(const std::shared_ptr<bool>& guard, std::uint64_t gen) const {
        return *guard && generation == gen && c.Busy;
    }
    bool Same(const std::shared_ptr<bool>& guard, std::uint64_t gen) const { return *guard && generation == gen; }

    void Report(const std::string& text, StatusKind kind) {
        if (!c.OnStatus) return;
        auto guard = alive;
        if (kind != StatusKind::ProtocolText) {
            c.OnStatus(c, text, kind);
            return;
        }
        std::size_t start = 0;
        while (start <= text.size() && *guard) {
            std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) end = text.size();
            if (end > start) c.OnStatus(c, text.substr(start, end - start), kind);
            start = end + 1;
        }
    }

    void StartTimeout() {
        if (c.TimeOut > 0) timer.Start(c.TimeOut, true);
    }

    void CloseSockets() {
        // Bytes TLS already holds beyond the answer would be taken for the next one.
        if (keepAfter && c.KeepAlive && sock != kNoSocket && pendingOut.empty() && !tunnelPending &&
            !(tls && tls->Pending()) && stagedFrom == stagedTo) {
            watch.reset();
            kept::Keep(KeptKey(), sock, std::move(tls));
            sock = kNoSocket;
        }
        keepAfter = false;
        stagedFrom = stagedTo = 0;
        stagedShort = false;
        race.reset();
        watch.reset();
        tls.reset();
        tunnelPending = false;
        tunnelReply.clear();
        CloseSocket(sock);
        if (ftp) ftp->CloseData();
        pendingOut.clear();
        connecting = false;
    }

    void CancelLookups() {
        CancelLookup(serverLookup);
        CancelLookup(targetLookup);
        CancelLookupsOf(this);
        serverLookup = targetLookup = nullptr;
    }

    // The common end of a transaction: the client is idle before the owner hears of it.
    void Finish(DoneCode code, bool complete, const std::string& text, StatusKind kind) {
        auto guard = alive;
        std::uint64_t gen = generation;
        c.Busy = false;
        timer.Stop();
        CloseSockets();
        c.Complete = complete;
        if (!text.empty()) Report(text, kind);
        if (!Same(guard, gen)) return;  // a handler started a new transaction meanwhile
        if (c.OnDone) c.OnDone(c, code);
    }

    void DoneWithoutReport(DoneCode code) {
        auto guard = alive;
        std::uint64_t gen = generation;
        c.Busy = false;
        if (!Same(guard, gen)) return;
        if (c.OnDone) c.OnDone(c, code);
    }

    // Posts fn for the running transaction; it is dropped when that transaction is over.
    void PostForTransaction(std::function<void()> fn) {
        auto guard = alive;
        std::uint64_t gen = generation;
        platform::Post([this, guard, gen, fn = std::move(fn)] {
            if (Current(guard, gen)) fn();
        });
    }

    bool Start(bool restart);
    bool OpenConnection();
    bool TakeKeptConnection();
    void ConnectAgain();
    std::string KeptKey() const {
        return kept::KeyFor(c.Scheme, c.Host, c.Port, Proxy(), c.ProxyHost, c.ProxyPort, AcceptUntrusted);
    }
    bool ServerKeepsOpen() const;
    bool StartLocalFile();
    void BuildRequest();
    void Connect();
    void OnLookup(bool socksTarget, std::uint32_t address);
    void OnSocket(int events);
    void OnConnected(int error);
    void OnReadable();
    void OnClosed();
    void OnTimer();
    void SendText(const std::string& text);
    void FlushOutput();
    void HandleHttpData(std::size_t n);
    void SetUpBodyReading(const std::string& header, int code);
    bool DeliverBody(const char* data, std::size_t count, bool report);
    void ReadBody(std::size_t n);
    long SendSome(const char* data, std::size_t size);
    long ReceiveSome(char* data, std::size_t size);
    long NextRead(char* data, std::size_t size);
    void SendRequest();
    void StartTls();
    void ContinueHandshake();
    void ReadTunnelReply();
};

FtpConversation& DownloadConnection::Impl::Ftp() {
    if (!ftp) {
        FtpConversation::Hooks h;
        h.report = [this](const std::string& text, StatusKind kind) { Report(text, kind); };
        h.finish = [this](DoneCode code, bool complete, const std::string& text, StatusKind kind) {
            Finish(code, complete, text, kind);
        };
        h.closed = [this] { OnClosed(); };
        h.activity = [this] { StartTimeout(); };
        h.send = [this](const std::string& text) { SendText(text); };
        h.headerDone = [this] {
            HeaderDone = true;
            if (!Restarting && c.OnHeader) c.OnHeader(c);  // a resumed transfer keeps its header
        };
        h.guard = [this] {
            auto guard = alive;
            std::uint64_t gen = generation;
            return std::function<bool()>([this, guard, gen] { return Current(guard, gen); });
        };
        ftp = std::make_unique<FtpConversation>(c, std::move(h));
    }
    return *ftp;
}

DownloadConnection::DownloadConnection() : impl_(std::make_unique<Impl>(*this)) {}

DownloadConnection::~DownloadConnection() {
    *impl_->alive = false;
    impl_->CancelLookups();
    impl_->timer.Stop();
    impl_->CloseSockets();
}

// ---------------------------------------------------------------------------------------
// Address

void DownloadConnection::SetURL(const std::string& address) {
    std::string a = store::Trim(address, store::kBlanksAndControls);
    std::string lower = Lower(a);
    Scheme = UrlScheme::Http;
    std::string rest = a;
    static const struct {
        const char* prefix;
        UrlScheme scheme;
    } kSchemes[] = {{"http://", UrlScheme::Http}, {"file://", UrlScheme::File}, {"ftp://", UrlScheme::Ftp}};
    std::size_t found = std::string::npos;
    for (const auto& s : kSchemes) {
        std::size_t p = lower.find(s.prefix);
        if (p != std::string::npos) {
            Scheme = s.scheme;
            rest = a.substr(p + std::strlen(s.prefix));
            found = p;
            break;
        }
    }
    // https counts when it is written before the scheme found above, so that an address
    // named in a query of either kind is not taken for the address itself.
    const std::size_t secure = lower.find("https://");
    if (secure < found) {
        Scheme = UrlScheme::Https;
        rest = a.substr(secure + 8);
    }
    std::string path;
    if (Scheme == UrlScheme::File) {
        // Local paths use this system's separator; "|" stands for the drive colon.
        for (char& ch : rest)
            if (ch == '|') ch = ':';
        // Cleaned addresses keep two slashes only ("file://home/u/x"); a path that is not in
        // the drive form ("c:/...") is absolute on this system.
        bool driveForm = rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':';
        if (!rest.empty() && rest[0] != '/' && !driveForm) rest.insert(rest.begin(), '/');
        path = rest;
    } else {
        std::size_t s = rest.find('/');
        if (s == std::string::npos) s = rest.size();
        // An IPv6 literal keeps its brackets in the host; its colons are not the port's.
        const std::size_t literalEnd = !rest.empty() && rest[0] == '[' ? rest.find(']') : std::string::npos;
        const std::size_t portFrom = literalEnd != std::string::npos && literalEnd < s ? literalEnd : 0;
        std::size_t k = rest.find(':', portFrom);
        if (k != std::string::npos && k < s) {
            Host = rest.substr(0, k);
            long long port = 0;
            Port = ParseNumber(rest.substr(k + 1, s - k - 1), port) ? static_cast<int>(port)
                                                                    : (Scheme == UrlScheme::Https ? 443 : 80);
        } else {
            Host = rest.substr(0, s);
            Port = Scheme == UrlScheme::Ftp ? 21 : Scheme == UrlScheme::Https ? 443 : 80;
        }
        path = rest.substr(s);
    }
    if (path.empty()) path = "/";
    if (Scheme == UrlScheme::Ftp) {
        std::string decoded;
        auto hex = [](char ch) {
            return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
        };
        for (std::size_t i = 0; i < path.size(); ++i) {
            if (path[i] == '%' && i + 2 < path.size() && hex(path[i + 1]) && hex(path[i + 2])) {
                int b = HexByte(path.substr(i + 1, 2));
                if (b != 0) {
                    decoded += static_cast<char>(b);
                    i += 2;
                    continue;
                }
            }
            decoded += path[i];
        }
        path = decoded;
    }
    Path = path;
    PathIsDirectory = !Path.empty() && Path.back() == '/';
}

bool DownloadConnection::EndedWhole(DoneCode code) const {
    if (code == DoneCode::SizeLimit) return false;
    // A chunked or coded body cut off before its own end is not whole, whoever closed.
    if (StatusCode >= 200 && StatusCode <= 255 &&
        ((impl_->chunks && !impl_->chunks->Ended()) || (impl_->decoder && !impl_->decoder->Finished())))
        return false;
    const bool endedByServer = code == DoneCode::Complete || code == DoneCode::ServerClosed;
    return Complete || (StatusCode > 0 && ContentLength == 0 && endedByServer) ||
           (StatusCode > 0 && (StatusCode < 200 || StatusCode > 255));
}

ProxyKind ProxyKindOf(int option) {
    return option == 1 ? ProxyKind::Http : option == 2 ? ProxyKind::Socks4 : ProxyKind::None;
}

std::string DownloadConnection::GetURL() const {
    switch (Scheme) {
    case UrlScheme::Ftp: return "ftp://" + Host + (Port != 21 ? ":" + std::to_string(Port) : "") + Path;
    case UrlScheme::File: return "file://" + Path;
    case UrlScheme::Https: return "https://" + Host + (Port != 443 ? ":" + std::to_string(Port) : "") + Path;
    default: return "http://" + Host + (Port != 80 ? ":" + std::to_string(Port) : "") + Path;
    }
}

// ---------------------------------------------------------------------------------------
// Start

bool DownloadConnection::Start(bool restart) { return impl_->Start(restart); }

const std::string& DownloadConnection::RequestText() const { return impl_->request; }

std::string DownloadConnection::ServerAddress() const {
    if (impl_->Proxy() != ProxyKind::None || impl_->sock == kNoSocket) return {};
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(impl_->sock, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return {};
    char text[INET6_ADDRSTRLEN] = {};
    if (peer.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&peer)->sin_addr, text, sizeof text);
    else if (peer.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&peer)->sin6_addr, text, sizeof text);
    return text;
}

bool DownloadConnection::Impl::Start(bool restart) {
    // Whatever ran before is over: its sockets, timer and lookups go.
    ++generation;
    timer.Stop();
    CloseSockets();
    CancelLookups();
    c.RegetHeader.clear();
    HeaderDone = false;
    if (!restart) lengthKnown = false;  // a resumed answer goes on counting down the first one's length
    overrun = false;
    reused = false;
    c.Reused = false;
    headerBytes = 0;
    chunks.reset();
    decoder.reset();
    codedBytes = 0;
    c.Busy = true;
    if (!restart) {
        c.ContentLength = 0;
        c.Remaining = kUnknownLength;
        c.StatusCode = 0;
        c.Complete = false;
        c.Header.clear();
        c.Received = c.ResumeFrom;
        SocksGranted = false;
        State = Stage::Idle;
        if (c.Scheme == UrlScheme::File) return StartLocalFile();
        if (c.Delay >= 1) {
            Report("Delay " + std::to_string(c.Delay) + " seconds before " + c.GetURL() + ".", StatusKind::Connection);
            if (!c.Busy) return true;  // the owner ended it from the report
            timer.Start(c.Delay * 1000, true);
            return true;
        }
    }
    SocksGranted = false;
    socksReplyBytes = 0;
    State = Stage::Idle;
    Restarting = restart;
    std::string ims = c.IfModifiedSince;
    while (!ims.empty() && (ims.back() == '\r' || ims.back() == '\n')) ims.pop_back();
    ims = store::Trim(ims, store::kBlanksAndControls);
    ifModifiedLine = ims.empty() ? "" : "If-Modified-Since: " + ims + "\r\n";
    BuildRequest();
    if (TakeKeptConnection()) return true;
    return OpenConnection();
}

bool DownloadConnection::Impl::TakeKeptConnection() {
    // FTP keeps its own conversation; a SOCKS connection is not worth the bookkeeping.
    if (!c.KeepAlive || Restarting || c.Scheme == UrlScheme::Ftp || c.Scheme == UrlScheme::File ||
        Proxy() == ProxyKind::Socks4)
        return false;
    int fd = kNoSocket;
    std::unique_ptr<TlsChannel> session;
    if (!kept::Take(KeptKey(), fd, session)) return false;
    sock = fd;
    tls = std::move(session);
    reused = true;
    c.Reused = true;
    State = Stage::Idle;
    connecting = false;
    watch = std::make_unique<platform::SocketWatch>(sock, [this](int events) { OnSocket(events); });
    watch->SetInterest(true, false);
    SendRequest();
    return true;
}

// A kept connection that the server closed before answering: the same request goes out once
// more on a new connection, as part of the same attempt.
void DownloadConnection::Impl::ConnectAgain() {
    auto guard = alive;
    std::uint64_t gen = generation;
    timer.Stop();
    CloseSockets();
    reused = false;
    c.Reused = false;
    Report("Kept connection to host " + c.Host + " was closed. Connecting again.", StatusKind::Connection);
    if (!Current(guard, gen)) return;
    if (!OpenConnection() && Same(guard, gen)) DoneWithoutReport(DoneCode::Failed);
}

bool DownloadConnection::Impl::ServerKeepsOpen() const {
    const std::string lower = Lower(c.Header);
    // HTTP/1.1 keeps connections open unless told otherwise; HTTP/1.0 only when told.
    bool keeps = HasPrefix(lower, "http/1.1");
    std::size_t at = 0;
    while ((at = lower.find('\n', at)) != std::string::npos) {
        ++at;
        std::size_t nameEnd = lower.find(':', at);
        std::size_t lineEnd = lower.find_first_of("\r\n", at);
        if (nameEnd == std::string::npos || nameEnd > lineEnd) continue;
        const std::string name = lower.substr(at, nameEnd - at);
        if (name != "connection" && !(name == "proxy-connection" && Proxy() == ProxyKind::Http)) continue;
        const std::string value =
            lower.substr(nameEnd + 1, lineEnd == std::string::npos ? std::string::npos : lineEnd - nameEnd - 1);
        if (value.find("close") != std::string::npos) return false;
        if (value.find("keep-alive") != std::string::npos) keeps = true;
    }
    return keeps;
}

bool DownloadConnection::Impl::OpenConnection() {
    connectPort = Proxy() != ProxyKind::None ? c.ProxyPort : c.Port;
    if (Proxy() != ProxyKind::None) targetPort = c.Port;
    HostToResolve = BareHost(Proxy() != ProxyKind::None ? c.ProxyHost : c.Host);
    connectAddress = CachedAddress(HostToResolve);

    auto guard = alive;
    std::uint64_t gen = generation;
    if (Proxy() == ProxyKind::Socks4) {
        socksByName = false;
        if (BareHost(c.Host) != c.Host) {
            // An IPv6 literal: neither a SOCKS4 request nor a SOCKS4a name can carry it.
            PostForTransaction([this] {
                Finish(DoneCode::Failed, false,
                       "Host " + c.Host + " is an IPv6 address, which a SOCKS4 proxy cannot reach.",
                       StatusKind::Connection);
            });
            return true;
        }
        targetAddress = CachedAddress(c.Host);
        if (targetAddress == kNoAddress && !CachedAddresses6(c.Host).empty()) socksByName = true;
        if (targetAddress == kNoAddress && !socksByName) {
            Report("Looking up host " + c.Host + "...", StatusKind::Connection);
            if (!Current(guard, gen)) return true;
            State = Stage::SocksTargetLookup;
            StartTimeout();
            targetLookup = LookupHost(
                this,
                [this, guard, gen](std::uint32_t a) {
                    if (Current(guard, gen) && State == Stage::SocksTargetLookup) OnLookup(true, a);
                },
                c.Host);
            return true;
        }
    }
    if (!HasCachedAddress(HostToResolve)) {
        Report("Looking up host " + HostToResolve + "...", StatusKind::Connection);
        if (!Current(guard, gen)) return true;
        State = Stage::Lookup;
        StartTimeout();
        serverLookup = LookupHost(
            this,
            [this, guard, gen](std::uint32_t a) {
                if (Current(guard, gen) && State == Stage::Lookup) OnLookup(false, a);
            },
            HostToResolve);
        return true;
    }
    Connect();
    return true;
}

bool DownloadConnection::Impl::StartLocalFile() {
    auto guard = alive;
    std::uint64_t gen = generation;
    // Only a regular file counts: a folder opens on this system but is not one.
    struct stat info {};
    FILE* f = nullptr;
    if (::stat(c.Path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) f = std::fopen(c.Path.c_str(), "rb");
    if (!f) {
        c.StatusCode = 404;
        c.Busy = false;
        Report("Local file " + c.Path + " not found.", StatusKind::Connection);
        return false;
    }
    Report("Local file " + c.Path + " found.", StatusKind::Connection);
    if (!Current(guard, gen)) {
        std::fclose(f);
        return true;
    }
    c.StatusCode = 200;
    c.Header = "Content-type: " + ContentTypeOf(c.Path) + "\r\n";
    HeaderDone = true;
    if (c.OnHeader) c.OnHeader(c);
    char block[kLocalBlock];
    while (Current(guard, gen)) {
        std::size_t n = std::fread(block, 1, sizeof block, f);
        if (n == 0) break;
        if (c.OnData) c.OnData(c, block, n);
    }
    std::fclose(f);
    if (!Current(guard, gen)) return true;
    c.Busy = false;
    Report("Read Transaction complete.", StatusKind::TransactionEnd);
    if (Same(guard, gen) && c.OnDone) c.OnDone(c, DoneCode::Complete);
    return true;
}

void DownloadConnection::Impl::BuildRequest() {
    const std::string crlf = "\r\n";
    // Credentials go out only in answer to the server's own challenge.
    std::string auth;
    if (!c.Challenge.empty() && !c.UserName.empty()) {
        const bool absolute = c.ProxyType == ProxyKind::Http && c.Scheme != UrlScheme::Https;
        const std::string target = EncodeRequestTarget(absolute ? c.GetURL() : c.Path);
        const std::string value =
            AuthorizationValue(PickChallenge(c.Challenge), c.UserName, c.Password, "GET", target, NewClientNonce());
        if (!value.empty()) auth = "Authorization: " + value + crlf;
    }
    // An https page's address is not told to a server over plain http, nor a local file's
    // to any server.
    auto startsWith = [](const std::string& text, const char* lowerPrefix) {
        const std::size_t n = std::strlen(lowerPrefix);
        return text.size() >= n && std::equal(text.begin(), text.begin() + n, lowerPrefix,
                                              [](char a, char b) { return (a | 0x20) == b || a == b; });
    };
    const bool hideReferer =
        startsWith(c.Referer, "file:") || (c.Scheme != UrlScheme::Https && startsWith(c.Referer, "https://"));
    std::string referer = c.Referer.empty() || hideReferer ? "" : "Referer: " + EncodeRequestTarget(c.Referer) + crlf;
    std::string range;
    if (Restarting || c.ResumeFrom >= 1 || c.RangeEnd >= 1) {
        range = "Range: bytes=" + std::to_string(c.Received) + "-";
        if (c.RangeEnd > 0) range += std::to_string(c.RangeEnd);
        range += crlf;
    }
    std::string agent = UserAgent.empty() ? "" : "User-Agent: " + UserAgent + crlf;
    const int defaultPort = c.Scheme == UrlScheme::Https ? 443 : 80;
    std::string host = "Host: " + c.Host + (c.Port != defaultPort ? ":" + std::to_string(c.Port) : "") + crlf;
    // Cookies and a posted form's header lines go after the others.
    const std::string method = c.PostBody.empty() ? "GET" : "POST";
    std::string form = c.ExtraHeaders;
    if (!c.PostBody.empty())
        form += "Content-Type: application/x-www-form-urlencoded" + crlf +
                "Content-Length: " + std::to_string(c.PostBody.size()) + crlf;
    // A part of a file is asked for as stored, never coded: its bytes join those already kept.
    const std::string encoding =
        std::string("Accept-Encoding: ") + (range.empty() ? kAcceptedEncodings : "identity") + crlf;
    const std::string connection = c.KeepAlive ? "keep-alive" : "close";
    std::string r;
    // Through an HTTP proxy an https request travels inside the tunnel, as to the server.
    if (c.ProxyType == ProxyKind::Http && c.Scheme != UrlScheme::Https) {
        r = method + " " + EncodeRequestTarget(c.GetURL()) + " HTTP/1.1" + crlf;
        r += ifModifiedLine + auth;
        r += "Proxy-Connection: " + connection + crlf;
        r += agent + referer + range + host;
        r += "Accept: */*" + crlf + encoding;
        if (!ProxyUser.empty()) r += "Proxy-Authorization: Basic " + Base64(ProxyUser + ":" + ProxyPassword) + crlf;
        r += "Pragma: no-cache" + crlf + form + crlf + c.PostBody;
    } else {
        r = method + " " + EncodeRequestTarget(c.Path) + " HTTP/1.1" + crlf;
        r += ifModifiedLine + auth;
        r += "Accept: */*" + crlf + encoding;
        r += referer + range + agent + host;
        r += "Connection: " + connection + crlf;
        r += "Pragma: no-cache" + crlf + form + crlf + c.PostBody;
    }
    request = std::move(r);
}

void DownloadConnection::Impl::OnLookup(bool socksTarget, std::uint32_t address) {
    auto guard = alive;
    std::uint64_t gen = generation;
    State = Stage::Idle;
    timer.Stop();
    if (socksTarget) {
        targetLookup = nullptr;
        socksByName = address == kNoAddress && !CachedAddresses6(c.Host).empty();
        if (address == kNoAddress && !socksByName) {
            Finish(DoneCode::Failed, false, "Host " + c.Host + " not found.", StatusKind::Connection);
            return;
        }
        targetAddress = address;
        if (connectAddress == kNoAddress) connectAddress = CachedAddress(HostToResolve);
        if (!HasCachedAddress(HostToResolve)) {
            State = Stage::Lookup;
            StartTimeout();
            Report("Looking up host " + c.ProxyHost + "...", StatusKind::Connection);
            if (!Current(guard, gen)) return;
            serverLookup = LookupHost(
                this,
                [this, guard, gen](std::uint32_t a) {
                    if (Current(guard, gen) && State == Stage::Lookup) OnLookup(false, a);
                },
                HostToResolve);
            return;
        }
        Connect();
        return;
    }
    serverLookup = nullptr;
    if (address == kNoAddress && CachedAddresses6(HostToResolve).empty()) {
        Finish(DoneCode::Failed, false, "Host " + HostToResolve + " not found.", StatusKind::Connection);
        return;
    }
    connectAddress = address;
    Connect();
}

void DownloadConnection::Impl::Connect() {
    auto guard = alive;
    std::uint64_t gen = generation;
    Report(Proxy() != ProxyKind::None ? "Connecting to Proxy server..." : "Connecting to host " + c.Host + "...",
           StatusKind::Connection);
    if (!Current(guard, gen)) return;
    State = Stage::Connecting;
    StartTimeout();
    ConnectStarted = NowDays();
    connecting = true;
    if (connectPort <= 0 || connectPort > 65535) {
        // No such port: the attempt fails as a refused connect would.
        PostForTransaction([this] {
            if (connecting) OnConnected(EINVAL);
        });
        return;
    }
    // Both families of the server's addresses, raced; the winner becomes this connection's
    // socket.
    std::vector<std::uint32_t> v4;
    if (connectAddress != kNoAddress) v4.push_back(connectAddress);
    race = std::make_unique<ConnectRace>(
        RaceOrder(CachedAddresses6(HostToResolve), v4, connectPort), [this](int fd, int error) {
            sock = fd;
            if (sock != kNoSocket)
                watch = std::make_unique<platform::SocketWatch>(sock, [this](int events) { OnSocket(events); });
            PostForTransaction([this, error] {
                race.reset();
                if (connecting) OnConnected(error);
            });
        });
    race->Start();
}

void DownloadConnection::Impl::OnSocket(int events) {
    if (!c.Busy) return;
    if (connecting) {
        if (events & platform::SocketWatch::kWritable) {
            int error = 0;
            socklen_t len = sizeof error;
            if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
            OnConnected(error);
        }
        return;
    }
    if (tls && !tls->Established()) {
        ContinueHandshake();
        return;
    }
    if (events & platform::SocketWatch::kWritable) {
        FlushOutput();
        return;
    }
    if (events & platform::SocketWatch::kReadable) OnReadable();
}

void DownloadConnection::Impl::OnConnected(int error) {
    auto guard = alive;
    std::uint64_t gen = generation;
    connecting = false;
    double elapsed = NowDays() - ConnectStarted;
    State = Stage::Idle;
    timer.Stop();
    if (error != 0) {
        if (elapsed < kQuickRefusalDays) {
            State = Stage::Refused;
            if (watch) watch->SetInterest(false, false);
            timer.Start(1000, true);
            return;
        }
        Finish(DoneCode::Failed, false, "Connection to host " + c.Host + " failed.", StatusKind::Connection);
        return;
    }
    watch->SetInterest(true, false);
    if (c.Scheme == UrlScheme::Ftp && Proxy() != ProxyKind::Socks4) {
        // The FTP server speaks first: nothing is sent until its greeting.
        Report("Host " + c.Host + " connected. Waiting for " + c.GetURL() + ".", StatusKind::Connection);
        if (!Current(guard, gen)) return;
        Ftp().Begin(sock, Restarting, false);
        StartTimeout();
        return;
    }
    if (Proxy() == ProxyKind::Socks4) {
        Report("Proxy server connected. Waiting for reply.", StatusKind::Connection);
        if (!Current(guard, gen)) return;
        unsigned char head[8];
        head[0] = 4;
        head[1] = 1;
        head[2] = static_cast<unsigned char>((targetPort >> 8) & 0xFF);
        head[3] = static_cast<unsigned char>(targetPort & 0xFF);
        if (socksByName) {
            // SOCKS4a: the address 0.0.0.1 says that the name follows the user identifier.
            head[4] = head[5] = head[6] = 0;
            head[7] = 1;
        } else {
            std::memcpy(head + 4, &targetAddress, 4);
        }
        SendText(std::string(reinterpret_cast<char*>(head), 8));
        SendText(std::string("SSL\0", 4) + (socksByName ? c.Host + std::string(1, '\0') : std::string()));
    } else if (c.Scheme == UrlScheme::Https && c.ProxyType == ProxyKind::Http) {
        // A tunnel through the proxy first; TLS starts when the proxy says yes.
        Report("Proxy server connected. Opening a tunnel to " + c.Host + ".", StatusKind::Connection);
        if (!Current(guard, gen)) return;
        const std::string target = c.Host + ":" + std::to_string(c.Port);
        std::string connect = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
        if (!ProxyUser.empty())
            connect += "Proxy-Authorization: Basic " + Base64(ProxyUser + ":" + ProxyPassword) + "\r\n";
        connect += "\r\n";
        tunnelPending = true;
        SendText(connect);
    } else if (c.Scheme == UrlScheme::Https) {
        StartTls();
        return;
    } else {
        SendRequest();
        return;
    }
    StartTimeout();
}

void DownloadConnection::Impl::SendRequest() {
    auto guard = alive;
    std::uint64_t gen = generation;
    Report("Host " + c.Host + " connected. Waiting for " + c.GetURL() + ".", StatusKind::Connection);
    if (!Current(guard, gen)) return;
    SendText(request);
    Report(request, StatusKind::ProtocolText);
    if (!Current(guard, gen)) return;
    StartTimeout();
}

void DownloadConnection::Impl::StartTls() {
    std::string error;
    tls = TlsChannel::Open(sock, BareHost(c.Host), !AcceptUntrusted, error);
    if (!tls) {
        Finish(DoneCode::Failed, false, "Secure connection to host " + c.Host + " failed: " + error + ".",
               StatusKind::Connection);
        return;
    }
    StartTimeout();
    ContinueHandshake();
}

void DownloadConnection::Impl::ContinueHandshake() {
    std::string error;
    switch (tls->Handshake(error)) {
    case TlsChannel::Step::Done:
        watch->SetInterest(true, !pendingOut.empty());
        SendRequest();
        return;
    case TlsChannel::Step::WantRead: watch->SetInterest(true, false); return;
    case TlsChannel::Step::WantWrite: watch->SetInterest(true, true); return;
    case TlsChannel::Step::Failed:
        Finish(DoneCode::Failed, false, "Secure connection to host " + c.Host + " failed: " + error + ".",
               StatusKind::Connection);
        return;
    }
}

// The proxy's answer to CONNECT: a 2xx status opens the tunnel, anything else ends here.
void DownloadConnection::Impl::ReadTunnelReply() {
    char chunk[1024];
    long n = ReceiveSome(chunk, sizeof chunk);
    if (n == -1) return;
    if (n <= 0) {
        Finish(DoneCode::Failed, false, "Proxy server closed the tunnel to host " + c.Host + ".",
               StatusKind::Connection);
        return;
    }
    tunnelReply.append(chunk, static_cast<std::size_t>(n));
    std::size_t end = FindTerminator(tunnelReply, 0);
    if (end == std::string::npos) {
        if (tunnelReply.size() > kMaxHeaderBytes)
            Finish(DoneCode::Failed, false, "Response header too long.", StatusKind::TransactionEnd);
        return;
    }
    std::string status = tunnelReply.substr(0, tunnelReply.find_first_of("\r\n"));
    Report(status, StatusKind::ProtocolText);
    std::size_t blank = status.find(' ');
    if (!HasPrefix(status, "HTTP/") || blank == std::string::npos || status.compare(blank + 1, 1, "2") != 0) {
        Finish(DoneCode::Failed, false, "Proxy server refused the tunnel to host " + c.Host + ": " + status + ".",
               StatusKind::Connection);
        return;
    }
    tunnelPending = false;
    tunnelReply.clear();
    StartTls();
}

long DownloadConnection::Impl::SendSome(const char* data, std::size_t size) {
    if (tls) {
        long n = tls->Write(data, size);
        return n > 0 ? n : -1;
    }
    for (;;) {
        ssize_t n = ::send(sock, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        return n > 0 ? static_cast<long>(n) : -1;
    }
}

// Bytes received, 0 when the peer closed, -1 when nothing is waiting, -2 on an error.
long DownloadConnection::Impl::ReceiveSome(char* data, std::size_t size) {
    if (tls) {
        long n = tls->Read(data, size);
        return n == TlsChannel::kWouldBlock ? -1 : n == TlsChannel::kFailed ? -2 : n;
    }
    for (;;) {
        ssize_t n = ::recv(sock, data, size, 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? -1 : -2;
    }
}

// The next read of an answer, as ReceiveSome: from what the last large read of a plain
// socket left, else from the socket.
long DownloadConnection::Impl::NextRead(char* data, std::size_t size) {
    if (tls) return ReceiveSome(data, size);
    if (stagedFrom == stagedTo) {
        if (!staged) staged = std::make_unique<char[]>(kStagedSize);
        const long n = ReceiveSome(staged.get(), kStagedSize);
        if (n <= 0) return n;
        stagedFrom = 0;
        stagedTo = static_cast<std::size_t>(n);
        stagedShort = stagedTo < kStagedSize;
    }
    const std::size_t take = std::min(size, stagedTo - stagedFrom);
    std::memcpy(data, staged.get() + stagedFrom, take);
    stagedFrom += take;
    return static_cast<long>(take);
}

void DownloadConnection::Impl::SendText(const std::string& text) {
    if (!pendingOut.empty()) {
        pendingOut += text;
        return;
    }
    std::size_t sent = 0;
    while (sent < text.size()) {
        long n = SendSome(text.data() + sent, text.size() - sent);
        if (n <= 0) break;  // the socket is full (or broken: the read side will tell)
        sent += static_cast<std::size_t>(n);
    }
    if (sent < text.size()) {
        pendingOut = text.substr(sent);
        if (watch) watch->SetInterest(true, true);
    }
}

void DownloadConnection::Impl::FlushOutput() {
    std::string rest;
    rest.swap(pendingOut);
    if (watch) watch->SetInterest(true, false);
    SendText(rest);
}

void DownloadConnection::Impl::OnReadable() {
    if (!c.Busy) return;
    if (c.TimeOut > 0) timer.Start(c.TimeOut, true);
    if (Proxy() == ProxyKind::Socks4 && !SocksGranted) {
        ssize_t n = ::recv(sock, socksReply.data() + socksReplyBytes, 8 - socksReplyBytes, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            OnClosed();
            return;
        }
        if (n < 0) return;
        socksReplyBytes += static_cast<std::size_t>(n);
        // The reply is eight bytes; a request is sent only once all of it is in, so that
        // none of it is taken for the start of the response.
        if (socksReplyBytes < 8) return;
        if (socksReply[1] != 90) {
            socksReplyBytes = 0;
            return;  // not granted: the inactivity timer ends the attempt
        }
        auto guard = alive;
        std::uint64_t gen = generation;
        SocksGranted = true;
        if (c.Scheme == UrlScheme::Https) {
            StartTls();
            return;
        }
        Report("Host " + c.Host + " connected. Waiting for " + c.GetURL() + ".", StatusKind::Connection);
        if (!Current(guard, gen)) return;
        if (c.Scheme == UrlScheme::Ftp) {
            Ftp().Begin(sock, Restarting, true);
            return;
        }
        SendText(request);
        Report(request, StatusKind::ProtocolText);
        return;
    }
    if (c.Scheme == UrlScheme::Ftp) {
        Ftp().OnControlReadable();
        return;
    }
    if (tunnelPending) {
        ReadTunnelReply();
        return;
    }
    // Each read takes at most kReadSize bytes and is handled whole before the next, as
    // separate notifications would be; a few are taken per wake-up while data is waiting,
    // which saves a trip through the event loop without letting one fast peer starve the
    // other connections.
    auto guard = alive;
    std::uint64_t gen = generation;
    for (int round = 0; round < kReadsPerWakeUp; ++round) {
        // A large read that did not fill its room emptied the socket: more data will raise
        // another notification.
        if (round > 0 && !tls && stagedFrom == stagedTo && stagedShort) return;
        long n = NextRead(buffer.data(), kReadSize);
        if (n == -1) return;
        if (n <= 0) {
            OnClosed();
            return;
        }
        if (c.OnRawResponse) {
            c.OnRawResponse(c, buffer.data(), static_cast<std::size_t>(n));
            if (!Current(guard, gen)) return;
        }
        HandleHttpData(static_cast<std::size_t>(n));
        if (!Current(guard, gen)) return;
    }
    // What TLS has already decrypted, or a large read left, raises no socket event: it is
    // read on the next turn.
    if ((tls && tls->Pending()) || stagedFrom != stagedTo) PostForTransaction([this] { OnReadable(); });
}

void DownloadConnection::Impl::HandleHttpData(std::size_t n) {
    auto guard = alive;
    std::uint64_t gen = generation;
    if (!HeaderDone) {
        Report("Transferring data from " + c.GetURL() + ".", StatusKind::Progress);
        if (!Current(guard, gen)) return;
        buffer[n] = '\0';
        if (c.Header.empty() && buffer[0] != 'H') {
            // No header at all: everything is body of a plain 200 answer.
            c.Header = "HTTP/1.0 200 OK\r\n\r\n";
        } else {
            std::string& text = Restarting ? c.RegetHeader : c.Header;
            std::size_t before = text.size();
            headerBytes += n;
            text += CountedToString(buffer.data(), n);
            std::size_t from = before >= 3 ? before - 3 : 0;
            std::size_t end = FindTerminator(text, from);
            if (end == std::string::npos) {
                if (headerBytes > kMaxHeaderBytes)
                    Finish(DoneCode::Failed, false, "Response header too long.", StatusKind::TransactionEnd);
                return;  // wait for the rest of the header
            }
            text.resize(end);
            Report(text, StatusKind::ProtocolText);
            if (!Current(guard, gen)) return;
            std::size_t bodyStart = end > before ? end - before : 0;
            n = n > bodyStart ? n - bodyStart : 0;
            std::memmove(buffer.data(), buffer.data() + bodyStart, n);
            if (Restarting) HeaderDone = true;
        }
        const std::string& text = Restarting ? c.RegetHeader : c.Header;
        int code = 0;
        if (HasPrefix(text, "HTTP")) {
            std::string rest = text.substr(text.size() >= 5 ? 5 : text.size());
            std::size_t blank = rest.find(' ');
            rest = blank == std::string::npos ? std::string() : rest.substr(blank + 1);
            long long v = 0;
            if (ParseNumber(rest.substr(0, 3), v)) code = static_cast<int>(v);
        }
        if (code >= 100 && code < 200 && code != 101) {
            // An interim answer (100 Continue, 103 Early Hints): the real one follows it.
            (Restarting ? c.RegetHeader : c.Header).clear();
            HeaderDone = false;
            if (n > 0) HandleHttpData(n);
            return;
        }
        if (c.StatusCode == 0) c.StatusCode = code;
        if (Restarting && code != 206) {
            Finish(DoneCode::ServerClosed, false, "Reget is not supported.", StatusKind::TransactionEnd);
            return;
        }
        // A part that does not begin with the byte asked for would be joined at the wrong
        // place: the transfer fails, and the owner fetches the file again whole.
        if (code == 206 && (Restarting || c.ResumeFrom > 0) && ContentRangeStart(text) != c.Received) {
            Finish(DoneCode::ServerClosed, false,
                   "Reget answered from another byte than " + std::to_string(c.Received) + ".",
                   StatusKind::TransactionEnd);
            return;
        }
        if (Restarting) SetUpBodyReading(c.RegetHeader, code);
        if (!Restarting) {
            if (HasPrefix(c.Header, "HTTP")) {
                // The length counts only when its name begins a line and a blank follows it.
                std::optional<std::string_view> field = HeaderField(c.Header, "content-length:");
                if (field && !field->empty() && field->front() == ' ') {
                    std::string_view v = *field;
                    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
                    std::int64_t length = 0;
                    int digits = 0;
                    for (; !v.empty() && v.front() >= '0' && v.front() <= '9'; v.remove_prefix(1)) {
                        if (digits < 18) length = length * 10 + (v.front() - '0');
                        ++digits;
                    }
                    lengthKnown = digits > 0;
                    if (lengthKnown) c.Remaining = c.ContentLength = length;
                    // Only an announced length is held against the limit; without one the
                    // limit applies to what arrives.
                    if (c.SizeLimit > 0 && c.Remaining > static_cast<std::int64_t>(c.SizeLimit) * 1024) {
                        Finish(DoneCode::SizeLimit, true, "File size limit exceed.", StatusKind::TransactionEnd);
                        return;
                    }
                }
            }
            if (HasPrefix(c.Header, "HTTP")) SetUpBodyReading(c.Header, code);
            // A header that is not an HTTP one still ends here, with code 0, so that what
            // follows it is taken as body rather than as more header.
            HeaderDone = true;
            if (c.OnHeader) c.OnHeader(c);
        }
        if (!Current(guard, gen)) return;
    }
    ReadBody(n);
}

void DownloadConnection::Impl::SetUpBodyReading(const std::string& header, int code) {
    if (ChunkedFraming(header)) {
        // The chunks say where the body ends; a length beside them does not count.
        chunks = std::make_unique<ChunkedBody>();
        lengthKnown = false;
        if (!Restarting) {
            c.ContentLength = 0;
            c.Remaining = kUnknownLength;
        }
    }
    if (Restarting || code < 200 || code > 299) return;
    std::optional<std::string_view> field = HeaderField(header, "content-encoding:");
    if (!field) return;
    bool known = false;
    const std::vector<std::string> codings = ContentCodings(*field, known);
    // A coding this client cannot undo leaves the body as it came.
    if (known) decoder = DecoderChain::For(codings);
    // The announced length is that of the coded body: the stored file's is not known before
    // its end.
    if (decoder) c.ContentLength = 0;
}

// Hands count decoded body bytes to the owner; false when the transaction ended meanwhile.
bool DownloadConnection::Impl::DeliverBody(const char* data, std::size_t count, bool report) {
    auto guard = alive;
    std::uint64_t gen = generation;
    c.Received += static_cast<std::int64_t>(count);
    if (report && c.OnStatus) {
        std::string p;
        if (c.ContentLength == 0) {
            p = std::to_string(c.Received);
        } else {
            double percent = 100.0 - static_cast<double>(c.Remaining) / static_cast<double>(c.ContentLength) * 100.0;
            p = std::to_string(static_cast<long long>(std::nearbyint(percent))) + "% of " +
                std::to_string(c.ContentLength);
        }
        Report(p + " bytes of " + c.GetURL() + ".", StatusKind::Progress);
        if (!Current(guard, gen)) return false;
    }
    if (count > 0 && c.OnData) {
        c.OnData(c, data, count);
        if (!Current(guard, gen)) return false;
    }
    const std::int64_t limit = static_cast<std::int64_t>(c.SizeLimit) * 1024;
    if (c.SizeLimit > 0 && c.Received > limit) {
        Finish(DoneCode::SizeLimit, true, "File size limit exceed.", StatusKind::TransactionEnd);
        return false;
    }
    if (!lengthKnown && c.SizeLimit <= 0 && c.Received > UnannouncedLimit) {
        Finish(DoneCode::SizeLimit, false,
               "Answer without a length stopped at " + std::to_string(c.Received) + " bytes.",
               StatusKind::TransactionEnd);
        return false;
    }
    if (decoder && c.Received > kBombRatio * codedBytes &&
        c.Received > std::max<std::int64_t>(limit, 0) + kBombMargin) {
        Finish(DoneCode::SizeLimit, false,
               "Decompression bomb stopped: " + std::to_string(codedBytes) + " bytes expanded to " +
                   std::to_string(c.Received) + ".",
               StatusKind::TransactionEnd);
        return false;
    }
    return true;
}

void DownloadConnection::Impl::ReadBody(std::size_t n) {
    auto guard = alive;
    std::uint64_t gen = generation;
    if (c.StatusCode > 299) {
        // The body of such an answer is not read: the connection can stay only when all of it
        // (or, for an answer that has none, nothing) came with the header.
        const bool noBody = c.StatusCode == 304 || c.StatusCode == 204;
        bool whole = false;
        if (chunks) {
            ChunkedBody scratch;
            std::string ignored;
            whole = scratch.Feed(buffer.data(), n, ignored) == ChunkedBody::Result::End && scratch.Leftover() == 0;
        } else {
            whole = n == (lengthKnown ? static_cast<std::size_t>(c.Remaining) : 0) && (lengthKnown || noBody);
        }
        keepAfter = !Restarting && whole && ServerKeepsOpen();
        Finish(DoneCode::Complete, true, "Read Transaction complete. Status: " + StatusText(c.StatusCode) + ".",
               StatusKind::TransactionEnd);
        return;
    }
    // The framing comes off first: the chunks, or the announced length (nothing beyond it
    // belongs to this answer). Without either the answer runs until the server closes,
    // however long it is.
    const char* body = buffer.data();
    std::size_t bodyCount = n;
    bool ended = false;
    if (chunks) {
        unchunked.clear();
        const ChunkedBody::Result r = chunks->Feed(buffer.data(), n, unchunked);
        if (r == ChunkedBody::Result::Bad) {
            Finish(DoneCode::ServerClosed, false, "Chunked body malformed.", StatusKind::TransactionEnd);
            return;
        }
        ended = r == ChunkedBody::Result::End;
        if (ended && chunks->Leftover() > 0) overrun = true;
        body = unchunked.data();
        bodyCount = unchunked.size();
    } else if (lengthKnown) {
        if (static_cast<std::int64_t>(n) > c.Remaining) {
            bodyCount = c.Remaining > 0 ? static_cast<std::size_t>(c.Remaining) : 0;
            overrun = true;
        }
        c.Remaining -= static_cast<std::int64_t>(bodyCount);
        ended = c.Remaining <= 0;
    }
    // Then the content coding, as the bytes arrive.
    if (decoder) {
        codedBytes += static_cast<std::int64_t>(bodyCount);
        const ContentDecoder::Result r = decoder->Feed(
            body, bodyCount, [this](const char* data, std::size_t count) { return DeliverBody(data, count, true); });
        if (!Current(guard, gen)) return;
        if (r == ContentDecoder::Result::Bad || (ended && r != ContentDecoder::Result::End)) {
            Finish(DoneCode::ServerClosed, false, "Compressed body malformed.", StatusKind::TransactionEnd);
            return;
        }
    } else if (!DeliverBody(body, bodyCount, true)) {
        return;
    }
    if (!ended) return;
    c.Remaining = 0;
    // Exactly the announced end arrived: nothing of another answer is mixed in.
    keepAfter = (lengthKnown || chunks) && !Restarting && !overrun && ServerKeepsOpen();
    if (overrun) {
        Report("Bytes beyond the announced length were dropped.", StatusKind::Connection);
        if (!Current(guard, gen)) return;
    }
    Finish(DoneCode::Complete, true, "Read Transaction complete.", StatusKind::TransactionEnd);
}

void DownloadConnection::Impl::OnClosed() {
    if (reused && c.Busy && !HeaderDone && headerBytes == 0 && c.Header.empty()) {
        ConnectAgain();
        return;
    }
    auto guard = alive;
    std::uint64_t gen = generation;
    timer.Stop();
    if (c.Remaining < 1) c.Complete = true;
    CloseSockets();
    if (!c.Busy) return;
    c.Busy = false;
    if (!c.Complete) {
        Report("Connection Reset by Peer. Status: " + StatusText(c.StatusCode) + ".", StatusKind::TransactionEnd);
        if (!Same(guard, gen) || c.Busy) return;
    }
    if ((!HeaderDone || c.ContentLength >= 1) && !c.Complete && c.Received > 0 && c.StatusCode >= 200 &&
        c.StatusCode <= 255 && c.AllowResume) {
        if (Start(true)) return;
        if (!Same(guard, gen + 1)) return;
        gen = generation;
    }
    if (c.Complete) {
        Report("Close Transaction complete.", StatusKind::TransactionEnd);
        if (!Same(guard, gen) || c.Busy) return;
    }
    if (c.OnDone) c.OnDone(c, DoneCode::ServerClosed);
}

void DownloadConnection::Impl::OnTimer() {
    auto guard = alive;
    std::uint64_t gen = generation;
    timer.Stop();
    if (State == Stage::Refused) {
        State = Stage::Idle;
        Finish(DoneCode::Failed, false, "Connection to host " + c.Host + " failed.", StatusKind::Connection);
        return;
    }
    CancelLookups();
    if (!c.Busy) return;
    if (c.Delay >= 1) {
        c.Delay = 0;
        if (!Start(false) && Same(guard, gen + 1)) DoneWithoutReport(DoneCode::Failed);
        return;
    }
    if (State == Stage::Idle) {
        if (c.Remaining < 1) c.Complete = true;
        CloseSockets();
        c.Busy = false;
        Report(c.Complete ? "Read Transaction complete." : "Connection Timed out.", StatusKind::TransactionEnd);
        if (!Same(guard, gen) || c.Busy) return;
        if (c.ContentLength >= 1 && !c.Complete && c.Received >= 1 && c.StatusCode >= 200 && c.StatusCode <= 255 &&
            c.AllowResume) {
            if (Start(true)) return;
            if (!Same(guard, gen + 1)) return;
        }
        if (c.OnDone) c.OnDone(c, DoneCode::TimedOut);
        return;
    }
    State = Stage::Idle;
    Finish(DoneCode::TimedOut, false, "Connection Timed out.", StatusKind::TransactionEnd);
}

// ---------------------------------------------------------------------------------------

void DownloadConnection::Abort() {
    Impl& d = *impl_;
    d.CancelLookups();
    if (!Busy) return;
    ++d.generation;  // events of the aborted transaction still queued are dropped
    d.timer.Stop();
    if (Remaining < 1) Complete = true;
    d.State = Impl::Stage::Idle;
    d.Finish(DoneCode::Aborted, Complete, Complete ? "Read Transaction complete." : "Aborted.",
             StatusKind::TransactionEnd);
}

std::string DownloadConnection::StatusText(int code) {
    const char* phrase = "Unknown";
    switch (code) {
    case 200: phrase = "OK"; break;
    case 206: phrase = "Partial Content"; break;
    case 301:
    case 302: phrase = "Object Moved"; break;
    case 304: phrase = "Not Modified"; break;
    case 400: phrase = "Bad Request"; break;
    case 401: phrase = "Unauthorized"; break;
    case 403: phrase = "Forbidden"; break;
    case 404: phrase = "Not Found"; break;
    case 407: phrase = "Proxy Authentication Required"; break;
    default:
        if (code >= 500 && code <= 599) phrase = "Server/Gateway error";
    }
    return std::to_string(code) + " " + phrase;
}

std::string DownloadConnection::Base64(const std::string& text) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((text.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(text[i]) << 16) | (static_cast<unsigned char>(text[i + 1]) << 8) |
                     static_cast<unsigned char>(text[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    std::size_t left = text.size() - i;
    if (left == 1) {
        unsigned v = static_cast<unsigned char>(text[i]) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (left == 2) {
        unsigned v = (static_cast<unsigned char>(text[i]) << 16) | (static_cast<unsigned char>(text[i + 1]) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string DownloadConnection::ContentTypeOf(const std::string& fileName) {
    std::size_t sep = fileName.find_last_of("\\/:");
    std::size_t dot = fileName.rfind('.');
    std::string ext;
    if (dot != std::string::npos && (sep == std::string::npos || dot > sep)) ext = Lower(fileName.substr(dot));
    std::string result;
    if (ext.find("htm") != std::string::npos) result = "text/html";
    if (ext.find("stm") != std::string::npos) result = "text/html";
    if (ext == ".jpg" || ext == ".jpeg") result = "image/jpeg";
    if (ext == ".gif") result = "image/gif";
    if (ext == ".asp" || ext == ".idc") result = "text/html";
    if (ext == ".class") result = "";
    if (ext == ".js") result = "application/x-javascript";
    // Browsers apply a style sheet and draw an SVG picture only when they are named as such.
    if (ext == ".css") result = "text/css";
    if (ext == ".svg") result = "image/svg+xml";
    return result;
}

}  // namespace qm::net
