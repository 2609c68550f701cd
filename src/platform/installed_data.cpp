#include "platform/installed_data.h"

#include <cstdlib>

#include <QStandardPaths>
#include <QString>

namespace qm::platform {

std::string FindInstalledData(const std::string& relative) {
    if (relative.empty()) return {};
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QString::fromStdString(relative)).toStdString();
}

std::string UserLanguageCode() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string code;
        for (const char* c = value; *c && *c != '_' && *c != '.' && *c != '@' && *c != '-'; ++c) {
            if (*c < 'A' || (*c > 'Z' && *c < 'a') || *c > 'z') return {};  // not a language code
            code += static_cast<char>(*c | 0x20);
        }
        if (code == "c" || code == "posix" || code.size() < 2 || code.size() > 3) return {};
        return code;
    }
    return {};
}

}  // namespace qm::platform
