#pragma once
// Cookie jars on disk: the Netscape "cookies.txt" form (tab-separated, "#HttpOnly_" before
// the domain of an HttpOnly cookie) that a Project's jar is kept in and that browsers'
// export tools write, and Firefox's "cookies.sqlite" for import.
#include <string>

#include "net/cookie_jar.h"

namespace qm::net {

// The largest cookies.txt read; longer files are read up to that size.
inline constexpr std::size_t kMaxCookieFileBytes = 4 * 1024 * 1024;

// The jar as cookies.txt text.
std::string CookiesText(const CookieJar& jar);
// Adds the cookies of a cookies.txt text to the jar; the number added. Damaged lines are
// skipped.
int ReadCookiesText(const std::string& text, CookieJar& jar);

// Adds the cookies of a cookies.txt or a Firefox cookies.sqlite file (told apart by their
// first bytes); the number added, or -1 with error when the file cannot be read.
int ImportCookieFile(const std::string& path, CookieJar& jar, std::string& error);

}  // namespace qm::net
