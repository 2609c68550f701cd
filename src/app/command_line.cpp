// Reading the program's command line.
#include "app/command_line.h"

#include "app/project_lookup.h"
#include "store/string_list.h"

namespace qm::app {

CommandLine ReadCommandLine(const std::vector<std::string>& args) {
    CommandLine c;
    for (const std::string& a : args) {
        const std::string lower = store::LowerCase(a);
        if (lower == "/close")
            c.closeWhenIdle = true;
        else if (lower == "/shutdown")
            c.shutdownWhenIdle = true;
        else
            c.projectWords.push_back(a);
    }
    return c;
}

std::vector<store::Project*> MatchCommandWord(const store::ProjectTree& tree, const std::string& word) {
    const std::size_t slash = word.rfind('/');
    if (slash == std::string::npos) return {};
    store::ProjectFolder* folder = FindFolderArg(tree, word.substr(0, slash));
    if (!folder) return {};
    return FindProjectsArg(*folder, word.substr(slash + 1));
}

}  // namespace qm::app
