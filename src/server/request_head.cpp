#include "server/request_head.h"

#include "store/string_list.h"

namespace qm::server {

bool RequestHeadComplete(std::string_view received) {
    if (received.size() >= kRequestLimit) return true;
    // The method is the text before the first blank and only "get" (any case) is served.
    static constexpr std::string_view kGet = "get ";
    for (std::size_t i = 0; i < received.size() && i < kGet.size(); ++i) {
        char c = received[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kGet[i]) return true;
    }
    return RequestHeadEnd(received) != std::string_view::npos;
}

std::size_t RequestHeadEnd(std::string_view received) {
    // An empty line after a line end, with or without CR.
    for (std::size_t at = received.find('\n'); at != std::string_view::npos; at = received.find('\n', at + 1)) {
        if (at + 1 < received.size() && received[at + 1] == '\n') return at + 2;
        if (at + 2 < received.size() && received[at + 1] == '\r' && received[at + 2] == '\n') return at + 3;
    }
    return std::string_view::npos;
}

std::vector<std::string_view> HeaderValues(std::string_view request, std::string_view lowerName) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const std::size_t headEnd = RequestHeadEnd(request);
    const std::string_view head = headEnd == std::string_view::npos ? request : request.substr(0, headEnd);
    std::vector<std::string_view> values;
    // Every line after the request line.
    for (std::size_t at = head.find('\n'); at != std::string_view::npos; at = head.find('\n', at + 1)) {
        std::string_view line = head.substr(at + 1);
        line = line.substr(0, line.find('\n'));
        if (store::CompareNoCase(line.substr(0, lowerName.size()), lowerName) != 0) continue;
        std::string_view value = line.substr(lowerName.size());
        while (!value.empty() && blank(value.front())) value.remove_prefix(1);
        while (!value.empty() && (blank(value.back()) || value.back() == '\r')) value.remove_suffix(1);
        values.push_back(value);
    }
    return values;
}

bool AnnouncesBody(std::string_view head) {
    static constexpr std::string_view kNames[] = {"content-length:", "transfer-encoding:"};
    for (std::size_t at = head.find('\n'); at != std::string_view::npos; at = head.find('\n', at + 1)) {
        const std::string_view line = head.substr(at + 1);
        for (std::string_view name : kNames)
            if (store::CompareNoCase(line.substr(0, name.size()), name) == 0) return true;
    }
    return false;
}

}  // namespace qm::server
