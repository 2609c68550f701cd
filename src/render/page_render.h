#pragma once
// Rendering one page in the browser: a new tab with the given user agent and cookies opens
// the page's address, waits until the network is quiet, scrolls to the end in steps so that
// lazily loaded parts load, waits again, and reports every GET request the page made and
// every link of the rendered document. The tab is closed whatever happens.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/cookie_jar.h"

namespace qm::render {

class DevToolsClient;

// A user name and password for the servers that ask for one.
struct LogIn {
    std::string user, password;
    // Whether they may go to the server of an address that asks; unset: nowhere.
    std::function<bool(const std::string& url)> goesTo;
    bool Given() const { return !user.empty() && goesTo; }
};

struct RenderRequest {
    std::string url;
    std::string userAgent;  // empty: the browser's own
    std::vector<net::Cookie> cookies;
    // Answers to HTTP log-in challenges: of the page's own servers, and of the proxy. Any
    // other challenge is turned down.
    LogIn site, proxy;
    int timeoutMs = 60000;  // the longest wait for the network to become quiet
    int quietMs = 500;      // no request in flight this long: quiet
    int maxScrollSteps = 60;
    // A script run in the rendered page before it is closed; its value, as JSON, is the
    // result's probe (for checks of what a page shows).
    std::string probe;
    // The browser context the tab opens in (cookies and cache shared with its other tabs);
    // empty: a context of its own, made and removed with the tab.
    std::string browserContext;
};

struct RenderResult {
    bool ok = false;
    bool timedOut = false;  // the network never became quiet in time (what was seen is kept)
    std::string error;
    std::vector<std::string> requests;  // http and https GET addresses, in the order made
    std::vector<std::string> anchors;   // a[href] and area[href] of the rendered document
    std::string probe;
};

// The most addresses kept of one page, and the longest address kept.
constexpr std::size_t kMaxAddresses = 20000;
constexpr std::size_t kMaxAddressLength = 8192;

// Renders request.url in a new tab of client's browser; cancel ends the rendering early.
RenderResult RenderPage(DevToolsClient& client, const RenderRequest& request, const std::atomic<bool>& cancel);

}  // namespace qm::render
