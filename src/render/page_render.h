#pragma once
// Rendering one page in the browser: a new tab with the given user agent and cookies opens
// the page's address, waits until the network is quiet, scrolls to the end in steps so that
// lazily loaded parts load, waits again, and reports every GET request the page made and
// every link of the rendered document. The tab is closed whatever happens.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace qm::render {

class DevToolsClient;

struct BrowserCookie {
    std::string name, value, domain, path = "/";
    std::int64_t expires = 0;  // seconds since 1970; 0: a session cookie
    bool hostOnly = false, secure = false, httpOnly = false;
};

struct RenderRequest {
    std::string url;
    std::string userAgent;  // empty: the browser's own
    std::vector<BrowserCookie> cookies;
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
