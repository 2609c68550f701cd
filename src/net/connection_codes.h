#pragma once
// The codes a DownloadConnection is set up with and reports with.

namespace qm::net {

// The kinds of address a connection fetches.
enum class UrlScheme { Http = 0, Ftp = 1, File = 2, Https = 3 };

// How a connection reaches its server; the values are those of the option "ProxyType".
enum class ProxyKind { None = 0, Http = 1, Socks4 = 2 };
// The option "ProxyType" as a proxy kind (an unknown value means no proxy).
ProxyKind ProxyKindOf(int option);

// What a status line of a connection tells.
enum class StatusKind {
    Connection = 0,      // looking up, connecting, connected
    Progress = 1,        // bytes received so far
    TransactionEnd = 2,  // how the transaction ended
    ProtocolText = 3,    // a line sent or received (request, header, FTP command or reply)
};

// How a transaction ended.
enum class DoneCode {
    Complete = 0,      // all data, a status above 299 whose body was not read, or a local file
    ServerClosed = 1,  // the server closed the connection, or refused an automatic resume
    TimedOut = 2,
    Aborted = 3,    // by the owner
    Failed = 4,     // before or without data: no address, socket error, refused, FTP failure
    SizeLimit = 5,  // the size limit was exceeded
};

}  // namespace qm::net
