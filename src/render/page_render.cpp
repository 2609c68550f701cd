// One page in a tab of its own: open, wait for quiet, scroll, wait again, collect, close.
#include "render/page_render.h"

#include <QJsonArray>

#include <algorithm>
#include <cctype>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>

#include "render/devtools_client.h"

namespace qm::render {

namespace {

using Clock = std::chrono::steady_clock;

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool IsWebAddress(const std::string& url) {
    auto startsWith = [&](const char* p) {
        const std::size_t n = std::char_traits<char>::length(p);
        if (url.size() < n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(url[i])) != p[i]) return false;
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

// What the tab's events tell, shared between the reader thread and the rendering thread.
class PageState {
public:
    explicit PageState(std::string mainFrame) : mainFrame_(std::move(mainFrame)) {}

    void OnEvent(const std::string& method, const QJsonObject& params) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (method == "Network.requestWillBeSent") {
            const std::string id = params.value("requestId").toString().toStdString();
            if (inFlight_.size() < kMaxAddresses) inFlight_.insert(id);
            ++started_;
            const QJsonObject request = params.value("request").toObject();
            const std::string url = request.value("url").toString().toStdString();
            const bool mainDocument = params.value("type").toString() == "Document" &&
                                      params.value("frameId").toString().toStdString() == mainFrame_;
            if (request.value("method").toString() == "GET" && !mainDocument && IsWebAddress(url) &&
                url.size() <= kMaxAddressLength && requests_.size() < kMaxAddresses && seen_.insert(url).second)
                requests_.push_back(url);
        } else if (method == "Network.loadingFinished" || method == "Network.loadingFailed") {
            inFlight_.erase(params.value("requestId").toString().toStdString());
        } else if (method == "Page.loadEventFired") {
            loaded_ = true;
        } else if (method == "Inspector.detached" || method == "Inspector.targetCrashed") {
            gone_ = true;
        } else {
            return;
        }
        lastChange_ = Clock::now();
        changed_.notify_all();
    }

    // Waits until no request has been in flight for quietMs (and, with needLoad, the page's
    // load event came); false when deadline came first, the tab went or cancel was set.
    bool WaitForQuiet(int quietMs, bool needLoad, Clock::time_point deadline, const std::atomic<bool>& cancel) {
        const auto quiet = std::chrono::milliseconds(quietMs);
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (gone_ || cancel) return false;
            const auto now = Clock::now();
            if (inFlight_.empty() && (loaded_ || !needLoad) && now - lastChange_ >= quiet) return true;
            if (now >= deadline) return false;
            changed_.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

    // Requests started so far.
    std::uint64_t Started() {
        std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }
    bool Gone() {
        std::lock_guard<std::mutex> lock(mutex_);
        return gone_;
    }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string mainFrame_;
    std::set<std::string> inFlight_;
    std::unordered_set<std::string> seen_;
    std::vector<std::string> requests_;
    bool loaded_ = false, gone_ = false;
    std::uint64_t started_ = 0;
    Clock::time_point lastChange_ = Clock::now();
};

// Answers the tab's paused requests and log-in challenges (on the reader thread, so it never
// waits for an answer). A server's challenge gets the site's user name and password where
// they may go, the proxy's the proxy's; each request is answered once, so wrong ones fail
// instead of being sent again and again; every other challenge is turned down.
class LogInAnswers {
public:
    LogInAnswers(DevToolsClient& client, std::string session, LogIn site, LogIn proxy)
        : client_(client), session_(std::move(session)), site_(std::move(site)), proxy_(std::move(proxy)) {}

    void OnEvent(const std::string& method, const QJsonObject& params) {
        const QJsonValue id = params.value("requestId");
        if (method == "Fetch.requestPaused") {
            client_.Send("Fetch.continueRequest", {{"requestId", id}}, session_);
        } else if (method == "Fetch.authRequired") {
            const std::string url = params.value("request").toObject().value("url").toString().toStdString();
            const bool fromProxy = params.value("authChallenge").toObject().value("source").toString() == "Proxy";
            const LogIn& login = fromProxy ? proxy_ : site_;
            QJsonObject answer{{"response", "CancelAuth"}};
            if (login.Given() && FirstChallenge(id.toString().toStdString()) && login.goesTo(url))
                answer = QJsonObject{
                    {"response", "ProvideCredentials"}, {"username", Q(login.user)}, {"password", Q(login.password)}};
            client_.Send("Fetch.continueWithAuth", {{"requestId", id}, {"authChallengeResponse", answer}}, session_);
        }
    }

private:
    bool FirstChallenge(const std::string& requestId) {
        std::lock_guard<std::mutex> lock(mutex_);
        return answered_.size() < kMaxAddresses && answered_.insert(requestId).second;
    }

    DevToolsClient& client_;
    std::string session_;
    LogIn site_, proxy_;
    std::mutex mutex_;
    std::unordered_set<std::string> answered_;
};

QJsonArray CookieParams(const std::vector<net::Cookie>& cookies) {
    QJsonArray list;
    for (const net::Cookie& c : cookies) {
        QJsonObject p{{"name", Q(c.name)},
                      {"value", Q(c.value)},
                      {"path", Q(c.path)},
                      {"secure", c.secure},
                      {"httpOnly", c.httpOnly}};
        if (c.hostOnly)
            p.insert("url", Q(std::string(c.secure ? "https://" : "http://") + c.domain + c.path));
        else
            p.insert("domain", Q("." + c.domain));
        if (c.expires > 0) p.insert("expires", double(c.expires));
        list.append(p);
    }
    return list;
}

// Scrolls one screen further; true when the end of the document is in view.
constexpr const char* kScrollStep =
    "(() => { window.scrollBy(0, Math.max(100, window.innerHeight));"
    " const e = document.scrollingElement || document.documentElement;"
    " return !e || window.scrollY + window.innerHeight >= e.scrollHeight - 2; })()";
constexpr const char* kAnchors =
    "Array.from(document.querySelectorAll('a[href],area[href]'), a => a.href)"
    ".filter(h => /^https?:/i.test(h)).slice(0, 20000)";

QJsonObject Evaluate(const char* script) {
    return QJsonObject{{"expression", script}, {"returnByValue", true}, {"awaitPromise", false}};
}

}  // namespace

RenderResult RenderPage(DevToolsClient& client, const RenderRequest& request, const std::atomic<bool>& cancel) {
    RenderResult result;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(1000, request.timeoutMs));
    const int callMs = std::max(1000, std::min(request.timeoutMs, 30000));
    auto fail = [&](const std::string& why) {
        result.ok = false;
        result.error = why;
        return result;
    };
    // Without a context given, one of its own: the page's cookies and cache are no other's.
    const bool ownContext = request.browserContext.empty();
    CommandAnswer a;
    std::string context = request.browserContext;
    if (ownContext) {
        a = client.Call("Target.createBrowserContext", {{"disposeOnDetach", true}}, {}, callMs);
        if (!a.ok) return fail(a.error);
        context = a.result.value("browserContextId").toString().toStdString();
    }
    auto disposeContext = [&] {
        if (ownContext) client.Call("Target.disposeBrowserContext", {{"browserContextId", Q(context)}}, {}, callMs);
    };
    a = client.Call("Target.createTarget", {{"url", "about:blank"}, {"browserContextId", Q(context)}}, {}, callMs);
    if (!a.ok) {
        disposeContext();
        return fail(a.error);
    }
    const std::string target = a.result.value("targetId").toString().toStdString();
    auto state = std::make_shared<PageState>(target);
    std::string session;
    auto finish = [&] {
        if (!session.empty()) client.RemoveEventHandler(session);
        client.Call("Target.closeTarget", {{"targetId", Q(target)}}, {}, callMs);
        disposeContext();
        result.requests = state->Requests();
    };

    a = client.Call("Target.attachToTarget", {{"targetId", Q(target)}, {"flatten", true}}, {}, callMs);
    if (!a.ok) {
        finish();
        return fail(a.error);
    }
    session = a.result.value("sessionId").toString().toStdString();
    // Log-ins are answered only when there is one to give: otherwise no request waits for us.
    std::shared_ptr<LogInAnswers> logins;
    if (request.site.Given() || request.proxy.Given())
        logins = std::make_shared<LogInAnswers>(client, session, request.site, request.proxy);
    client.SetEventHandler(session, [state, logins](const std::string& m, const QJsonObject& p) {
        state->OnEvent(m, p);
        if (logins) logins->OnEvent(m, p);
    });
    std::string error;
    for (const char* method : {"Network.enable", "Page.enable", "Inspector.enable"}) {
        a = client.Call(method, {}, session, callMs);
        if (!a.ok) error = a.error;
    }
    if (error.empty() && logins) {
        const QJsonObject params{{"handleAuthRequests", true},
                                 {"patterns", QJsonArray{QJsonObject{{"urlPattern", "*"}}}}};
        a = client.Call("Fetch.enable", params, session, callMs);
        if (!a.ok) error = a.error;
    }
    if (error.empty() && !request.userAgent.empty()) {
        a = client.Call("Network.setUserAgentOverride", {{"userAgent", Q(request.userAgent)}}, session, callMs);
        if (!a.ok) error = a.error;
    }
    if (error.empty() && !request.cookies.empty()) {
        a = client.Call("Network.setCookies", {{"cookies", CookieParams(request.cookies)}}, session, callMs);
        if (!a.ok) error = a.error;
    }
    if (error.empty()) {
        a = client.Call("Page.navigate", {{"url", Q(request.url)}}, session, callMs);
        if (!a.ok)
            error = a.error;
        else if (const QString text = a.result.value("errorText").toString(); !text.isEmpty())
            error = text.toStdString();
    }
    if (!error.empty()) {
        finish();
        return fail(error);
    }

    bool quiet = state->WaitForQuiet(request.quietMs, true, deadline, cancel);
    // Lazily loaded parts come into view one screen at a time.
    for (int step = 0; step < request.maxScrollSteps && !cancel && !state->Gone(); ++step) {
        const std::uint64_t before = state->Started();
        a = client.Call("Runtime.evaluate", Evaluate(kScrollStep), session, callMs);
        if (!a.ok) break;
        // Time for observers and scroll handlers to react; what they ask for is waited for.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (state->Started() != before)
            state->WaitForQuiet(std::max(100, request.quietMs / 2), false, deadline, cancel);
        if (a.result.value("result").toObject().value("value").toBool()) break;
        if (Clock::now() >= deadline) break;
    }
    quiet = state->WaitForQuiet(request.quietMs, false, deadline, cancel) && quiet;

    if (!cancel && !state->Gone()) {
        a = client.Call("Runtime.evaluate", Evaluate(kAnchors), session, callMs);
        if (a.ok) {
            const QJsonArray hrefs = a.result.value("result").toObject().value("value").toArray();
            std::unordered_set<std::string> seen;
            for (const QJsonValue& v : hrefs) {
                std::string href = v.toString().toStdString();
                if (IsWebAddress(href) && href.size() <= kMaxAddressLength && result.anchors.size() < kMaxAddresses &&
                    seen.insert(href).second)
                    result.anchors.push_back(std::move(href));
            }
        }
        if (!request.probe.empty()) {
            const std::string script = "JSON.stringify(" + request.probe + ")";
            a = client.Call("Runtime.evaluate", Evaluate(script.c_str()), session, callMs);
            if (a.ok) result.probe = a.result.value("result").toObject().value("value").toString().toStdString();
        }
    }
    const bool gone = state->Gone();
    finish();
    if (cancel) return fail("stopped");
    if (gone) return fail("the page's tab crashed or was closed");
    result.ok = true;
    result.timedOut = !quiet;
    return result;
}

}  // namespace qm::render
