// Connection settings from the program options, and credentials written in an address.
#include "engine/connection_setup.h"

#include "net/http_client.h"
#include "net/sockets.h"
#include "store/options.h"

namespace qm::engine {

void ApplySharedConnectionOptions(const store::ProgramOptions& options) {
    net::DownloadConnection::UserAgent = options.UAgent;
    net::DownloadConnection::AcceptUntrusted = options.SSLAnyCert;
    net::DownloadConnection::ProxyUser = options.HTTPUser;
    net::DownloadConnection::ProxyPassword = options.HTTPPass;
}

void ApplyConnectionOptions(net::DownloadConnection& connection, const store::ProgramOptions& options) {
    connection.ProxyType = net::ProxyKindOf(options.ProxyType);
    connection.ProxyHost = options.ProxyAddr;
    connection.ProxyPort = options.ProxyPort;
    connection.TimeOut = options.TimeOut;
    connection.FtpPassive = options.FtpPassive;
}

namespace {
std::string DecodeEscapes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int byte =
            text[i] == '%' && i + 2 < text.size() ? net::HexByte(std::string_view(text).substr(i + 1, 2)) : 0;
        if (byte != 0) {
            out += static_cast<char>(byte);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}
}  // namespace

void SplitUserPassword(const std::string& text, std::string& user, std::string& password, bool decodeEscapes) {
    const std::size_t colon = text.find(':');
    user = text.substr(0, colon);
    password = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    if (decodeEscapes) {
        user = DecodeEscapes(user);
        password = DecodeEscapes(password);
    }
}

std::string WithoutCredentials(const std::string& url, std::string& user, std::string& password) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const std::size_t hostStart = scheme + 3;
    std::size_t pathStart = url.find('/', hostStart);
    if (pathStart == std::string::npos) pathStart = url.size();
    const std::size_t at = url.rfind('@', pathStart);
    if (at == std::string::npos || at < hostStart) return url;
    SplitUserPassword(url.substr(hostStart, at - hostStart), user, password, true);
    return url.substr(0, hostStart) + url.substr(at + 1);
}

}  // namespace qm::engine
