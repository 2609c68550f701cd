#pragma once
// Connections left open after a whole answer, waiting for the next request to the same
// server. Any client of the program may take one: the next address on that server goes out
// without a new connect (and, for https, without a new handshake). Main thread only.
#include <cstddef>
#include <memory>
#include <string>

#include "net/connection_codes.h"

namespace qm::net {

class TlsChannel;

namespace kept {

// The key of a connection: everything that decides where its bytes go and how.
std::string KeyFor(UrlScheme scheme, const std::string& host, int port, ProxyKind proxy, const std::string& proxyHost,
                   int proxyPort, bool acceptUntrusted);

// Keeps fd (and its TLS session) under key. The oldest kept connection is closed when more
// than kMaxKept are kept.
void Keep(const std::string& key, int fd, std::unique_ptr<TlsChannel> tls);

// Takes a kept connection for key that the server has not closed meanwhile; false when there
// is none. A connection that was idle too long, that the server closed, or on which anything
// arrived unasked is closed and skipped.
bool Take(const std::string& key, int& fd, std::unique_ptr<TlsChannel>& tls);

// Closes every kept connection (the downloads ended, or the program stops).
void CloseAll();

std::size_t Count();

inline constexpr std::size_t kMaxKept = 64;
// Servers close idle connections after some seconds (nginx after 75); one idle longer than
// this is not tried.
inline constexpr int kMaxIdleSeconds = 30;

}  // namespace kept
}  // namespace qm::net
