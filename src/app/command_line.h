#pragma once
// The program's command line: "/close", "/shutdown" and FOLDER/PROJECT words, where PROJECT
// is a caption, a decimal index (0 = first) or "all", captions compared without regard to
// case. A word without "/" (a bare number too) names nothing.
#include <string>
#include <vector>

#include "store/project_tree.h"

namespace qm::app {

struct CommandLine {
    bool closeWhenIdle = false;             // "/close"
    bool shutdownWhenIdle = false;          // "/shutdown"
    std::vector<std::string> projectWords;  // the other words, in order
};
CommandLine ReadCommandLine(const std::vector<std::string>& args);

// The Projects one word starts, in order: the first root folder whose caption matches the
// text before the last "/", then "all", an index or the first matching caption. When it names
// nothing and why is given, *why says which part matched nothing.
std::vector<store::Project*> MatchCommandWord(const store::ProjectTree& tree, const std::string& word,
                                              std::string* why = nullptr);

}  // namespace qm::app
