#include "net/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "platform/event_loop.h"

namespace qm::net {

namespace {

struct CachedLookup {
    std::string Name;
    std::uint32_t Address = kNoAddress;
    std::vector<in6_addr> Addresses6;
    double Stamp = 0;
};

struct LookupRequest {
    const void* Window = nullptr;  // the requester
    LookupReply Reply;
    std::string Name;
    HostLookup* Handle = nullptr;  // the lookup this requester holds, if it started one
    bool Cancelled = false;
};

// Both lists belong to the main thread.
std::list<CachedLookup>& Cache() {
    static std::list<CachedLookup> cache;
    return cache;
}
std::list<std::shared_ptr<LookupRequest>>& Pending() {
    static std::list<std::shared_ptr<LookupRequest>> pending;
    return pending;
}
// Answers posted but not yet delivered, so that a cancel can still stop them.
std::list<std::shared_ptr<LookupRequest>>& Posted() {
    static std::list<std::shared_ptr<LookupRequest>> posted;
    return posted;
}

std::atomic<ResolverFn> g_resolver{nullptr};
std::atomic<Resolver6Fn> g_resolver6{nullptr};
// Resolver answers beyond this many IPv6 addresses are not tried.
constexpr std::size_t kMaxAddresses6 = 8;
std::atomic<int> g_running{0};
double g_clockOffset = 0;

double Now() {
    using namespace std::chrono;
    double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
    return seconds / 86400.0 + 25569.0 + g_clockOffset;
}

bool ParseDotted(const std::string& name, std::uint32_t& address) {
    in_addr a{};
    if (inet_pton(AF_INET, name.c_str(), &a) != 1) return false;
    address = a.s_addr;
    return true;
}

// A and AAAA answers in one query of the system's resolver.
std::uint32_t SystemResolve(const std::string& name, std::vector<in6_addr>& addresses6) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || !result) return kNoAddress;
    std::uint32_t address = kNoAddress;
    for (addrinfo* p = result; p; p = p->ai_next) {
        if (!p->ai_addr) continue;
        if (p->ai_family == AF_INET && address == kNoAddress)
            address = reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
        if (p->ai_family == AF_INET6 && addresses6.size() < kMaxAddresses6)
            addresses6.push_back(reinterpret_cast<sockaddr_in6*>(p->ai_addr)->sin6_addr);
    }
    freeaddrinfo(result);
    return address;
}

bool ParseIpv6(const std::string& name, in6_addr& address) {
    const std::string bare = BareHost(name);
    return bare.find(':') != std::string::npos && inet_pton(AF_INET6, bare.c_str(), &address) == 1;
}

const CachedLookup* FreshEntry(const std::string& name);

void Deliver(const std::shared_ptr<LookupRequest>& req, std::uint32_t address) {
    Posted().push_back(req);
    platform::Post([req, address] {
        auto& posted = Posted();
        for (auto it = posted.begin(); it != posted.end(); ++it) {
            if (*it == req) {
                posted.erase(it);
                break;
            }
        }
        if (req->Cancelled || !req->Reply) return;
        LookupReply reply = std::move(req->Reply);
        reply(address);
    });
}

// Runs on the main thread when a lookup thread has its answer.
void Complete(HostLookup* host) {
    if (host->Address != kNoAddress || !host->Addresses6.empty()) {
        auto& cache = Cache();
        cache.remove_if([&](const CachedLookup& r) { return r.Name == host->Name; });
        cache.push_back(CachedLookup{host->Name, host->Address, host->Addresses6, Now()});
    }
    auto& pending = Pending();
    for (auto it = pending.begin(); it != pending.end();) {
        if ((*it)->Name == host->Name) {
            (*it)->Handle = nullptr;
            if (!(*it)->Cancelled) Deliver(*it, host->Address);
            it = pending.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

void HostLookup::Execute() {
    ResolverFn resolver = g_resolver.load();
    if (!resolver) {
        Address = SystemResolve(Name, Addresses6);
        return;
    }
    Address = resolver(Name);
    if (Resolver6Fn resolver6 = g_resolver6.load()) Addresses6 = resolver6(Name);
}

namespace {

const CachedLookup* FreshEntry(const std::string& name) {
    auto& cache = Cache();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->Name != name) continue;
        if (std::fabs(Now() - it->Stamp) > 0.1) {
            cache.erase(it);
            return nullptr;
        }
        return &*it;
    }
    return nullptr;
}

}  // namespace

std::uint32_t CachedAddress(const std::string& name) {
    std::uint32_t address = kNoAddress;
    if (ParseDotted(name, address)) return address;
    const CachedLookup* entry = FreshEntry(name);
    return entry ? entry->Address : kNoAddress;
}

std::vector<in6_addr> CachedAddresses6(const std::string& name) {
    in6_addr literal{};
    if (ParseIpv6(name, literal)) return {literal};
    const CachedLookup* entry = FreshEntry(name);
    return entry ? entry->Addresses6 : std::vector<in6_addr>{};
}

bool HasCachedAddress(const std::string& name) {
    return CachedAddress(name) != kNoAddress || !CachedAddresses6(name).empty();
}

std::string BareHost(const std::string& name) {
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') return name.substr(1, name.size() - 2);
    return name;
}

HostLookup* LookupHost(const void* requester, LookupReply reply, const std::string& name) {
    auto req = std::make_shared<LookupRequest>();
    req->Window = requester;
    req->Reply = std::move(reply);
    req->Name = name;
    auto& pending = Pending();
    for (const auto& p : pending) {
        if (p->Name == name) {
            pending.push_back(req);
            return nullptr;
        }
    }
    if (HasCachedAddress(name)) {
        Deliver(req, CachedAddress(name));
        return nullptr;
    }
    auto* host = new HostLookup(name);
    req->Handle = host;
    pending.push_back(req);
    ++g_running;
    try {
        std::thread([host] {
            host->Execute();
            // When the loop has ended nobody waits for the answer any more.
            // The count drops on the main thread, so that its waiters see it at once.
            if (!platform::SendAndWait([host] {
                    Complete(host);
                    --g_running;
                }))
                --g_running;
            delete host;
        }).detach();
    } catch (...) {
        // No thread could be made: answer "not found" as a failed lookup would.
        --g_running;
        req->Handle = nullptr;
        pending.remove(req);
        Deliver(req, kNoAddress);
        delete host;
        return nullptr;
    }
    return host;
}

void CancelLookup(HostLookup* handle) {
    if (!handle) return;
    for (auto& p : Pending())
        if (p->Handle == handle) p->Cancelled = true;
}

void CancelLookupsOf(const void* requester) {
    for (auto& p : Pending())
        if (p->Window == requester) p->Cancelled = true;
    for (auto& p : Posted())
        if (p->Window == requester) p->Cancelled = true;
}

void SetResolverForTesting(ResolverFn resolver) { g_resolver = resolver; }
void SetResolver6ForTesting(Resolver6Fn resolver) { g_resolver6 = resolver; }
void SetClockOffsetForTesting(double days) { g_clockOffset = days; }
std::size_t CacheSize() { return Cache().size(); }
std::size_t PendingRequests() { return Pending().size(); }
int RunningLookups() { return g_running.load(); }
void ClearHostCache() { Cache().clear(); }

}  // namespace qm::net
