#pragma once
// Records what a connection reports, for the connection tests.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "net/http_client.h"
#include "net/kept_connections.h"
#include "net/sockets.h"
#include "platform/event_loop.h"

namespace qm::test {

struct Events {
    std::vector<std::pair<std::string, int>> status;
    std::string body;
    int headers = 0;
    int dones = 0;
    int code = -1;
    bool dataBeforeHeader = false;

    bool Has(const std::string& text, int kind) const {
        for (const auto& s : status)
            if (s.first == text && s.second == kind) return true;
        return false;
    }
    std::string Dump() const {
        std::string out;
        for (const auto& s : status) out += std::to_string(s.second) + " " + s.first + "\n";
        return out;
    }
};

inline void Attach(net::DownloadConnection& c, Events& e) {
    c.OnStatus = [&e](net::DownloadConnection&, const std::string& text, net::StatusKind kind) {
        e.status.emplace_back(text, static_cast<int>(kind));
    };
    c.OnHeader = [&e](net::DownloadConnection&) { ++e.headers; };
    c.OnData = [&e](net::DownloadConnection&, const char* data, std::size_t n) {
        if (e.headers == 0) e.dataBeforeHeader = true;
        e.body.append(data, n);
    };
    c.OnDone = [&e](net::DownloadConnection&, net::DoneCode code) {
        ++e.dones;
        e.code = static_cast<int>(code);
    };
}

inline bool RunToDone(const Events& e, int timeoutMs = 10000) {
    return platform::RunUntil([&] { return e.dones > 0; }, timeoutMs);
}

// Lets queued events run for a while (to see that nothing more arrives).
inline void Settle(int ms) {
    platform::RunUntil([] { return false; }, ms);
}

class NetTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitEventLoop();
        net::NetStartup();
    }
};

// One connection at a time against scripted peers: no kept connection is taken over from
// another test or handed on to the next; Prepare points a connection at url with a 5 s
// time-out, its reports going to e.
class ScriptedConnectionTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        net::kept::CloseAll();
    }
    void TearDown() override { net::kept::CloseAll(); }
    void Prepare(net::DownloadConnection& c, const std::string& url) {
        Attach(c, e);
        c.SetURL(url);
        c.TimeOut = 5000;
    }
    Events e;
};

}  // namespace qm::test
