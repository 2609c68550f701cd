// quillmoor-cli serve: the unattended program. The local web server for reading stored
// sites, the scheduler, the auto-save and single instance; --close and --shutdown end it
// (and power the machine off) once downloading has been idle for a minute, FOLDER/PROJECT
// words start Projects as on the desktop command line. Ctrl-C, SIGTERM or SIGHUP save and
// end it as --close does; a second one ends it at once.
#include <cstdio>

#include "app/core.h"
#include "cli/cli_command.h"
#include "platform/event_loop.h"
#include "platform/power_off.h"
#include "server/web_server.h"

namespace qm::cli {
namespace {

// Nobody is there to answer: nothing is confirmed.
class NoAnswers : public app::Confirmation {
public:
    bool Ask(app::Question, const std::string&, const std::string&) override { return false; }
    void ShowError(const std::string& message, const std::string&) override {
        std::fprintf(stderr, "%s\n", message.c_str());
    }
};

int RunServe(const Invocation& inv) {
    app::CoreSettings settings;
    settings.home = inv.home;
    for (const std::string& a : inv.args) {
        if (a == "--close")
            settings.args.push_back("/close");
        else if (a == "--shutdown")
            settings.args.push_back("/shutdown");
        else if (a.size() > 2 && a.compare(0, 2, "--") == 0)
            return UsageError("serve", "unknown option " + a);
        else
            settings.args.push_back(a);
    }
    settings.closeOnSignals = true;
    settings.message = [](const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    };

    int code = kExitOk;
    {
        app::SystemClock clock;
        NoAnswers answers;
        app::Core program(clock, answers);
        program.PowerOff = [](std::string& error) { return platform::RequestSystemPowerOff(error); };
        program.OnClosed = [] { platform::Quit(0); };
        program.OnShow = [] {
            std::fprintf(stderr, "Another start for this program folder asked this one to show itself\n");
        };
        std::string error;
        switch (program.Start(settings, error)) {
        case app::Core::StartResult::AnotherInstance:
            std::fprintf(stderr,
                         "quillmoor-cli serve: the program already runs for this program folder; "
                         "it was asked to show itself\n");
            return kExitOk;
        case app::Core::StartResult::Failed:
            std::fprintf(stderr, "quillmoor-cli serve: %s\n", error.c_str());
            return kExitFailure;
        case app::Core::StartResult::Started: break;
        }
        for (const std::string& w : program.Warnings()) std::fprintf(stderr, "%s\n", w.c_str());

        if (!platform::RunUntil([&program] { return ServerRunning() || program.Closing(); }, 10000) ||
            !ServerRunning() || program.Closing()) {
            if (!program.Closing()) {
                std::fprintf(stderr, "quillmoor-cli serve: no port could be opened on 127.0.0.1\n");
                code = kExitFailure;
            }
            program.Close();
        } else {
            std::printf("Serving stored sites at http://127.0.0.1:%d/\n", ServerPort());
            std::fflush(stdout);
            std::size_t shown = program.Warnings().size();
            platform::Timer watch([&program, &shown] {
                for (; shown < program.Warnings().size(); ++shown)
                    std::fprintf(stderr, "%s\n", program.Warnings()[shown].c_str());
            });
            watch.Start(100);
            if (!program.Closed()) platform::RunLoop();
            watch.Stop();
            for (; shown < program.Warnings().size(); ++shown)
                std::fprintf(stderr, "%s\n", program.Warnings()[shown].c_str());
        }
        if (!program.SaveError().empty()) {
            std::fprintf(stderr, "quillmoor-cli serve: %s\n", program.SaveError().c_str());
            code = kExitFailure;
        }
    }
    return code;
}

}  // namespace
QM_CLI_COMMAND("serve", "[--close|--shutdown] [FOLDER/PROJECT ...]",
               "run unattended: serve the stored sites at http://127.0.0.1:PORT/, start scheduled Projects, "
               "auto-save; --close/--shutdown end it after a minute without downloads",
               RunServe);
}  // namespace qm::cli
