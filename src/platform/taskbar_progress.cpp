// The launcher entry signal over D-Bus.
#include "platform/taskbar_progress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace qm::platform {

namespace {
class LauncherEntry : public TaskbarProgress {
public:
    explicit LauncherEntry(const std::string& desktopFile)
        : uri_(QStringLiteral("application://") + QString::fromStdString(desktopFile)) {}

    void Show(int permille) override {
        if (permille > 1000) permille = 1000;
        if (permille < 0) permille = -1;
        if (permille == shown_) return;
        shown_ = permille;
        // Looked up on each change: a session bus that appears later is used then.
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QDBusMessage signal =
            QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/quillmoor"),
                                       QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
        QVariantMap properties;
        properties.insert(QStringLiteral("progress"), permille < 0 ? 0.0 : permille / 1000.0);
        properties.insert(QStringLiteral("progress-visible"), permille >= 0);
        signal << uri_ << properties;
        bus.send(signal);
    }

private:
    QString uri_;
    int shown_ = -1;
};
}  // namespace

std::unique_ptr<TaskbarProgress> MakeLauncherEntryProgress(const std::string& desktopFile) {
    return std::make_unique<LauncherEntry>(desktopFile);
}

}  // namespace qm::platform
