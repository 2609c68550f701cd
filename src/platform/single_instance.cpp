// Single instance over a QLocalServer.
#include "platform/single_instance.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

#include <QByteArray>
#include <QList>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>

#include "platform/private_folder.h"

namespace qm::platform {

namespace {
constexpr int kConnectWaitMs = 1000;
// A request: "show", then one "open WORD" line per word; longer ones are cut off here.
constexpr qint64 kMaxRequest = 64 * 1024;
constexpr int kMaxWords = 256;
}  // namespace

std::string InstanceName(const std::string& programFolder) {
    // FNV-1a over the folder: a short name, valid as a socket file name.
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : programFolder) h = (h ^ c) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return "quillmoor-" + std::to_string(::getuid()) + "-" + hex;
}

struct SingleInstance::Impl {
    std::unique_ptr<QLocalServer> server;
};

SingleInstance::SingleInstance(const std::string& programFolder)
    : impl_(std::make_unique<Impl>()), name_(InstanceName(programFolder)) {}

std::string SingleInstance::SocketPath() const {
    // In this user's private folder: no other user can take the name first, answer in this
    // program's place, or see the socket.
    const std::string folder = PrivateFolder();
    return folder.empty() ? std::string() : folder + "/" + name_;
}

SingleInstance::~SingleInstance() {
    if (impl_->server) impl_->server->close();
}

SingleInstance::Result SingleInstance::Claim(std::string* error, const std::vector<std::string>& words) {
    const std::string path = SocketPath();
    if (path.empty()) {
        if (error) *error = "cannot make a private folder for the single-instance socket";
        return Result::Failed;
    }
    const QString name = QString::fromStdString(path);
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(kConnectWaitMs)) {
            QByteArray request = "show\n";
            for (const std::string& word : words) {
                // A word is one line: line breaks in it would split it.
                if (word.find_first_of("\r\n") != std::string::npos) continue;
                request += "open " + QByteArray::fromStdString(word) + "\n";
            }
            probe.write(request);
            probe.waitForBytesWritten(kConnectWaitMs);
            probe.disconnectFromServer();
            return Result::AnotherRunning;
        }
    }
    // Nobody answers: whatever socket file is left belongs to an instance that has ended.
    QLocalServer::removeServer(name);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name)) {
        if (error) *error = "cannot listen on " + path + ": " + server->errorString().toStdString();
        return Result::Failed;
    }
    QLocalServer* raw = server.get();
    QObject::connect(raw, &QLocalServer::newConnection, raw, [this, raw] {
        while (QLocalSocket* s = raw->nextPendingConnection()) {
            // The request is whole when the sender hangs up; what comes beyond the limit is
            // dropped.
            auto request = std::make_shared<QByteArray>();
            QObject::connect(s, &QLocalSocket::readyRead, s, [s, request] {
                const QByteArray more = s->readAll();
                request->append(more.left(std::max<qint64>(0, kMaxRequest - request->size())));
            });
            QObject::connect(s, &QLocalSocket::disconnected, s, [this, s, request] {
                request->append(s->readAll().left(std::max<qint64>(0, kMaxRequest - request->size())));
                Answer(*request);
                s->deleteLater();
            });
        }
    });
    impl_->server = std::move(server);
    return Result::First;
}

void SingleInstance::Answer(const QByteArray& request) {
    const QList<QByteArray> lines = request.split('\n');
    if (lines.isEmpty() || lines.front().trimmed() != "show") return;
    if (OnShow) OnShow();
    std::vector<std::string> words;
    for (qsizetype i = 1; i < lines.size() && static_cast<int>(words.size()) < kMaxWords; ++i) {
        if (lines[i].startsWith("open ") && lines[i].size() > 5) words.push_back(lines[i].mid(5).toStdString());
    }
    if (!words.empty() && OnWords) OnWords(words);
}

}  // namespace qm::platform
