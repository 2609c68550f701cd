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

// The type by a name's extension: the download connection's table, and the few kinds a browser
// uses only when named as such (script modules, JSON modules, WebAssembly).
std::string TypeOfName(const std::string& name) {
    std::string type = net::DownloadConnection::ContentTypeOf(name);
    if (!type.empty() || !HasExtension(name)) return type;
    std::string ext = name.substr(name.rfind('.'));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == ".mjs") return "text/javascript";
    if (ext == ".json") return "application/json";
    if (ext == ".wasm") return "application/wasm";
    return type;
}

}  // namespace

std::string ServedContentType(const std::string& file, const std::string& requestPath) {
    std::string type = TypeOfName(file);
    if (!type.empty()) return type;
    const std::size_t query = requestPath.find('?');
    if (query == std::string::npos && HasExtension(file)) return type;
    if (query != std::string::npos) {
        type = TypeOfName(requestPath.substr(0, query));
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
