// Launching the default browser.
#include "platform/launch.h"

#include <QProcess>
#include <QStringList>

namespace qm::platform {

bool OpenWithDefaultBrowser(const std::string& address, std::string& error) {
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{QString::fromStdString(address)})) {
        error = "could not run xdg-open";
        return false;
    }
    return true;
}

}  // namespace qm::platform
