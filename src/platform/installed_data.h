#pragma once
// Files installed with the program for every user (translations under
// /usr/share/quillmoor/), and the language the user asked the desktop for.
#include <string>

namespace qm::platform {

// The first of the data folders ($XDG_DATA_HOME, then $XDG_DATA_DIRS, else /usr/local/share
// and /usr/share) that holds relative ("quillmoor/lang/qm.int.de"); empty when none does.
std::string FindInstalledData(const std::string& relative);
// The user's language as a lower-case code ("de" of "de_DE.UTF-8"), from LC_ALL, else
// LC_MESSAGES, else LANG; empty for the C or POSIX locale or when none is set.
std::string UserLanguageCode();

}  // namespace qm::platform
