#pragma once
// The local web server: a listener thread (WebServer) that accepts browsers on 127.0.0.1
// and waits on all of them at once until each has sent its request, and a bounded pool of
// threads that answer one HTTP/1.0 request per connection (PendingRequest) with a stored file, a
// folder listing, a redirect or a generated page.
//
// StartServer, StopServer and SetServedTree are called on the main thread, which must run
// its event loop while the server serves: the pages read the Project tree and the options
// there, and it copies what the path mapping reads from them for the listener whenever its
// loop is about to wait (so a change counts from the end of the work that made it). Requests
// the listener cannot answer from that copy are handed to the main thread in batches (one
// wake-up for all that arrived meanwhile), which maps them with the settings as they stand,
// and go to the pool once prepared.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/path_mapping.h"
#include "server/responses.h"
#include "server/served_settings.h"

namespace qm::store {
class ProjectTree;
}  // namespace qm::store
namespace qm {

namespace server {
class RequestReader;
}  // namespace server

// The Project tree the server shows (not owned; nullptr: none). Main thread only.
void SetServedTree(store::ProjectTree* tree);

// (Re)starts the listener at the "HTTPPort" option, falling back to 7000..9000 when that port
// is taken. An existing listener is told to end and is not waited for.
void StartServer();
// Ends the listener and every open connection, and waits for them.
void StopServer();
// True from the moment the listening socket is ready until the server is stopped or restarted.
bool ServerRunning();
// The port the listener uses (valid while ServerRunning()).
int ServerPort();

// Bounds that keep slow or numerous clients from exhausting the process: at most
// maxConnections threads answer at a time (further requests wait their turn); a request must
// arrive within receiveTimeoutMs of connecting (a client that sent nothing by then is closed
// without an answer); at most maxWaiting connections wait for their request, the one that has
// waited longest being closed to make room (also kept below the descriptor limit); a send
// that makes no progress for sendTimeoutMs ends the answer. maxConnections takes effect at
// once, the others for the next start of the server.
struct ServerLimits {
    int maxConnections = 64;
    int receiveTimeoutMs = 10000;
    int sendTimeoutMs = 30000;
    int maxWaiting = 4096;
};
void SetServerLimits(const ServerLimits& limits);
ServerLimits CurrentServerLimits();
// Connections handed to the answering threads and not yet finished.
int ActiveConnections();
// Connections waiting for their request right now.
int WaitingConnections();

// The listener thread.
class WebServer {
public:
    explicit WebServer(int port);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    void Start();
    void Terminate();
    bool Finished() const { return finished_; }
    void WaitFor();

private:
    void Execute();

    int port_;
    std::uint64_t generation_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
    server::RequestReader* reader_ = nullptr;  // while it runs; under the server lock
};

// One connection with its request: answers it and closes the socket. A stored file is
// answered on the listener thread when the socket takes the whole answer at once; anything
// that must wait (a slow client, a large file, a folder listing, a page built from the
// Project tree) goes to the pool of answering threads.
class PendingRequest {
public:
    // socket: non-blocking. Made on the listener thread, whose port the Host header must name.
    PendingRequest(int socket, std::string request);
    ~PendingRequest();
    PendingRequest(const PendingRequest&) = delete;
    PendingRequest& operator=(const PendingRequest&) = delete;

    // True when the answer depends on the Project tree or the options: Prepare must then run
    // on the main thread before Execute (without it the answer is the 500 response), unless
    // ComposeOnListener has made it from a copy of them.
    bool NeedsMainThread() const;
    // Listener thread: makes the answer when that reads no folder and needs no main thread,
    // with settings (may be nullptr) for a stored file. False, with nothing made, when the
    // request must take the main thread's way.
    bool ComposeOnListener(const server::ServedSettings* settings, std::string& cachedRoot);
    // Main thread: builds the generated page or finds the stored file the request names.
    void Prepare(const server::ServedSettings& settings, std::string& cachedRoot);
    // Sends as much of the composed answer as the socket takes now; true when nothing is left
    // to send (sent, or the client is gone). Finish must follow.
    bool SendWithoutWaiting();
    // Answering thread: composes the answer unless that was done, sends the rest waiting as
    // long as the client takes it, and finishes.
    void Execute();
    // Closes at once when the client has nothing more to send, else lets the listener close
    // the connection once the client has.
    void Finish();

    int Socket;
    std::string Request;     // at most 2048 bytes, as the listener received them
    int ProjectNumber = -1;  // for the Project information page
    std::string PageText;    // a generated page

private:
    enum class Sent { kAll, kBlocked, kFailed };
    void Compose();
    void ComposeFile(const std::string& path);
    bool ComposeStoredFile(const std::string& file, int fd);
    void ComposeListing(const std::string& requestPath, const std::string& folder);
    void SetText(std::string text) {
        out_ = std::move(text);
        composed_ = true;
    }
    Sent Transmit();
    bool IsGet() const;
    bool IsGeneratedPage() const;
    bool ClientMaySendMore() const;

    server::RequestLine line_;
    int port_;          // the port of the listener that accepted it
    bool misdirected_;  // Host names another server than this machine's own names
    bool prepared_ = false;
    server::ResolvedPath resolved_;
    bool handedOver_ = false;  // the listener closes the socket
    // The answer: text, then the bytes of a file from fileAt_ up to fileEnd_.
    bool composed_ = false;
    std::string out_;
    std::size_t outSent_ = 0;
    int file_ = -1;
    std::int64_t fileAt_ = 0;
    std::int64_t fileEnd_ = 0;
};

}  // namespace qm
