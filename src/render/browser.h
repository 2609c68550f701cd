#pragma once
// Browser: the one headless Chromium of a run, started from PATH with a profile folder of its
// own (removed again when it ends) and driven through its DevTools pipes.
#include <memory>
#include <mutex>
#include <string>

#include "platform/browser_process.h"
#include "render/devtools_client.h"

namespace qm::render {

// The browser program looked for on PATH.
constexpr const char* kBrowserProgram = "chromium";

// How the browser reaches the web.
struct BrowserSettings {
    // The proxy every request goes through, loopback addresses too ("http://host:port",
    // "socks4://host:port"); empty: none.
    std::string proxyServer;
};

class Browser {
public:
    Browser() = default;
    ~Browser() { Close(); }
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // Starts the browser without waiting for it (the thread that calls it must live as
    // long as the browser: the browser ends with it); false with error when it is missing.
    bool Start(std::string& error) { return Start(BrowserSettings{}, error); }
    bool Start(const BrowserSettings& settings, std::string& error);
    // Waits until the browser answers (any thread, once per start); false with error when it
    // does not.
    bool WaitUntilReady(std::string& error);
    bool Running() const { return client_ && client_->Alive(); }
    DevToolsClient& Client() { return *client_; }
    // Ends the browser and everything it started; waiting commands fail.
    void Close();

private:
    platform::BrowserProcess process_;
    std::unique_ptr<DevToolsClient> client_;
    std::string profile_;
    std::mutex readyMutex_;
    int ready_ = 0;  // 0 not asked yet, 1 answering, -1 not answering
    std::string readyError_;
};

}  // namespace qm::render
