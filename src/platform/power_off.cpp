// The system power-off request.
#include "platform/power_off.h"

#include <cstdlib>

#include <QProcess>
#include <QStringList>

namespace qm::platform {

bool RequestSystemPowerOff(std::string& error) {
    if (std::getenv("QM_BINARY_DIR") != nullptr) {
        error = "power-off refused inside the test harness";
        return false;
    }
    if (!QProcess::startDetached(QStringLiteral("systemctl"), QStringList{QStringLiteral("poweroff")})) {
        error = "could not run systemctl poweroff";
        return false;
    }
    return true;
}

}  // namespace qm::platform
