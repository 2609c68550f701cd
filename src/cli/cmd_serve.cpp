// quillmoor-cli serve: the local web server on its own, for reading stored sites in a browser
// on this machine until Ctrl-C or SIGTERM.
#include <csignal>
#include <cstdio>

#include "app/session.h"
#include "cli/cli_command.h"
#include "platform/event_loop.h"
#include "server/web_server.h"

namespace qm::cli {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void OnStopSignal(int) { g_stopRequested = 1; }

int RunServe(const Invocation& inv) {
    if (!inv.args.empty()) return UsageError("serve", "no arguments expected");
    app::Session session;
    std::string error;
    if (!session.Open(inv.home, error)) {
        std::fprintf(stderr, "quillmoor-cli serve: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!session.Warnings().empty()) std::fprintf(stderr, "%s\n", session.Warnings().c_str());

    platform::InitEventLoop();
    struct sigaction sa {}, oldInt{}, oldTerm{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt);
    ::sigaction(SIGTERM, &sa, &oldTerm);

    SetServedTree(&session.Tree());
    StartServer();
    if (!platform::RunUntil([] { return ServerRunning() || g_stopRequested; }, 10000) || !ServerRunning()) {
        StopServer();
        SetServedTree(nullptr);
        if (g_stopRequested) return kExitOk;
        std::fprintf(stderr, "quillmoor-cli serve: no port could be opened on 127.0.0.1\n");
        return kExitFailure;
    }
    std::printf("Serving stored sites at http://127.0.0.1:%d/\n", ServerPort());
    std::fflush(stdout);

    platform::Timer watch([] {
        if (g_stopRequested) platform::Quit(0);
    });
    watch.Start(100);
    platform::RunLoop();
    watch.Stop();

    StopServer();
    SetServedTree(nullptr);
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("serve", "", "serve the stored sites to browsers on this machine at http://127.0.0.1:PORT/",
               RunServe);
}  // namespace qm::cli
