#pragma once
// The program's start-up and saving as both front ends do it: the program folder, the
// registry, the options, the Defaults Project and the Project tree store.
#include <memory>
#include <string>
#include <vector>

#include "store/project.h"
#include "store/project_tree.h"

namespace qm::platform {
class Registry;
}  // namespace qm::platform

namespace qm::app {

class Session {
public:
    Session();
    ~Session();
    // Program folder: home, else $QUILLMOOR_HOME, else ~/.local/share/quillmoor (created when
    // missing). Loads registry.reg, the options (Options()), the Defaults Project and
    // Orrinal.dat. False with a message when the program cannot start; a damaged file is
    // reported in warnings, kept aside, and does not stop start-up.
    // loadTree false leaves the tree empty until LoadTree (the program loads it after the
    // local web server has started).
    //
    // A session that saves holds the program folder's writer lock (platform/folder_lock.h)
    // from before it reads until it ends: Change for a command that saves at once (it waits a
    // moment for another such command), Run for one that runs on (the window, serve, a
    // download). When another program holds the lock, Open fails with a message naming it.
    // Read takes no lock and cannot Save; it works alongside a running program.
    enum class Access { Change, Run, Read };
    bool Open(const std::string& home, std::string& error, bool loadTree = true, Access access = Access::Change);
    void LoadTree();
    const std::string& Warnings() const;

    // Saves the Project tree store, the options and the Defaults Project (and the site maps
    // that changed). False with a message when a file could not be written, or when the
    // session was opened to read only.
    bool Save(std::string& error);

    // The options as the program starts with them: reset, the program's user agent, then
    // the values of the registry's options key with every conversion and repair of loading
    // (which may write repaired values back into the key). Problems go to warnings.
    void LoadProgramOptions(std::vector<std::string>* warnings = nullptr);

    const std::string& ProgramFolder() const;
    store::ProjectTree& Tree();
    store::Project& Defaults();
    platform::Registry& Registry();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qm::app
