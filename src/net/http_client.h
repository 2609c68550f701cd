#pragma once
// DownloadConnection: one retrieval connection. It fetches one address at a time over HTTP/1.1
// (directly, through an HTTP proxy or through SOCKS4), reads file:// addresses from disk,
// and holds the FTP conversation for ftp:// addresses. It works only from main-thread events (socket
// readiness, lookup answers, its timer) and reports to its owner through four events.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/connection_codes.h"

namespace qm::net {

class DownloadConnection {
public:
    DownloadConnection();
    ~DownloadConnection();
    DownloadConnection(const DownloadConnection&) = delete;
    DownloadConnection& operator=(const DownloadConnection&) = delete;

    // Address, set by SetURL.
    UrlScheme Scheme = UrlScheme::Http;
    std::string Host;
    int Port = 80;
    std::string Path = "/";
    bool PathIsDirectory = true;

    // Settings, set by the owner before Start.
    ProxyKind ProxyType = ProxyKind::None;
    std::string ProxyHost;
    int ProxyPort = 0;
    int TimeOut = 0;                 // milliseconds of inactivity; 0 or less: none
    std::string UserName, Password;  // FTP log-on; http and https: the answer to Challenge
    // http and https: the header of the 401 answer whose "WWW-Authenticate" challenge this
    // request answers with UserName and Password; empty: no Authorization line.
    std::string Challenge;
    int SizeLimit = 0;  // kilobytes; 0 or less: none
    int Delay = 0;      // seconds before the transaction begins
    std::string Referer;
    std::string IfModifiedSince;
    bool AllowResume = true;
    std::int64_t ResumeFrom = 0;
    std::int64_t RangeEnd = 0;
    // FTP data connections: passive (we connect to the server) instead of active (the
    // server connects to us). Active mode falls back to passive by itself when refused.
    bool FtpPassive = false;
    // http and https: an answer whose end the client could see (a length, the last chunk, or
    // no body) leaves the connection open, unless the server said it closes; the next request to the same
    // server, from any client, goes out on it. A kept connection that fails before any byte
    // of the answer arrived is replaced once by a new one, silently.
    bool KeepAlive = false;
    // http and https: more header lines for the request, each ending with CR LF (Cookie).
    std::string ExtraHeaders;
    // http and https: a form body (application/x-www-form-urlencoded) sent with POST instead
    // of a GET request; empty: GET.
    std::string PostBody;

    // Shared by all clients, from the program options.
    static std::string UserAgent;
    static std::string ProxyUser, ProxyPassword;
    // https: accept certificates that the system does not trust (or that name another host).
    static bool AcceptUntrusted;
    // An answer that does not announce its length (none given, or chunked) is stopped beyond
    // this many bytes when no file-size limit is set: a server that never ends one would
    // otherwise fill the disk.
    static std::int64_t UnannouncedLimit;

    // Results.
    int StatusCode = 0;
    std::string Header;
    std::string RegetHeader;
    bool Complete = false;
    std::int64_t ContentLength = 0;
    std::int64_t Remaining = 0x0FFFFFFF;
    std::int64_t Received = 0;
    bool Busy = false;
    bool Reused = false;  // the request went out on a kept connection
    int Index = 0;        // position in the owner's pool

    // Events; an unassigned one is skipped. Handlers may call Abort or Start on this client;
    // a handler may also destroy the client, as its last act (its own captures go with it).
    std::function<void(DownloadConnection& sender)> OnHeader;
    std::function<void(DownloadConnection& sender, const char* buffer, std::size_t count)> OnData;
    std::function<void(DownloadConnection& sender, DoneCode code)> OnDone;
    std::function<void(DownloadConnection& sender, const std::string& text, StatusKind kind)> OnStatus;
    // http and https, for a web archive: every block of the answer as it came from the
    // server (after TLS, before anything is taken out of it), and the request as it was sent.
    std::function<void(DownloadConnection& sender, const char* buffer, std::size_t count)> OnRawResponse;
    const std::string& RequestText() const;
    // The numeric address of the server this connection talks to; empty through a proxy.
    std::string ServerAddress() const;

    void SetURL(const std::string& address);
    std::string GetURL() const;
    bool Start(bool restart = false);
    void Abort();

    // Whether the transaction that ended with done code `code` delivered its answer whole:
    // the connection saw the announced end, or an answer without a length ended with the
    // server closing (its normal end), or the status carries no body to lose. Never after
    // the size limit.
    bool EndedWhole(DoneCode code) const;

    static std::string StatusText(int code);
    static std::string Base64(const std::string& text);
    static std::string ContentTypeOf(const std::string& fileName);

private:
    struct Impl;  // sockets, buffer, timer, lookups, state machine
    std::unique_ptr<Impl> impl_;
};

}  // namespace qm::net
