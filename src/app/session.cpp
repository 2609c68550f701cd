#include "app/session.h"

#include <vector>

#include "platform/folder_lock.h"
#include "platform/program_folder.h"
#include "platform/registry.h"
#include "store/defaults_project.h"
#include "store/options.h"
#include "store/options_store.h"
#include "store/tree_store.h"

namespace qm::app {

namespace {
// How long a command that saves waits for another one that saves at once.
constexpr int kWaitForBriefWriterMs = 10000;
}  // namespace

struct Session::Impl {
    std::string folder;
    std::string warnings;
    platform::Registry registry;
    store::ProjectTree tree;
    bool registryBlocked = false;  // a damaged registry.reg could not be kept aside
    bool treeBlocked = false;      // a damaged store could not be kept aside
    bool readOnly = false;
    platform::FolderLock lock;  // held while the session may save

    std::string RegistryFile() const { return folder + "/registry.reg"; }
    void Warn(const std::string& w) {
        if (!warnings.empty()) warnings += "\n";
        warnings += w;
    }
};

Session::Session() : impl_(std::make_unique<Impl>()) {}
Session::~Session() = default;

bool Session::Open(const std::string& home, std::string& error, bool loadTree, Access access) {
    Impl& s = *impl_;
    s.warnings.clear();
    s.folder = platform::ResolveProgramFolder(home, error);
    if (s.folder.empty()) return false;
    s.readOnly = access == Access::Read;
    if (!s.readOnly) {
        const auto hold = access == Access::Run ? platform::FolderLock::Hold::Long : platform::FolderLock::Hold::Brief;
        if (!s.lock.Acquire(s.folder, hold, kWaitForBriefWriterMs, error)) return false;
    }
    platform::SetProgramFolder(s.folder);

    std::string regError;
    if (!s.registry.LoadFile(s.RegistryFile(), regError)) {
        std::string keepError;
        std::string aside = platform::KeepAside(s.RegistryFile(), keepError);
        if (aside.empty()) {
            s.registryBlocked = true;
            s.Warn(s.RegistryFile() + " is damaged (" + regError + ") and could not be kept aside (" + keepError +
                   "); settings will not be saved over it");
        } else {
            s.Warn(s.RegistryFile() + " is damaged (" + regError + "); it was kept as " + aside +
                   " and the settings start from their defaults");
        }
        s.registry.Clear();
    }

    std::vector<std::string> warnings;
    LoadProgramOptions(&warnings);
    store::EnsureProxyBypass(s.registry);
    for (const auto& w : warnings) s.Warn(w);
    // Values written while loading are kept at once, as the system registry would keep them.
    // A reader keeps them only when no writer works on the folder right now.
    if (s.registry.Modified() && !s.registryBlocked) {
        platform::FolderLock briefly;
        std::string busy;
        if (!s.readOnly || briefly.Acquire(s.folder, platform::FolderLock::Hold::Brief, 0, busy)) {
            std::string saveError;
            if (s.registry.SaveFile(s.RegistryFile(), saveError))
                s.registry.SetModified(false);
            else
                s.Warn(saveError);
        }
    }

    if (loadTree) LoadTree();
    return true;
}

void Session::LoadTree() {
    Impl& s = *impl_;
    store::TreeLoadReport report = store::LoadTreeStore(s.tree, s.folder);
    if (report.damaged) {
        std::string w = "The Project tree store could not be read completely: " + report.message;
        if (!report.keptAsideAs.empty()) w += " (the file was kept as " + report.keptAsideAs + ")";
        s.Warn(w);
        s.treeBlocked = report.keepAsideFailed;
    }
}

void Session::LoadProgramOptions(std::vector<std::string>* warnings) {
    store::ProgramOptions& options = store::Options();
    options.Reset();
    options.UAgent = "Quillmoor/1.0";
    platform::RegKey key = store::OpenOptionsKeyForLoad(impl_->registry);
    store::LoadOptions(options, key, store::DefaultsProject(), warnings);
}

const std::string& Session::Warnings() const { return impl_->warnings; }

bool Session::Save(std::string& error) {
    Impl& s = *impl_;
    if (s.readOnly) {
        error = "the program folder was opened to read only; nothing was saved";
        return false;
    }
    bool ok = true;
    platform::RegKey key = store::OpenOptionsKeyForSave(s.registry);
    store::SaveOptions(store::Options(), key, store::DefaultsProject());
    if (s.registryBlocked) {
        error = s.RegistryFile() + " is damaged and was not kept aside; the settings were not saved";
        ok = false;
    } else if (!s.registry.SaveFile(s.RegistryFile(), error)) {
        ok = false;
    } else {
        s.registry.SetModified(false);
    }
    if (s.treeBlocked) {
        if (!error.empty()) error += "; ";
        error += "the damaged Project tree store was not kept aside; it was not saved over";
        return false;
    }
    std::string treeError;
    if (!store::SaveTreeStore(s.tree, s.folder, treeError)) {
        if (!error.empty()) error += "; ";
        error += treeError;
        ok = false;
    }
    return ok;
}

const std::string& Session::ProgramFolder() const { return impl_->folder; }
store::ProjectTree& Session::Tree() { return impl_->tree; }
store::Project& Session::Defaults() { return store::DefaultsProject(); }
platform::Registry& Session::Registry() { return impl_->registry; }

}  // namespace qm::app
