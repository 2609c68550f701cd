// quillmoor-cli language-template FILE: the language file template for translators: every
// window's texts as the desktop program writes them, with the program folder's "qm.int"
// applied, and the message list.
#include <cstdio>

#include "desktop/language_file.h"
#include "app/core.h"
#include "cli/cli_command.h"
#include "platform/program_folder.h"

namespace qm::cli {
namespace {

// The English template the desktop program wrote (lang/qm.int.en), built in.
const char* const kWindowTemplate =
#include "language_template.inc"
    ;

int RunLanguageTemplate(const Invocation& inv) {
    if (inv.args.size() != 1 || inv.args[0].empty()) return UsageError("language-template", "FILE is needed");
    app::Core core;
    if (!OpenCore("language-template", core, inv, app::Session::Access::Read)) return kExitFailure;
    desktop::LanguageFile language;
    std::string error;
    if (language.Load(platform::ProgramFile(desktop::kLanguageFileName), error)) {
        language.Apply({});
    } else if (!error.empty()) {
        std::fprintf(stderr, "quillmoor-cli language-template: %s\n", error.c_str());
    }
    const std::string text = desktop::TranslatedTemplateText(kWindowTemplate, language, desktop::CurrentMessages());
    if (!desktop::WriteLanguageText(inv.args[0], text, error)) {
        std::fprintf(stderr, "quillmoor-cli language-template: %s\n", error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace
QM_CLI_COMMAND("language-template", "FILE", "write the language file template (the program folder's qm.int applied)",
               RunLanguageTemplate);
}  // namespace qm::cli
