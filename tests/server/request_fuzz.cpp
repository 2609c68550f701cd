// Request text from any browser or attacker goes through these readers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/host_check.h"
#include "server/page_text.h"
#include "server/path_mapping.h"
#include "server/referring_site.h"
#include "server/request_head.h"
#include "server/responses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size > 2048 ? 2048 : size);
    const qm::server::RequestLine line = qm::server::ParseRequestLine(text);
    std::int64_t start = 0;
    qm::server::ParseRangeStart(text, start);
    qm::server::DecodePercent(line.path, 2);
    qm::server::HasParentSegment(line.path);
    std::string location;
    qm::server::StubLocation(text, location);
    qm::server::RequestHeadComplete(text);
    const std::size_t headEnd = qm::server::RequestHeadEnd(text);
    if (headEnd != std::string::npos && headEnd > text.size()) __builtin_trap();
    qm::server::AnnouncesBody(text);
    qm::server::AddressedToUs(text, 8080);
    // The stored site a Referer names is a part of that Referer's path.
    qm::server::ServedSettings settings;
    settings.folders.push_back({"Sites", "sites", "/nonexistent/"});
    const std::string site = qm::server::ReferringSite(text, 8080, settings);
    if (!site.empty() && text.find(site) == std::string::npos) __builtin_trap();
    // What a page prints of a request is markup-free and never longer than six times over.
    const std::string shown = qm::server::HtmlText(line.path);
    if (shown.find_first_of("<>\"'") != std::string::npos || shown.size() > 6 * line.path.size()) __builtin_trap();
    if (qm::server::WithoutCredentials(text).size() > text.size()) __builtin_trap();
    return 0;
}
