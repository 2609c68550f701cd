#pragma once
// The cookie jar of each Project, kept as "<IID>.cookies" (cookies.txt form) beside its site
// map in the program folder, loaded on first use and written when it changed. Main thread only.
#include <cstdint>
#include <string>

#include "net/cookie_jar.h"

namespace qm::engine {

std::string CookieFileName(int projectId);
net::CookieJar& ProjectCookies(int projectId);
// Writes the jar when it changed since it was loaded or last written; false with error when
// it cannot be written.
bool SaveProjectCookies(int projectId, std::string& error);
void SaveAllProjectCookies();
// Forgets the jar in memory (the next use reads the file again); with removeFile also deletes
// the file (the Project was deleted, or its cookies cleared).
void ForgetProjectCookies(int projectId, bool removeFile);
// Seconds since 1970, the clock of cookie expiry.
std::int64_t CookieClock();

}  // namespace qm::engine
