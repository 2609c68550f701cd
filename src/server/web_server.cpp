#include "server/web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <set>

#include "net/http_client.h"
#include "net/sockets.h"
#include "platform/event_loop.h"
#include "server/host_check.h"
#include "server/pages.h"
#include "server/path_mapping.h"
#include "server/pictures.h"
#include "server/referring_site.h"
#include "server/request_reader.h"
#include "server/request_head.h"
#include "server/responses.h"
#include "server/served_settings.h"
#include "server/served_type.h"
#include "server/worker_pool.h"
#include "store/options.h"
#include "store/project_tree.h"
#include "store/string_list.h"

namespace qm {

namespace {

// Clients beyond those being read wait in the listen queue; a burst of many connections at
// once (browsers open several) should not be refused by the kernel.
constexpr int kListenQueue = 1024;
// The listener looks at its terminate flag at least this often even without a wake-up.
constexpr int kListenerRoundMs = 1000;
// Descriptors kept free for everything else the program opens.
constexpr rlim_t kSpareDescriptors = 256;
constexpr std::size_t kFilePiece = 1 << 20;

// Server state shared by the main thread, the listener and the connections.
std::mutex g_mutex;
std::unique_ptr<WebServer> g_current;               // main thread
std::vector<std::unique_ptr<WebServer>> g_retired;  // told to end, not yet joined
std::uint64_t g_generation = 0;                     // under g_mutex
std::atomic<bool> g_running{false};
std::atomic<int> g_port{0};
std::atomic<int> g_active{0};
std::atomic<int> g_waiting{0};
std::set<int> g_openSockets;                // under g_mutex
ServerLimits g_limits;                      // under g_mutex
server::RequestReader* g_reader = nullptr;  // the newest running listener's; under g_mutex
// Never destroyed: its threads may outlive a server that could not be stopped in time.
server::WorkerPool& Pool() {
    static server::WorkerPool* pool = new server::WorkerPool;
    return *pool;
}

// Main-thread state read by the path mapping and the pages.
store::ProjectTree* g_tree = nullptr;
std::string g_cachedRoot;
std::shared_ptr<const server::ServedSettings> g_settings;  // main thread

// The copy the listener maps with: replaced under the lock, with a new version number so that
// the listener looks at it only when it changed.
std::mutex g_publishedMutex;
std::shared_ptr<const server::ServedSettings> g_published;  // under g_publishedMutex
std::atomic<std::uint64_t> g_publishedVersion{0};

// Main thread: the settings as they stand now, published to the listener when they changed.
const server::ServedSettings& CurrentSettings() {
    if (!g_settings || !g_settings->Matches(g_tree, store::Options())) {
        g_settings =
            std::make_shared<const server::ServedSettings>(server::ServedSettings::Of(g_tree, store::Options()));
        std::lock_guard<std::mutex> lock(g_publishedMutex);
        g_published = g_settings;
        g_publishedVersion.fetch_add(1, std::memory_order_release);
    }
    return *g_settings;
}

// Listener thread: its own reference to the published settings and the folder it last found a
// file under.
struct ListenerSettings {
    std::shared_ptr<const server::ServedSettings> settings;
    std::uint64_t version = ~std::uint64_t{0};
    std::string cachedRoot;

    const server::ServedSettings* Current() {
        const std::uint64_t now = g_publishedVersion.load(std::memory_order_acquire);
        if (now != version) {
            std::lock_guard<std::mutex> lock(g_publishedMutex);
            settings = g_published;
            version = g_publishedVersion.load(std::memory_order_relaxed);
        }
        return settings.get();
    }
};
thread_local ListenerSettings t_listenerSettings;
// The port this listener thread bound: the one its clients must name in Host.
thread_local int t_boundPort = 0;

ServerLimits Limits() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_limits;
}

// Many clients waiting for their request each hold a descriptor: the soft limit is raised to
// the hard one. Returns how many connections may wait at most.
std::size_t WaitingBound(int configured) {
    rlimit r{};
    if (::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &r);
        ::getrlimit(RLIMIT_NOFILE, &r);
    }
    std::size_t bound = configured < 1 ? 1 : static_cast<std::size_t>(configured);
    if (r.rlim_cur != RLIM_INFINITY) {
        const rlim_t usable = r.rlim_cur > 2 * kSpareDescriptors ? r.rlim_cur - kSpareDescriptors : r.rlim_cur / 2;
        bound = std::min<std::size_t>(bound, usable < 1 ? 1 : usable);
    }
    return bound;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "/?exec/" numbers: a decimal integer, -1 for anything else.
int ProjectNumberOf(const std::string& text) {
    if (text.empty() || text.size() > 12) return -1;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return -1;
    for (char c : text)
        if (!(c == '-' || c == '+' || (c >= '0' && c <= '9'))) return -1;
    return static_cast<int>(v);
}

// Lets a main thread that waits for the server's state look again.
void WakeMainThread() {
    platform::Post([] {});
}

std::atomic<bool> g_stopping{false};

// Connections whose answer needs the Project tree or the options wait here for the main
// thread, which takes all that have come in one go.
std::mutex g_prepareMutex;
std::vector<std::shared_ptr<PendingRequest>> g_toPrepare;  // under g_prepareMutex

void Answer(std::shared_ptr<PendingRequest> connection) {
    // No thread could be made: the client is dropped without an answer.
    Pool().Submit([connection] { connection->Execute(); });
}

// Main thread.
void PrepareWaiting() {
    std::vector<std::shared_ptr<PendingRequest>> batch;
    {
        std::lock_guard<std::mutex> lock(g_prepareMutex);
        batch.swap(g_toPrepare);
    }
    if (batch.empty()) return;
    const server::ServedSettings& settings = CurrentSettings();
    for (auto& connection : batch) {
        connection->Prepare(settings, g_cachedRoot);
        Answer(std::move(connection));
    }
}

// Main thread, whenever its loop is about to wait: the listener gets the settings a change
// made before it can see another request.
void RefreshSettingsWhenIdle() {
    if (g_running.load()) CurrentSettings();
}

// A connection whose request has arrived (listener thread): answered here when its answer is
// ready at once and the socket takes all of it, else prepared on the main thread when it
// needs to be and answered by the pool.
void StartConnection(int fd, std::string request) {
    g_active.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_openSockets.insert(fd);
    }
    auto connection = std::make_shared<PendingRequest>(fd, std::move(request));
    ListenerSettings& mine = t_listenerSettings;
    if (connection->ComposeOnListener(mine.Current(), mine.cachedRoot)) {
        if (connection->SendWithoutWaiting())
            connection->Finish();
        else
            Answer(std::move(connection));
        return;
    }
    if (!connection->NeedsMainThread()) {
        Answer(std::move(connection));
        return;
    }
    bool first;
    {
        std::lock_guard<std::mutex> lock(g_prepareMutex);
        first = g_toPrepare.empty();
        g_toPrepare.push_back(std::move(connection));
    }
    // One wake-up of the main thread for everything that comes before it runs. Should its
    // loop have ended, StopServer prepares what is left.
    if (first) platform::Post(PrepareWaiting);
}

}  // namespace

void SetServedTree(store::ProjectTree* tree) {
    g_tree = tree;
    CurrentSettings();
}
bool ServerRunning() { return g_running.load(); }
int ServerPort() { return g_port.load(); }
int ActiveConnections() { return g_active.load(); }
int WaitingConnections() { return g_waiting.load(); }

void SetServerLimits(const ServerLimits& limits) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_limits = limits;
        if (g_limits.maxConnections < 1) g_limits.maxConnections = 1;
    }
    Pool().SetMaxThreads(limits.maxConnections);
}
ServerLimits CurrentServerLimits() { return Limits(); }

// ---- listener ----------------------------------------------------------------------------

WebServer::WebServer(int port) : port_(port) {
    std::lock_guard<std::mutex> lock(g_mutex);
    generation_ = g_generation;
}

WebServer::~WebServer() {
    Terminate();
    WaitFor();
}

void WebServer::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void WebServer::Terminate() {
    terminated_ = true;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (reader_) reader_->Wake();
}

void WebServer::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void WebServer::Execute() {
    // Browsers on this machine only: the stored sites are never offered to the network.
    const int fd = net::CreateListener(port_, 7000, /*loopbackOnly=*/true, kListenQueue);
    if (fd < 0) {
        finished_ = true;
        WakeMainThread();
        return;
    }
    const ServerLimits limits = Limits();
    server::RequestReader::Limits readerLimits;
    readerLimits.maxWaiting = WaitingBound(limits.maxWaiting);
    readerLimits.requestTimeoutMs = limits.receiveTimeoutMs;
    t_boundPort = net::BoundPort(fd);
    auto reader = std::make_unique<server::RequestReader>(fd, readerLimits, StartConnection);
    // The same port on [::1] as well, for browsers that try it first; a machine without IPv6
    // is served over IPv4 alone.
    int fd6 = net::CreateLoopback6Listener(t_boundPort, kListenQueue);
    if (fd6 >= 0 && !reader->AddListener(fd6)) net::CloseSocket(fd6);
    if (!reader->Ok()) {
        reader.reset();
        net::CloseSocket(fd6);
        ::close(fd);
        finished_ = true;
        WakeMainThread();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        reader_ = reader.get();
        g_reader = reader.get();
        if (generation_ == g_generation && !terminated_) {
            g_port = net::BoundPort(fd);
            g_running = true;
        }
    }
    WakeMainThread();
    while (!terminated_) {
        reader->Poll(kListenerRoundMs);
        g_waiting = static_cast<int>(reader->Waiting());
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        reader_ = nullptr;
        if (g_reader == reader.get()) g_reader = nullptr;
    }
    reader.reset();  // closes the connections still waiting or lingering
    g_waiting = 0;
    net::CloseSocket(fd6);
    ::close(fd);
    finished_ = true;
}

void StartServer() {
    std::unique_ptr<WebServer> old;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_generation;
        g_running = false;
        old = std::move(g_current);
    }
    if (old) {
        old->Terminate();
        g_retired.push_back(std::move(old));
    }
    // Old listeners end on their own within one poll; join the ones that have.
    for (auto it = g_retired.begin(); it != g_retired.end();) {
        if ((*it)->Finished()) {
            (*it)->WaitFor();
            it = g_retired.erase(it);
        } else {
            ++it;
        }
    }
    Pool().SetMaxThreads(Limits().maxConnections);
    CurrentSettings();
    static bool watchingIdle = false;
    if (!watchingIdle) {
        platform::AddIdleHandler(RefreshSettingsWhenIdle);
        watchingIdle = true;
    }
    int port = store::Options().HTTPPort;
    if (port == 0) port = 800;
    g_current = std::make_unique<WebServer>(port);
    g_current->Start();
}

void StopServer() {
    g_stopping = true;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_generation;
        g_running = false;
    }
    if (g_current) g_retired.push_back(std::move(g_current));
    for (auto& listener : g_retired) listener->Terminate();
    for (auto& listener : g_retired) listener->WaitFor();
    g_retired.clear();
    {
        // Wake connections that still wait for a request or a slow reader.
        std::lock_guard<std::mutex> lock(g_mutex);
        for (int fd : g_openSockets) ::shutdown(fd, SHUT_RDWR);
    }
    // Connections may be waiting for the main thread to build a page: keep serving it.
    auto idle = [] { return g_active.load() == 0; };
    if (platform::IsMainThread()) {
        PrepareWaiting();
        platform::RunUntil(
            [&idle] {
                PrepareWaiting();
                return idle();
            },
            30000);
    }
    for (int i = 0; i < 3000 && !idle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The answering threads end with the server; ones still busy past the wait are left be.
    if (idle()) Pool().Stop();
    g_cachedRoot.clear();
    g_stopping = false;
}

// ---- connection ---------------------------------------------------------------------------

PendingRequest::PendingRequest(int socket, std::string request)
    : Socket(socket),
      Request(std::move(request)),
      line_(server::ParseRequestLine(Request)),
      port_(t_boundPort),
      misdirected_(!server::AddressedToUs(Request, t_boundPort)) {}

PendingRequest::~PendingRequest() {
    if (file_ >= 0) ::close(file_);
    {
        // A socket handed over may already be closed and its number in use again.
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!handedOver_) {
            g_openSockets.erase(Socket);
            ::close(Socket);
        }
    }
    g_active.fetch_sub(1);
    if (g_stopping) WakeMainThread();
}

// Sends the answer on from where it stands, as far as the socket takes it now. A file that
// got shorter ends the answer early.
PendingRequest::Sent PendingRequest::Transmit() {
    while (outSent_ < out_.size()) {
        const bool more = file_ >= 0 && fileAt_ < fileEnd_;
        const ssize_t n = ::send(Socket, out_.data() + outSent_, out_.size() - outSent_,
                                 MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Sent::kBlocked;
        if (n <= 0) return Sent::kFailed;
        outSent_ += static_cast<std::size_t>(n);
    }
    while (file_ >= 0 && fileAt_ < fileEnd_) {
        const std::int64_t left = fileEnd_ - fileAt_;
        const std::size_t piece =
            left < static_cast<std::int64_t>(kFilePiece) ? static_cast<std::size_t>(left) : kFilePiece;
        off_t offset = static_cast<off_t>(fileAt_);
        const ssize_t n = ::sendfile(Socket, file_, &offset, piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Sent::kBlocked;
        if (n <= 0) return Sent::kFailed;
        fileAt_ = offset;
    }
    return Sent::kAll;
}

bool PendingRequest::SendWithoutWaiting() { return Transmit() != Sent::kBlocked; }

bool PendingRequest::ClientMaySendMore() const {
    // Closing a socket that holds unread bytes, or that receives bytes afterwards, resets the
    // connection, which can cut the answer short at the client. A GET whose head ends what
    // was received and announces no body leaves nothing more to come.
    if (!IsGet()) return true;
    const std::size_t headEnd = server::RequestHeadEnd(Request);
    if (headEnd != Request.size() || server::AnnouncesBody(std::string_view(Request).substr(0, headEnd))) return true;
    char c;
    return ::recv(Socket, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

void PendingRequest::Finish() {
    if (!ClientMaySendMore()) return;  // the destructor closes
    ::shutdown(Socket, SHUT_WR);
    {
        // The listener waits for the client to close without holding this thread.
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_reader) {
            g_openSockets.erase(Socket);
            g_reader->Linger(Socket);
            handedOver_ = true;
            return;
        }
    }
    // Read what the client may still send, so that closing does not reset the connection
    // before the answer has reached it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    char sink[1024];
    for (int i = 0; i < 64; ++i) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{Socket, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        if (::recv(Socket, sink, sizeof sink, MSG_DONTWAIT) <= 0) break;
    }
}

bool PendingRequest::IsGet() const { return store::CompareNoCase(line_.method, "get") == 0; }
bool PendingRequest::IsGeneratedPage() const { return line_.path == "/" || line_.path.compare(0, 7, "/?exec/") == 0; }

bool PendingRequest::NeedsMainThread() const {
    if (Request.empty() || misdirected_ || !IsGet()) return false;
    if (IsGeneratedPage()) return true;
    return !line_.path.empty() && !server::BuiltInPicture(server::Lower(line_.path));
}

bool PendingRequest::ComposeOnListener(const server::ServedSettings* settings, std::string& cachedRoot) {
    if (Request.empty()) return false;
    if (!NeedsMainThread()) {
        Compose();
        return true;
    }
    // Only a stored file: everything else is rare enough to take the main thread's way,
    // which also maps it with the settings as they stand at that moment.
    if (!settings || IsGeneratedPage()) return false;
    int fd = -1;
    const server::ResolvedPath resolved = server::ResolveRequestPath(line_.path, *settings, cachedRoot, &fd);
    if (fd < 0) return false;
    if (resolved.refused || resolved.path.empty()) {
        ::close(fd);
        return false;
    }
    return ComposeStoredFile(resolved.path, fd);
}

void PendingRequest::Prepare(const server::ServedSettings& settings, std::string& cachedRoot) {
    if (misdirected_) {
        prepared_ = true;
        return;
    }
    if (IsGeneratedPage()) {
        const bool index = line_.path == "/";
        if (!index) ProjectNumber = ProjectNumberOf(line_.path.substr(7));
        static const store::ProjectTree empty;
        const store::ProjectTree& tree = g_tree ? *g_tree : empty;
        PageText = index ? server::BuildIndexPage(tree) : server::BuildProjectPage(tree, ProjectNumber);
    } else {
        resolved_ = server::ResolveRequestPath(line_.path, settings, cachedRoot);
        // A stored page's script asked for an address from the top of its server: looked
        // for again inside the stored site the page came from.
        if (resolved_.refused && !line_.path.empty() && line_.path[0] == '/') {
            const std::string site = server::ReferringSite(Request, port_, settings);
            if (!site.empty()) {
                bool notFound = false;
                std::string inSite = server::MapToStoredFile(site + line_.path, settings, cachedRoot, notFound);
                if (!notFound && !inSite.empty()) {
                    resolved_.path = std::move(inSite);
                    resolved_.refused = false;
                }
            }
        }
    }
    prepared_ = true;
}

void PendingRequest::Execute() {
    // Nothing received: closed without an answer.
    if (Request.empty()) return;
    if (!composed_) Compose();
    // A send that makes no progress for the send time ends the answer.
    const int timeoutMs = Limits().sendTimeoutMs;
    for (;;) {
        const Sent sent = Transmit();
        if (sent != Sent::kBlocked) break;
        pollfd p{Socket, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) break;
    }
    Finish();
}

void PendingRequest::Compose() {
    // Another host's name: nothing is mapped, looked up or built for it.
    if (misdirected_) {
        SetText(server::Response421());
    } else if (!IsGet()) {
        SetText(server::Response500());
    } else if (IsGeneratedPage()) {
        SetText(prepared_ ? server::PageHeader(PageText.size()) + PageText : server::Response500());
    } else {
        ComposeFile(line_.path);
    }
}

void PendingRequest::ComposeFile(const std::string& path) {
    if (path.empty()) {
        SetText(server::Response500());
        return;
    }
    if (const std::string_view* picture = server::BuiltInPicture(server::Lower(path))) {
        SetText("HTTP/1.0 200 OK\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: image/gif\r\nContent-Length: " +
                std::to_string(picture->size()) + "\r\n\r\n" + std::string(*picture));
        return;
    }
    if (!prepared_) {
        SetText(server::Response500());
        return;
    }
    const server::ResolvedPath& resolved = resolved_;
    if (resolved.refused) {
        SetText(server::Response404());
        return;
    }
    if (resolved.path.empty()) {
        SetText(server::Response302("/"));
        return;
    }
    const std::string& file = resolved.path;
    if (ComposeStoredFile(file, ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))) return;

    std::string folder = file;
    bool namedDefault = false;
    const std::string& doc = resolved.defaultDoc;
    if (!doc.empty() && folder.size() >= doc.size() &&
        folder.compare(folder.size() - doc.size(), doc.size(), doc) == 0) {
        folder.erase(folder.size() - doc.size());
        if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
        namedDefault = true;
    }
    if (folder.empty() || !IsFolder(folder)) {
        SetText(server::Response404());
        return;
    }
    if (!namedDefault && folder.back() != '/' && folder.back() != '\\') {
        SetText(server::Response302(path + "/"));
        return;
    }
    ComposeListing(path, folder);
}

// The answer for a regular file opened as fd (which this takes over): a redirect when it is a
// stub the download engine left, else its header and its bytes (from the requested start on).
// False when fd is no regular file.
bool PendingRequest::ComposeStoredFile(const std::string& file, int fd) {
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    std::int64_t start = 0;
    bool partial = server::ParseRangeStart(Request, start);
    const std::int64_t size = st.st_size;
    // A start at or past the end has nothing to send: the whole file is answered.
    if (partial && (start < 0 || start >= size)) {
        partial = false;
        start = 0;
    }
    const std::string type = server::ServedContentType(file, line_.path);
    if (type == "text/html" && size < server::kStubSizeLimit) {
        char head[server::kStubSizeLimit];
        const ssize_t got = ::pread(fd, head, sizeof head, 0);
        std::string location;
        if (got > 0 && server::StubLocation(std::string(head, static_cast<std::size_t>(got)), location)) {
            ::close(fd);
            SetText(server::Response302(location));
            return true;
        }
    }
    SetText(server::FileHeader(type, size, start, partial));
    file_ = fd;
    fileAt_ = start;
    fileEnd_ = size;
    return true;
}

void PendingRequest::ComposeListing(const std::string& requestPath, const std::string& folder) {
    const std::string page = server::BuildDirectoryListing(requestPath, folder);
    SetText(server::PageHeader(page.size()) + page);
}

}  // namespace qm
