#include "server/web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
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
#include "server/pages.h"
#include "server/path_mapping.h"
#include "server/pictures.h"
#include "server/responses.h"
#include "store/options.h"
#include "store/project_tree.h"

namespace qm {

namespace {

constexpr int kReceiveSize = 2048;
constexpr int kBufferSize = 4096;
constexpr int kFilePiece = 1024;
constexpr int kListenQueue = 64;
constexpr int kPollMs = 10;

// Server state shared by the main thread, the listener and the connections.
std::mutex g_mutex;
std::unique_ptr<TWebServer> g_current;                // main thread
std::vector<std::unique_ptr<TWebServer>> g_retired;   // told to end, not yet joined
std::uint64_t g_generation = 0;                       // under g_mutex
std::atomic<bool> g_running{false};
std::atomic<int> g_port{0};
std::atomic<int> g_active{0};
std::set<int> g_openSockets;                          // under g_mutex
ServerLimits g_limits;                                // under g_mutex

// Main-thread state read by the path mapping and the pages.
ProjectTree* g_tree = nullptr;
std::string g_cachedRoot;

ServerLimits Limits() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_limits;
}

void SetTimeout(int fd, int option, int ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

void SetCork(int fd, bool on) {
    int v = on ? 1 : 0;
    ::setsockopt(fd, IPPROTO_TCP, TCP_CORK, &v, sizeof v);
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

void StartConnection(int fd) {
    g_active.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_openSockets.insert(fd);
    }
    try {
        std::thread([fd] {
            TEvent connection(fd);
            connection.Execute();
        }).detach();
    } catch (const std::system_error&) {
        // No thread could be made: the client is dropped without an answer.
        TEvent dropped(fd);
    }
}

}  // namespace

void SetServedTree(ProjectTree* tree) { g_tree = tree; }
bool ServerRunning() { return g_running.load(); }
int ServerPort() { return g_port.load(); }
int ActiveConnections() { return g_active.load(); }

void SetServerLimits(const ServerLimits& limits) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_limits = limits;
    if (g_limits.maxConnections < 1) g_limits.maxConnections = 1;
}
ServerLimits CurrentServerLimits() { return Limits(); }

// ---- listener ----------------------------------------------------------------------------

TWebServer::TWebServer(int port) : port_(port) {
    std::lock_guard<std::mutex> lock(g_mutex);
    generation_ = g_generation;
}

TWebServer::~TWebServer() {
    Terminate();
    WaitFor();
}

void TWebServer::Start() { thread_ = std::thread([this] { Execute(); }); }

void TWebServer::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TWebServer::Execute() {
    // Browsers on this machine only: the stored sites are never offered to the network.
    const int fd = CreateListener(port_, 7000, /*loopbackOnly=*/true, kListenQueue);
    if (fd < 0) {
        finished_ = true;
        WakeMainThread();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (generation_ == g_generation && !terminated_) {
            g_port = BoundPort(fd);
            g_running = true;
        }
    }
    WakeMainThread();
    SetNonBlocking(fd);
    while (!terminated_) {
        if (g_active.load() >= Limits().maxConnections) {
            // Every connection thread is busy: further clients wait in the listen queue.
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        StartConnection(client);
    }
    ::close(fd);
    finished_ = true;
}

void StartServer() {
    std::unique_ptr<TWebServer> old;
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
    int port = Options().HTTPPort;
    if (port == 0) port = 800;
    g_current = std::make_unique<TWebServer>(port);
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
    if (platform::IsMainThread())
        platform::RunUntil(idle, 30000);
    for (int i = 0; i < 3000 && !idle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    g_cachedRoot.clear();
    g_stopping = false;
}

// ---- connection --------------------------------------------------------------------------

TEvent::TEvent(int socket) : Socket(socket), Buffer(kBufferSize) {}

TEvent::~TEvent() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_openSockets.erase(Socket);
        ::close(Socket);
    }
    g_active.fetch_sub(1);
    if (g_stopping) WakeMainThread();
}

bool TEvent::Send(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(Socket, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void TEvent::Finish() {
    SetCork(Socket, false);
    ::shutdown(Socket, SHUT_WR);
    // Read what the client may still send, so that closing does not reset the connection
    // before the answer has reached it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    char sink[1024];
    for (int i = 0; i < 64; ++i) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{Socket, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        if (::recv(Socket, sink, sizeof sink, MSG_DONTWAIT) <= 0) break;
    }
}

void TEvent::Execute() {
    const ServerLimits limits = Limits();
    SetTimeout(Socket, SO_RCVTIMEO, limits.receiveTimeoutMs);
    SetTimeout(Socket, SO_SNDTIMEO, limits.sendTimeoutMs);
    ssize_t n;
    do {
        n = ::recv(Socket, Buffer.data(), kReceiveSize, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    const std::string request(Buffer.data(), static_cast<std::size_t>(n));
    SetCork(Socket, true);
    const server::RequestLine line = server::ParseRequestLine(request);
    if (server::Lower(line.method) != "get") {
        Send(server::Response500());
    } else if (line.path == "/" || line.path.compare(0, 7, "/?exec/") == 0) {
        const bool index = line.path == "/";
        if (!index) ProjectNumber = ProjectNumberOf(line.path.substr(7));
        const bool built = platform::SendAndWait([this, index] {
            static const ProjectTree empty;
            const ProjectTree& tree = g_tree ? *g_tree : empty;
            PageText = index ? server::BuildIndexPage(tree) : server::BuildProjectPage(tree, ProjectNumber);
        });
        if (!built) {
            Send(server::Response500());
        } else if (Send(server::PageHeader(PageText.size()))) {
            Send(PageText);
        }
    } else {
        ServeFile(request, line.path);
    }
    Finish();
}

void TEvent::ServeFile(const std::string& request, const std::string& path) {
    if (path.empty()) {
        Send(server::Response500());
        return;
    }
    if (const std::string_view* picture = server::BuiltInPicture(server::Lower(path))) {
        Send("HTTP/1.0 200 OK\r\nServer: Velloran 4.0 (Win32)\r\nContent-Type: image/gif\r\nContent-Length: " +
             std::to_string(picture->size()) + "\r\n\r\n");
        Send(picture->data(), picture->size());
        return;
    }
    server::ResolvedPath resolved;
    const bool mapped = platform::SendAndWait([&resolved, &path] {
        resolved = server::ResolveRequestPath(path, g_tree, Options(), g_cachedRoot);
    });
    if (!mapped) {
        Send(server::Response500());
        return;
    }
    if (resolved.refused) {
        Send(server::Response404());
        return;
    }
    if (resolved.path.empty()) {
        Send(server::Response302("/"));
        return;
    }
    const std::string& file = resolved.path;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::int64_t start = 0;
        bool partial = server::ParseRangeStart(request, start);
        const std::int64_t size = st.st_size;
        // A start at or past the end has nothing to send: the whole file is answered.
        if (partial && (start < 0 || start >= size)) {
            partial = false;
            start = 0;
        }
        const std::string type = THTTPClient::ContentTypeOf(file);
        if (type == "text/html" && size < server::kStubSizeLimit) {
            char head[server::kStubSizeLimit];
            const ssize_t got = ::pread(fd, head, sizeof head, 0);
            std::string location;
            if (got > 0 && server::StubLocation(std::string(head, static_cast<std::size_t>(got)), location)) {
                ::close(fd);
                Send(server::Response302(location));
                return;
            }
        }
        if (Send(server::FileHeader(type, size, start, partial))) {
            if (start == 0 || ::lseek(fd, start, SEEK_SET) == start) {
                char piece[kFilePiece];
                for (;;) {
                    const ssize_t r = ::read(fd, piece, sizeof piece);
                    if (r <= 0 || !Send(piece, static_cast<std::size_t>(r))) break;
                }
            }
        }
        ::close(fd);
        return;
    }
    if (fd >= 0) ::close(fd);

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
        Send(server::Response404());
        return;
    }
    if (!namedDefault && folder.back() != '/' && folder.back() != '\\') {
        Send(server::Response302(path + "/"));
        return;
    }
    SendListing(path, folder);
}

void TEvent::SendListing(const std::string& requestPath, const std::string& folder) {
    const std::string page = server::BuildDirectoryListing(requestPath, folder);
    Send(server::PageHeader(page.size()) + page);
}

}  // namespace qm
