// quillmoor-cli fetch: one transfer over one connection set from the program options, for
// trying out proxy settings and servers. The body goes to a file or standard output, the
// connection's messages to standard error as the log shows them.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>

#include "app/core.h"
#include "cli/cli_command.h"
#include "engine/connection_setup.h"
#include "net/http_client.h"
#include "net/sockets.h"
#include "platform/event_loop.h"
#include "store/options.h"

namespace qm::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) { g_interrupted = 1; }

int RunFetch(const Invocation& inv) {
    std::string url, outFile;
    bool verbose = false, haveOut = false;
    for (std::size_t i = 0; i < inv.args.size(); ++i) {
        const std::string& a = inv.args[i];
        if (a == "-o" || a == "--output") {
            if (i + 1 >= inv.args.size()) return UsageError("fetch", "-o needs a file name");
            outFile = inv.args[++i];
            haveOut = true;
        } else if (a == "--verbose" || a == "-v") {
            verbose = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return UsageError("fetch", "unknown option '" + a + "'");
        } else if (url.empty()) {
            url = a;
        } else {
            return UsageError("fetch", "only one URL, got '" + a + "' as well");
        }
    }
    if (url.empty()) return UsageError("fetch", "no URL given");
    if (haveOut && outFile.empty()) return UsageError("fetch", "-o needs a file name");

    app::Core core;

    std::string error;
    if (!core.Open(inv.home, error, true, app::Session::Access::Read)) {
        std::fprintf(stderr, "quillmoor-cli fetch: %s\n", error.c_str());
        return kExitFailure;
    }

    // The body is written under a temporary name and moved into place when complete.
    std::FILE* out = stdout;
    std::string partFile;
    // Devices and pipes (such as /dev/null) are written directly.
    std::error_code typeError;
    bool special =
        haveOut && std::filesystem::exists(outFile, typeError) && !std::filesystem::is_regular_file(outFile, typeError);
    if (haveOut && special) {
        out = std::fopen(outFile.c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "quillmoor-cli fetch: cannot write %s: %s\n", outFile.c_str(), std::strerror(errno));
            return kExitFailure;
        }
    } else if (haveOut && outFile != "-") {
        partFile = outFile + ".qmpart";
        out = std::fopen(partFile.c_str(), "wb");
        if (!out) {
            std::fprintf(stderr, "quillmoor-cli fetch: cannot write %s: %s\n", partFile.c_str(), std::strerror(errno));
            return kExitFailure;
        }
    }
    static char outBuffer[1 << 16];
    std::setvbuf(out, outBuffer, _IOFBF, sizeof outBuffer);

    platform::InitEventLoop();
    net::NetStartup();
    engine::ApplySharedConnectionOptions(store::Options());
    auto client = std::make_unique<net::DownloadConnection>();
    engine::ApplyConnectionOptions(*client, store::Options());

    bool done = false, writeFailed = false;
    net::DoneCode doneCode = net::DoneCode::Failed;
    // Progress lines come with every block; they are buffered, and every other line
    // flushes them out with it.
    static char errBuffer[1 << 16];
    std::setvbuf(stderr, errBuffer, _IOFBF, sizeof errBuffer);
    client->OnStatus = [verbose](net::DownloadConnection& c, const std::string& text, net::StatusKind kind) {
        if (kind == net::StatusKind::ProtocolText && !verbose) return;
        std::fprintf(stderr, "HTTP%d: %s\n", c.Index, text.c_str());
        if (kind != net::StatusKind::Progress) std::fflush(stderr);
    };
    client->OnData = [out, &writeFailed](net::DownloadConnection& c, const char* data, std::size_t count) {
        if (std::fwrite(data, 1, count, out) != count && !writeFailed) {
            writeFailed = true;
            c.Abort();
        }
    };
    client->OnDone = [&](net::DownloadConnection&, net::DoneCode code) {
        done = true;
        doneCode = code;
    };
    std::string user, password;
    client->SetURL(engine::WithoutCredentials(url, user, password));
    client->UserName = user;
    client->Password = password;
    // Ctrl-C aborts the transfer, which then ends as any abort does.
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    platform::Timer watchInterrupt([&client] {
        if (g_interrupted && client->Busy) client->Abort();
    });
    watchInterrupt.Start(200);
    bool started = client->Start(false);
    if (started) platform::RunUntil([&] { return done; }, std::numeric_limits<int>::max());
    watchInterrupt.Stop();

    bool flushed = std::fflush(out) == 0 && !writeFailed;
    if (out != stdout) std::fclose(out);
    // An answer without a length that ends with the server closing is whole, as the download
    // engine counts it.
    const bool complete = started && done && client->EndedWhole(doneCode);
    std::fprintf(stderr, "status=%d complete=%s code=%d bytes=%lld\n", client->StatusCode, complete ? "yes" : "no",
                 done ? static_cast<int>(doneCode) : -1, static_cast<long long>(client->Received));
    bool ok = complete && client->StatusCode > 0 && client->StatusCode < 400 && flushed;
    if (!partFile.empty()) {
        std::error_code ec;
        if (ok) {
            std::filesystem::rename(partFile, outFile, ec);
            if (ec) {
                std::fprintf(stderr, "quillmoor-cli fetch: cannot move %s into place: %s\n", partFile.c_str(),
                             ec.message().c_str());
                ok = false;
            }
        }
        if (!ok) std::filesystem::remove(partFile, ec);
    }
    if (writeFailed) std::fprintf(stderr, "quillmoor-cli fetch: cannot write the body: %s\n", std::strerror(errno));
    std::fflush(stderr);
    client.reset();
    net::NetShutdown();
    if (g_interrupted) return kExitInterrupted;
    return ok ? kExitOk : kExitFailure;
}

}  // namespace

QM_CLI_COMMAND("fetch", "URL [-o FILE] [--verbose]", "fetch one address with the program's connection settings",
               RunFetch);

}  // namespace qm::cli
