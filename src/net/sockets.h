#pragma once
// Socket plumbing shared by the connections and the local web server: start and end of the
// network layer, the listening-socket routine with its fallback ports, and small text
// helpers used across the program.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::net {

constexpr int kNoSocket = -1;

// Program start: the shared user agent becomes "Velloran/4.0". Program end: the shared
// settings of the connections (user agent, proxy user and password) are cleared.
void NetStartup();
void NetShutdown();

// The port most recently bound by CreateListener (0 when the system chose it).
extern int LastListenPort;

// A listening TCP socket at port (0: the system chooses), on every local address or, with
// loopbackOnly, on 127.0.0.1 alone. When that bind fails and firstAlternative is 1 or more,
// firstAlternative .. firstAlternative + 2000 are tried in order. Returns the descriptor
// (blocking, close-on-exec) or kNoSocket.
int CreateListener(int port, int firstAlternative, bool loopbackOnly = false, int backlog = 5);
// A listening TCP socket on [::1] (IPv6 only) at port; kNoSocket when this machine has no
// IPv6 loopback or the port is taken there.
int CreateLoopback6Listener(int port, int backlog = 5);
// The port a bound socket has, or 0.
int BoundPort(int fd);

// Descriptor helpers.
bool SetNonBlocking(int fd);
void CloseSocket(int& fd);  // closes when open, then sets kNoSocket

// True when text begins with all of prefix (case-sensitive); an empty prefix always matches.
bool HasPrefix(std::string_view text, std::string_view prefix);
// The first count bytes as a string, ending early at a zero byte.
std::string CountedToString(const char* buffer, std::size_t count);
// Two hex digits (either case) as a byte value; 0 when either is not a hex digit or fewer
// than two characters are given.
int HexByte(std::string_view twoChars);

// Dotted form of an IPv4 address in network byte order.
std::string DottedAddress(std::uint32_t address);

}  // namespace qm::net
