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

std::vector<store::Project*> MatchCommandWord(const store::ProjectTree& tree, const std::string& word,
                                              std::string* why) {
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    const std::size_t slash = word.rfind('/');
    if (slash == std::string::npos) {
        reason = "'" + word + "' names no Project (FOLDER/PROJECT, FOLDER/INDEX or FOLDER/all)";
        return {};
    }
    const std::string folderName = word.substr(0, slash), part = word.substr(slash + 1);
    store::ProjectFolder* folder = FindFolderArg(tree, folderName);
    if (!folder) {
        reason = "no folder '" + folderName + "'";
        return {};
    }
    std::vector<store::Project*> projects = FindProjectsArg(*folder, part);
    if (projects.empty()) reason = "no Project '" + part + "' in folder '" + folder->Caption + "'";
    return projects;
}

}  // namespace qm::app
