#pragma once
// Asking the system for an ordinary power-off ("systemctl poweroff"), after the program has
// saved and closed. Never forced. Refused inside the test harness (QM_BINARY_DIR set), so no
// test run can ever switch the machine off.
#include <string>

namespace qm::platform {

// Starts the power-off command and returns at once; false with error when it could not be
// started or was refused.
bool RequestSystemPowerOff(std::string& error);

}  // namespace qm::platform
