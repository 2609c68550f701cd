#pragma once
// The local web server: a listener thread (TWebServer) that accepts browsers on 127.0.0.1
// and one short-lived thread per connection (TEvent) that answers one HTTP/1.0 request with
// a stored file, a folder listing, a redirect or a generated page.
//
// StartServer, StopServer and SetServedTree are called on the main thread, which must run
// its event loop while the server serves: the pages and the path mapping read the Project
// tree and the options there, through a synchronous call from the connection thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qm {

class ProjectTree;

// The Project tree the server shows (not owned; nullptr: none). Main thread only.
void SetServedTree(ProjectTree* tree);

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
// maxConnections connection threads at a time (further clients wait in the listen queue),
// and a request must arrive within receiveTimeoutMs. Takes effect for new connections.
struct ServerLimits {
    int maxConnections = 64;
    int receiveTimeoutMs = 10000;
    int sendTimeoutMs = 30000;
};
void SetServerLimits(const ServerLimits& limits);
ServerLimits CurrentServerLimits();
// Connection threads alive right now.
int ActiveConnections();


// The listener thread.
class TWebServer {
public:
    explicit TWebServer(int port);
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    void Start();
    void Terminate() { terminated_ = true; }
    bool Finished() const { return finished_; }
    void WaitFor();

private:
    void Execute();

    int port_;
    std::uint64_t generation_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// One connection: receives one request, answers it and closes the socket.
class TEvent {
public:
    explicit TEvent(int socket);
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Execute();

    int Socket;
    std::vector<char> Buffer;  // 4096 bytes; one receive of at most 2048 is used
    int ProjectNumber = -1;    // for the Project information page
    std::string PageText;      // a generated page

private:
    void ServeFile(const std::string& request, const std::string& path);
    void SendListing(const std::string& requestPath, const std::string& folder);
    bool Send(const char* data, std::size_t size);
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }
    void Finish();
};

}  // namespace qm
