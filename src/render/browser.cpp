// Starting the headless browser with the switches that keep it quiet and local.
#include "render/browser.h"

#include <stdlib.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/private_folder.h"

namespace qm::render {

bool Browser::Start(const BrowserSettings& settings, std::string& error) {
    Close();
    const std::string program = platform::FindOnPath(kBrowserProgram);
    if (program.empty()) {
        error = std::string(kBrowserProgram) + " was not found on PATH";
        return false;
    }
    std::string base = platform::PrivateFolder();
    if (base.empty()) base = std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/browser-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = "no profile folder could be made for " + program;
        return false;
    }
    profile_ = pattern;
    std::vector<std::string> args = {
        "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--user-data-dir=" + profile_,
        "--remote-debugging-pipe",
        // Nothing but the pages asked for: no updates, no reports, no sign-in.
        "--disable-background-networking", "--disable-component-update", "--disable-sync", "--metrics-recording-only",
        "--no-default-browser-check", "--disable-default-apps", "--disable-extensions", "--disable-breakpad",
        "--disable-domain-reliability", "--no-pings", "--disable-client-side-phishing-detection",
        "--disable-features=Translate,OptimizationHints,MediaRouter", "--mute-audio", "--hide-scrollbars"};
    if (!settings.proxyServer.empty()) {
        args.push_back("--proxy-server=" + settings.proxyServer);
        // The proxy is asked for this machine's own servers too, as the program's own
        // connections ask it.
        args.push_back("--proxy-bypass-list=<-loopback>");
    }
    args.push_back("about:blank");
    if (!process_.Start(program, args, profile_ + "/browser.log", error)) {
        Close();
        return false;
    }
    client_ = std::make_unique<DevToolsClient>(process_.CommandFd(), process_.AnswerFd());
    std::lock_guard<std::mutex> lock(readyMutex_);
    ready_ = 0;
    return true;
}

bool Browser::WaitUntilReady(std::string& error) {
    std::lock_guard<std::mutex> lock(readyMutex_);
    if (ready_ == 0) {
        const CommandAnswer version = client_ ? client_->Call("Browser.getVersion", {}, {}, 30000) : CommandAnswer{};
        ready_ = version.ok ? 1 : -1;
        if (!version.ok) readyError_ = std::string(kBrowserProgram) + " does not answer (" + version.error + ")";
    }
    error = readyError_;
    return ready_ == 1;
}

void Browser::Close() {
    if (client_) client_->Shutdown();
    process_.Stop();
    client_.reset();
    if (!profile_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(profile_, ec);
        profile_.clear();
    }
}

}  // namespace qm::render
