// Commands, answers and events over the DevTools pipes.
#include "render/devtools_client.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QJsonDocument>

#include <cerrno>
#include <chrono>
#include <vector>

namespace qm::render {

DevToolsClient::DevToolsClient(int commandFd, int answerFd, std::size_t maxMessage)
    : commandFd_(commandFd), answerFd_(answerFd), reader_(maxMessage) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (answerFd_ >= 0) thread_ = std::thread([this] { ReadLoop(); });
}

DevToolsClient::~DevToolsClient() {
    Shutdown();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void DevToolsClient::Shutdown() {
    alive_ = false;
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    FailAll("the browser is closed");
}

void DevToolsClient::FailAll(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [id, p] : pending_) {
        p->done = true;
        p->answer.ok = false;
        p->answer.error = why;
    }
    pending_.clear();
    answered_.notify_all();
}

void DevToolsClient::ReadLoop() {
    std::vector<char> block(64 * 1024);
    std::vector<std::string> messages;
    while (alive_) {
        pollfd fds[2] = {{answerFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        if (fds[0].revents == 0) continue;
        const ssize_t n = ::read(answerFd_, block.data(), block.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        messages.clear();
        const bool ok = reader_.Feed(block.data(), static_cast<std::size_t>(n), messages);
        for (const std::string& m : messages) Dispatch(m);
        if (!ok) {
            alive_ = false;
            FailAll("the browser sent a message over the size limit");
            return;
        }
    }
    alive_ = false;
    FailAll("the browser closed its pipe");
}

void DevToolsClient::Dispatch(const std::string& message) {
    QJsonParseError parseError;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromRawData(message.data(), qsizetype(message.size())), &parseError);
    if (!doc.isObject()) return;
    const QJsonObject obj = doc.object();
    if (obj.contains("id")) {
        const auto id = static_cast<std::int64_t>(obj.value("id").toDouble(-1));
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pending_.find(id);
        if (it == pending_.end()) return;
        Pending& p = *it->second;
        p.done = true;
        if (obj.contains("error")) {
            p.answer.ok = false;
            p.answer.error = obj.value("error").toObject().value("message").toString().toStdString();
            if (p.answer.error.empty()) p.answer.error = "error answer";
        } else {
            p.answer.ok = true;
            p.answer.result = obj.value("result").toObject();
        }
        pending_.erase(it);
        answered_.notify_all();
        return;
    }
    const std::string method = obj.value("method").toString().toStdString();
    if (method.empty()) return;
    const std::string session = obj.value("sessionId").toString().toStdString();
    std::shared_ptr<EventHandler> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handlers_.find(session);
        if (it != handlers_.end()) handler = it->second;
    }
    if (handler && *handler) (*handler)(method, obj.value("params").toObject());
}

void DevToolsClient::SetEventHandler(const std::string& sessionId, EventHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[sessionId] = std::make_shared<EventHandler>(std::move(handler));
}

void DevToolsClient::RemoveEventHandler(const std::string& sessionId) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_.erase(sessionId);
}

CommandAnswer DevToolsClient::Call(const std::string& method, const QJsonObject& params, const std::string& sessionId,
                                   int timeoutMs) {
    CommandAnswer failed;
    auto pending = std::make_shared<Pending>();
    std::int64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!alive_) {
            failed.error = "the browser is closed";
            return failed;
        }
        if (pending_.size() >= kMaxPending) {
            failed.error = "too many commands waiting for the browser";
            return failed;
        }
        id = nextId_++;
        pending_[id] = pending;
    }
    const bool written = Write(id, method, params, sessionId);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!written) {
        pending_.erase(id);
        failed.error = "the browser does not read its commands";
        return failed;
    }
    const bool done = answered_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pending->done; });
    if (!done) {
        pending_.erase(id);
        failed.error = method + " timed out";
        return failed;
    }
    return pending->answer;
}

bool DevToolsClient::Send(const std::string& method, const QJsonObject& params, const std::string& sessionId) {
    std::int64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!alive_) return false;
        id = nextId_++;
    }
    return Write(id, method, params, sessionId);
}

bool DevToolsClient::Write(std::int64_t id, const std::string& method, const QJsonObject& params,
                           const std::string& sessionId) {
    QJsonObject command{{"id", double(id)}, {"method", QString::fromStdString(method)}, {"params", params}};
    if (!sessionId.empty()) command.insert("sessionId", QString::fromStdString(sessionId));
    QByteArray bytes = QJsonDocument(command).toJson(QJsonDocument::Compact);
    bytes.append('\0');
    std::lock_guard<std::mutex> lock(writeMutex_);
    const char* p = bytes.constData();
    std::size_t left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(commandFd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace qm::render
