#pragma once
// A scripted HTTP peer for the connection tests: it listens on 127.0.0.1, and for each
// connection it accepts it plays the next script: read the request, send bytes (in
// separate writes, with pauses), then close, reset or stay silent.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct Step {
    enum Kind { kReadRequest, kRead, kSend, kPause, kClose, kReset, kHold } kind;
    std::string bytes;      // kSend: what to send; kRead: how many bytes (as size of bytes)
    int ms = 0;             // kPause: how long; kHold: the longest hold
    std::size_t times = 1;  // kSend: how often bytes are sent, one after the other
};

using Script = std::vector<Step>;

// Reads up to the end of the next request header (the first, the second, ... of the connection).
inline Step ReadRequest() { return {Step::kReadRequest, "", 0}; }
inline Step ReadBytes(std::size_t n) { return {Step::kRead, std::string(n, '.'), 0}; }
inline Step Send(std::string bytes) { return {Step::kSend, std::move(bytes), 0}; }
// Sends chunk times over, without holding the whole in memory (large bodies).
inline Step SendRepeated(std::string chunk, std::size_t times) { return {Step::kSend, std::move(chunk), 0, times}; }
inline Step Pause(int ms) { return {Step::kPause, "", ms}; }
inline Step Close() { return {Step::kClose, "", 0}; }
inline Step Reset() { return {Step::kReset, "", 0}; }
// Stays silent until the peer closes (or ms pass).
inline Step Hold(int ms = 30000) { return {Step::kHold, "", ms}; }

class ScriptedServer {
public:
    // Each accepted connection plays the next script; the last one repeats when repeat.
    explicit ScriptedServer(std::vector<Script> scripts, bool repeat = false);
    ~ScriptedServer();
    int Port() const { return port_; }
    std::string Url(const std::string& path) const;
    // The bytes read from each connection so far, in order of acceptance.
    std::vector<std::string> Received();
    int Accepted() const { return accepted_.load(); }

private:
    void Serve();
    void Play(int fd, const Script& script, std::size_t index);
    int listener_ = -1;
    int port_ = 0;
    std::vector<Script> scripts_;
    bool repeat_;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::mutex mutex_;
    std::vector<std::string> received_;
    std::thread thread_;
    std::atomic<int> active_{0};  // connections being played (their threads are detached)
};

}  // namespace qm::test
