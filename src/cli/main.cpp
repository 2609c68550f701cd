// quillmoor-cli: the program without windows, for terminals, servers and cron.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/version.h"
#include "cli/cli_command.h"
#include "platform/folder_lock.h"

namespace qm::cli {

namespace {
std::vector<Command>& Table() {
    static std::vector<Command> table;
    return table;
}

void PrintUsage(std::FILE* out) {
    std::fprintf(
        out,
        "usage: quillmoor-cli [--home DIR] COMMAND [ARGS...]\n       quillmoor-cli --version | --help\n\ncommands:\n");
    for (const Command& c : Commands()) std::fprintf(out, "  %-8s %s\n           %s\n", c.name, c.usage, c.summary);
}
}  // namespace

bool RegisterCommand(const Command& command) {
    Table().push_back(command);
    return true;
}

const std::vector<Command>& Commands() { return Table(); }

int UsageError(const char* name, const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "quillmoor-cli %s: %s\n", name, problem.c_str());
    for (const Command& c : Commands())
        if (std::strcmp(c.name, name) == 0)
            std::fprintf(stderr, "usage: quillmoor-cli [--home DIR] %s %s\n", c.name, c.usage);
    return kExitUsage;
}

}  // namespace qm::cli

int main(int argc, char** argv) {
    using namespace qm::cli;
    Invocation inv;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--home") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillmoor-cli: --home needs a folder\n");
                return kExitUsage;
            }
            inv.home = argv[++i];
        } else if (a.rfind("--home=", 0) == 0) {
            inv.home = a.substr(7);
        } else if (a == "--version") {
            std::printf("quillmoor-cli %s\n", qm::app::kVersion);
            return kExitOk;
        } else if (a == "-h" || a == "--help" || a == "help") {
            PrintUsage(stdout);
            return kExitOk;
        } else {
            break;
        }
    }
    if (i >= argc) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    std::string name = argv[i++];
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--home" && i + 1 < argc)
            inv.home = argv[++i];  // also accepted after the command
        else
            inv.args.push_back(a);
    }
    for (const Command& c : Commands())
        if (name == c.name) {
            // Named so in the message of a program this one keeps from saving meanwhile.
            qm::platform::SetLockHolderName("quillmoor-cli " + name);
            return c.run(inv);
        }
    std::fprintf(stderr, "quillmoor-cli: unknown command '%s'\n", name.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}
