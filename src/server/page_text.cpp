#include "server/page_text.h"

namespace qm::server {

std::string HtmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c; break;
        }
    }
    return out;
}

std::string WithoutCredentials(std::string_view address) {
    const std::size_t scheme = address.find("://");
    const std::size_t hostStart = scheme == std::string_view::npos ? 0 : scheme + 3;
    // The host part ends at the first "/", "\", "?" or "#"; the last "@" inside it ends the
    // credentials, which may themselves hold an unescaped "@".
    std::size_t hostEnd = address.find_first_of("/\\?#", hostStart);
    if (hostEnd == std::string_view::npos) hostEnd = address.size();
    const std::size_t at = address.substr(hostStart, hostEnd - hostStart).rfind('@');
    if (at == std::string_view::npos) return std::string(address);
    std::string out(address.substr(0, hostStart));
    out += address.substr(hostStart + at + 1);
    return out;
}

std::string CaptionText(std::string_view caption) {
    if (caption.find("://") == std::string_view::npos) return HtmlText(caption);
    return HtmlText(WithoutCredentials(caption));
}

}  // namespace qm::server
