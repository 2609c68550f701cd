#pragma once
// DevToolsClient: commands to a browser over its DevTools pipes and the answers matched to
// them by id. A thread of its own reads the browser's messages; a caller waits for the
// answer to its command on its own thread, never on the program's main thread. Events go
// to the handler registered for their session.
#include <QJsonObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "render/message_reader.h"

namespace qm::render {

struct CommandAnswer {
    bool ok = false;
    QJsonObject result;
    std::string error;  // when not ok: the browser's error message, a time-out, or the pipe closed
};

class DevToolsClient {
public:
    using EventHandler = std::function<void(const std::string& method, const QJsonObject& params)>;
    // The most commands waiting for their answers at once; more are refused.
    static constexpr std::size_t kMaxPending = 256;

    // Writes commands to commandFd and reads answers from answerFd (neither is closed here).
    DevToolsClient(int commandFd, int answerFd, std::size_t maxMessage = MessageReader::kDefaultMaxMessage);
    ~DevToolsClient();  // Shutdown
    DevToolsClient(const DevToolsClient&) = delete;
    DevToolsClient& operator=(const DevToolsClient&) = delete;

    // Sends method with params to sessionId (empty: the browser itself) and waits at most
    // timeoutMs for its answer.
    CommandAnswer Call(const std::string& method, const QJsonObject& params = {}, const std::string& sessionId = {},
                       int timeoutMs = 30000);
    // Sends method with params to sessionId without waiting for its answer, which is dropped
    // (also from an event handler, where Call would wait for itself). False when it could
    // not be written.
    bool Send(const std::string& method, const QJsonObject& params, const std::string& sessionId);
    // Events of sessionId go to handler (on the reader thread) until it is removed.
    void SetEventHandler(const std::string& sessionId, EventHandler handler);
    void RemoveEventHandler(const std::string& sessionId);
    // False once the browser closed its end, sent something unreadable, or Shutdown ran.
    bool Alive() const { return alive_.load(); }
    // Stops reading; every waiting and later call fails.
    void Shutdown();

    // Takes one message from the browser as the reader thread does (for tests).
    void Dispatch(const std::string& message);

private:
    struct Pending {
        bool done = false;
        CommandAnswer answer;
    };
    void ReadLoop();
    // Writes one command with id; false when the browser does not read it.
    bool Write(std::int64_t id, const std::string& method, const QJsonObject& params, const std::string& sessionId);
    void FailAll(const std::string& why);

    int commandFd_, answerFd_;
    int wakeFd_ = -1;
    MessageReader reader_;
    std::atomic<bool> alive_{true};
    std::mutex writeMutex_;
    std::mutex mutex_;
    std::condition_variable answered_;
    std::int64_t nextId_ = 1;
    std::map<std::int64_t, std::shared_ptr<Pending>> pending_;
    std::map<std::string, std::shared_ptr<EventHandler>> handlers_;
    std::thread thread_;
};

}  // namespace qm::render
