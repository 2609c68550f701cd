#include "engine/document_type.h"

namespace qm::engine {

namespace {

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

}  // namespace

bool IsStyleSheet(const std::string& contentType, const std::string& url) {
    const std::string type = Lowered(contentType);
    if (type.find("text/css") != std::string::npos) return true;
    if (!type.empty()) return false;
    std::string path = Lowered(url.substr(0, url.find_first_of("?#")));
    return path.size() >= 4 && path.compare(path.size() - 4, 4, ".css") == 0;
}

bool IsDocumentType(const std::string& type) {
    return type.empty() || type.find("x-javascript") != std::string::npos ||
           type.find("text/html") != std::string::npos;
}

}  // namespace qm::engine
