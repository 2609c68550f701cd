// quillmoor-cli browse: opens a Project's stored site with the default browser, or prints
// the address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "app/project_lookup.h"
#include "app/core.h"
#include "app/tree_commands.h"
#include "cli/cli_command.h"
#include "platform/launch.h"
#include "store/options.h"

namespace qm::cli {
namespace {

// Whether something (a running quillmoor serve or desktop program) listens on 127.0.0.1:port.
bool Listening(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        ok = ::poll(&p, 1, 300) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
    ::close(fd);
    return ok;
}

int RunBrowse(const Invocation& inv) {
    bool print = false;
    std::vector<std::string> words;
    for (const auto& a : inv.args) {
        if (a == "--print")
            print = true;
        else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
            return UsageError("browse", "unknown option " + a);
        else
            words.push_back(a);
    }
    if (words.size() != 1) return UsageError("browse", "name one Project as FOLDER/PROJECT");
    app::Core core;
    app::Session& session = core.GetSession();
    std::string error;
    if (!core.Open(inv.home, error, true, app::Session::Access::Read)) {
        std::fprintf(stderr, "quillmoor-cli browse: %s\n", error.c_str());
        return kExitFailure;
    }
    store::Project* project = app::FindProjectPath(session.Tree(), words[0], error);
    if (!project) {
        std::fprintf(stderr, "quillmoor-cli browse: %s\n", error.c_str());
        return kExitFailure;
    }
    const int port = store::Options().HTTPPort == 0 ? 800 : store::Options().HTTPPort;
    const bool serverRunning = store::Options().HTTPStart && Listening(port);
    const std::string address = app::BrowseAddress(*project, serverRunning, port);
    if (address.empty()) {
        std::fprintf(stderr, "quillmoor-cli browse: the Project has no address to browse\n");
        return kExitFailure;
    }
    if (print) {
        std::printf("%s\n", address.c_str());
        return kExitOk;
    }
    if (!platform::OpenWithDefaultBrowser(address, error)) {
        std::fprintf(stderr, "quillmoor-cli browse: %s: %s\n", error.c_str(), address.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("browse", "FOLDER/PROJECT [--print]",
               "open a Project's stored site with the default browser (--print: print the address)", RunBrowse);
}  // namespace qm::cli
