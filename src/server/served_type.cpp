#include "server/served_type.h"

#include "net/http_client.h"
#include "store/description_file.h"

namespace qm::server {

namespace {

bool HasExtension(const std::string& file) {
    const std::size_t dot = file.rfind('.');
    const std::size_t sep = file.find_last_of("/\\");
    return dot != std::string::npos && (sep == std::string::npos || dot > sep);
}

// A type a server once sent may hold anything; only printable text goes into a header.
bool PlainHeaderValue(const std::string& value) {
    if (value.empty()) return false;
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
    return true;
}

}  // namespace

std::string ServedContentType(const std::string& file, const std::string& requestPath) {
    std::string type = net::DownloadConnection::ContentTypeOf(file);
    if (!type.empty()) return type;
    const std::size_t query = requestPath.find('?');
    if (query == std::string::npos && HasExtension(file)) return type;
    if (query != std::string::npos) {
        type = net::DownloadConnection::ContentTypeOf(requestPath.substr(0, query));
        if (!type.empty()) return type;
    }
    const std::size_t sep = file.find_last_of('/');
    if (sep == std::string::npos) return type;
    store::FileDescription recorded;
    if (!store::ReadDescription(file.substr(0, sep), file.substr(sep + 1), recorded)) return type;
    std::string stored = recorded.ContentType;
    while (!stored.empty() && stored.back() == ' ') stored.pop_back();
    return PlainHeaderValue(stored) ? stored : type;
}

}  // namespace qm::server
