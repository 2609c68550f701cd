// Feeds arbitrary bytes to the readers of what servers and files say about crawling: a
// Set-Cookie header, a cookies.txt file and a robots.txt file.
#include <cstdint>
#include <string>

#include "engine/robots_txt.h"
#include "net/cookie_file.h"
#include "net/cookie_jar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    qm::net::CookieJar jar;
    jar.SetFromResponse("https://www.fuzz.test/a/b", "HTTP/1.0 200 OK\r\nSet-Cookie: " + text + "\r\n", 1800000000);
    qm::net::ReadCookiesText(text, jar);
    const std::string header = jar.HeaderFor("https://www.fuzz.test/a/b/c", 1800000000);
    // What goes back to a server stays on its header line.
    if (header.find('\n') != std::string::npos || header.find('\r') != std::string::npos) __builtin_trap();
    if (jar.Cookies().size() > qm::net::CookieJar::kMaxCookies) __builtin_trap();

    const qm::engine::RobotsRules rules = qm::engine::RobotsRules::Parse(text, "Quillmoor/1.0");
    const std::string path = size > 2 ? "/" + text.substr(size / 2) : "/x";
    (void)rules.Allows(path);
    (void)rules.RefusingRule(path);
    if (!rules.Allows("/robots.txt")) __builtin_trap();
    if (rules.Sitemaps().size() > qm::engine::RobotsRules::kMaxSitemaps) __builtin_trap();
    return 0;
}
