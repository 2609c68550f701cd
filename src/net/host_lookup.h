#pragma once
// The program-wide host-name lookup service: a cache of answers (kept 0.1 day), a list of
// pending requests and one HostLookup thread per name being looked up. Everything except the
// resolver call itself runs on the main thread; answers are always posted, never given
// during the call that asked.
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qm::net {

// No address: the name could not be resolved.
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

// The thread that resolves one name. It lives until its answer has been handed to the
// main thread; it touches only its own Name and Address.
class HostLookup {
public:
    explicit HostLookup(std::string name) : Name(std::move(name)) {}
    std::string Name;
    std::uint32_t Address = kNoAddress;  // network byte order
    std::vector<in6_addr> Addresses6;    // the name's IPv6 addresses (AAAA), in the resolver's order
    void Execute();                      // runs in the lookup thread
};

// The answer to a lookup: the address in network byte order, or kNoAddress.
using LookupReply = std::function<void(std::uint32_t address)>;

// A numeric address or a fresh cache entry for name, else kNoAddress; never waits.
std::uint32_t CachedAddress(const std::string& name);
// The IPv6 addresses of name: its own when it is an IPv6 literal (with or without brackets),
// else those of a fresh cache entry; empty when there are none. Never waits.
std::vector<in6_addr> CachedAddresses6(const std::string& name);
// Whether name is known to have an address of either family (a literal, or cached).
bool HasCachedAddress(const std::string& name);
// name without the brackets of an IPv6 literal ("[::1]" gives "::1").
std::string BareHost(const std::string& name);

// Asks for name on behalf of requester (any stable pointer naming the asker). The reply
// always comes later, posted to the main thread. Returns the lookup thread as handle when
// this call started one, else nullptr (a lookup for the name was already running, or the
// answer was cached).
HostLookup* LookupHost(const void* requester, LookupReply reply, const std::string& name);

// The holder of handle no longer receives its answer. The lookup still runs to its end and
// fills the cache; others waiting for the same name are still answered.
void CancelLookup(HostLookup* handle);
// Every request of requester (pending or already posted) is dropped; for an owner that
// ends or starts over.
void CancelLookupsOf(const void* requester);

// For tests: replaces the system resolver (the function runs in the lookup threads and
// returns the address in network byte order or kNoAddress). nullptr restores the system's.
using ResolverFn = std::uint32_t (*)(const std::string& name);
void SetResolverForTesting(ResolverFn resolver);
// For tests: the IPv6 answers for a name, beside the resolver above (nullptr: none).
using Resolver6Fn = std::vector<in6_addr> (*)(const std::string& name);
void SetResolver6ForTesting(Resolver6Fn resolver);
// For tests: shifts the clock used for cache ages by days.
void SetClockOffsetForTesting(double days);
// Entries in the cache and pending requests, and lookup threads still running.
std::size_t CacheSize();
std::size_t PendingRequests();
int RunningLookups();
// Empties the cache (at program end or in tests).
void ClearHostCache();

}  // namespace qm::net
