// Feeds arbitrary bytes to a connection as a server's answer, cut into pieces of varying
// size, and checks that the transaction ends exactly once with a valid code.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/header_fields.h"
#include "net/http_client.h"
#include "net/sockets.h"
#include "platform/event_loop.h"

namespace {

int g_listener = -1;
int g_port = 0;

void Setup() {
    qm::platform::InitEventLoop();
    qm::net::NetStartup();
    g_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(g_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(g_listener, 16);
    g_port = qm::net::BoundPort(g_listener);
    qm::net::SetNonBlocking(g_listener);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_listener < 0) Setup();
    if (size < 2) return 0;
    std::size_t piece = 1 + data[0] % 64 * 64;  // 1 .. 4033 bytes per write
    int sizeLimit = data[1] % 4;                // 0 (none) .. 3 KB
    const char* body = reinterpret_cast<const char*>(data + 2);
    std::size_t length = size - 2;
    // The header readers on their own, whatever the bytes.
    const std::string_view whole(body, length);
    if (auto field = qm::net::HeaderField(whole, "content-length:"); field && field->size() > length) std::abort();
    if (auto start = qm::net::ContentRangeStart(whole); start && *start < 0) std::abort();

    qm::net::DownloadConnection client;
    int dones = 0, code = -1;
    client.TimeOut = 2000;
    client.SizeLimit = sizeLimit;
    client.ResumeFrom = data[1] & 4 ? 3 : 0;  // a range asked for: the answer's part is checked
    client.OnDone = [&](qm::net::DownloadConnection&, qm::net::DoneCode c) {
        ++dones;
        code = static_cast<int>(c);
    };
    client.OnData = [](qm::net::DownloadConnection&, const char* d, std::size_t n) {
        volatile char sink = n ? d[n - 1] : 0;
        (void)sink;
    };
    client.SetURL("http://127.0.0.1:" + std::to_string(g_port) + "/");
    if (!client.Start(false)) return 0;
    int peer = -1;
    qm::platform::RunUntil(
        [&] {
            peer = accept4(g_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            return peer >= 0 || dones > 0;
        },
        2000);
    if (peer >= 0) {
        std::size_t sent = 0;
        while (sent < length && dones == 0) {
            std::size_t n = length - sent < piece ? length - sent : piece;
            ssize_t w = send(peer, body + sent, n, MSG_NOSIGNAL);
            if (w > 0)
                sent += static_cast<std::size_t>(w);
            else if (w < 0 && errno != EAGAIN)
                break;
            qm::platform::RunUntil([] { return false; }, 0);
        }
        close(peer);
    }
    qm::platform::RunUntil([&] { return dones > 0; }, 5000);
    qm::platform::RunUntil([] { return false; }, 0);
    if (dones != 1 || code < 0 || code > 5 || client.Busy) std::abort();
    return 0;
}
