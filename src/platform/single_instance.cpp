// Single instance over a QLocalServer.
#include "platform/single_instance.h"

#include <unistd.h>

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>

#include "platform/private_folder.h"

namespace qm::platform {

namespace {
constexpr int kConnectWaitMs = 1000;
constexpr qint64 kMaxRequest = 64;
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

SingleInstance::Result SingleInstance::Claim(std::string* error) {
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
            probe.write("show\n");
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
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QLocalSocket::readyRead, s, [this, s] {
                const QByteArray line = s->read(kMaxRequest).trimmed();
                if (line == "show" && OnShow) OnShow();
                s->disconnectFromServer();
            });
        }
    });
    impl_->server = std::move(server);
    return Result::First;
}

}  // namespace qm::platform
