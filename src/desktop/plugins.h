#pragma once
// Plug-ins: the shared libraries in the "plug-ins" folder of the program folder, loaded once
// at start-up in the order of their names and told to finish when the program closes. Each
// gets the program (QMPApplication), the download queue manager (QMPQueueManager) and a copy
// of the options (see include/quillmoor/plugin.h).
//
// Plug-ins are code run with the user's rights: they are taken only from the program folder
// by absolute path, never from the current folder, and a library (or a plug-ins folder) that
// other users may write to is skipped with a log line.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm::engine {
class QueueManager;
}  // namespace qm::engine
namespace qm::store {
struct ProgramOptions;
}  // namespace qm::store

namespace qm::desktop {

class Plugins {
public:
    Plugins();
    ~Plugins();  // Finish (when not done yet), then releases every library
    Plugins(const Plugins&) = delete;
    Plugins& operator=(const Plugins&) = delete;

    // Where log lines go (skipped libraries, a library that failed, what plug-ins write).
    std::function<void(const std::string& line)> OnLog;

    // Loads programFolder + "/plug-ins/*.so" in name order and calls each QMPInit; stops at
    // the first library that cannot be loaded. Returns the number loaded.
    int Load(const std::string& programFolder, engine::QueueManager& queue, const store::ProgramOptions& options);
    // Calls QMPDone of every loaded library, first to last; once.
    void Finish();

    // The file names loaded, in order.
    const std::vector<std::string>& Loaded() const { return names_; }

    struct Host;  // internal

private:
    std::unique_ptr<Host> host_;
    std::vector<void*> handles_;
    std::vector<std::string> names_;
    bool finished_ = false;
};

}  // namespace qm::desktop
