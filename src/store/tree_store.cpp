#include "store/tree_store.h"

#include <cstdio>
#include <filesystem>
#include <set>

#include "platform/clipboard.h"
#include "platform/program_folder.h"
#include "store/object_stream.h"
#include "store/ui_messages.h"

namespace fs = std::filesystem;

namespace qm::store {

namespace {
std::string Join(const std::string& folder, const char* name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

ProjectFolder& DefaultFolder(ProjectTree& tree) {
    if (tree.Folders.empty()) tree.AddFolder(UIMessage(store::UIText::Default));
    return *tree.Folders.back();
}
}  // namespace

TreeLoadReport LoadTreeStore(ProjectTree& tree, const std::string& folder) {
    TreeLoadReport report;
    tree.Clear();
    std::error_code ec;
    const std::string dat = Join(folder, "Orrinal.dat");
    const std::string tmp = Join(folder, "Orrinal.$$$");
    if (fs::exists(dat, ec))
        report.file = dat;
    else if (fs::exists(tmp, ec))
        report.file = tmp;

    if (!report.file.empty()) {
        TypedStream stream(report.file, false);
        if (stream.Failed()) {
            report.damaged = true;
            report.message = stream.Error();
        }
        ProjectFolder* current = nullptr;
        while (!stream.End()) {
            std::unique_ptr<StreamObject> obj;
            if (!stream.ReadObject(obj)) {
                report.damaged = true;
                report.message = stream.Error();
                break;
            }
            if (auto* f = dynamic_cast<ProjectFolder*>(obj.get())) {
                obj.release();
                tree.Folders.emplace_back(f);
                current = f;
            } else if (auto* p = dynamic_cast<Project*>(obj.get())) {
                obj.release();
                std::unique_ptr<Project> project(p);
                if (!current) current = &DefaultFolder(tree);
                tree.ApplyLoadedID(*project);
                tree.AddProject(*current, std::move(project));
            }
            // Anything else is dropped with obj.
        }
        if (report.damaged) {
            if (report.message.empty()) report.message = "cannot read " + report.file;
            std::string err;
            report.keptAsideAs = platform::KeepAside(report.file, err);
            if (report.keptAsideAs.empty()) {
                report.keepAsideFailed = true;
                report.message += "; " + err;
            }
        }
    }
    if (tree.Folders.empty()) DefaultFolder(tree);
    return report;
}

bool SaveTreeStore(ProjectTree& tree, const std::string& folder, std::string& error) {
    const std::string dat = Join(folder, "Orrinal.dat");
    const std::string legacy = Join(folder, "Orrinal.$$$");
    std::error_code ec;
    // A "Orrinal.$$$" without "Orrinal.dat" is the last complete store (left by an
    // interrupted replace of an older version); make it the store first.
    if (!fs::exists(dat, ec) && fs::exists(legacy, ec) && std::rename(legacy.c_str(), dat.c_str()) != 0) {
        error = "cannot rename " + legacy + " to " + dat;
        return false;
    }
    // Written under a name of its own ("Orrinal.$$$." and a unique suffix, made exclusively),
    // so that no other writer can be writing into the same file.
    std::string tmp;
    {
        TypedStream stream(ObjectStream::UniqueFileTag{}, legacy);
        tmp = stream.FileName();
        stream.WriteCount(0);
        // Every folder is a root node of the tree, whatever its stored level says, so every
        // folder is written: skipping one would drop it and its Projects from the store.
        for (auto& f : tree.Folders) {
            stream.WriteObject(*f);
            for (auto& p : f->Children) stream.WriteObject(*p);
        }
        if (!stream.Close()) {
            error = stream.Error();
            if (tmp != legacy) std::remove(tmp.c_str());
            return false;
        }
    }
    // rename replaces "Orrinal.dat" in one step; there is no moment without a readable store.
    if (std::rename(tmp.c_str(), dat.c_str()) != 0) {
        error = "cannot replace " + dat + " with " + tmp;
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

void CopyFolderToClipboard(ProjectFolder& folder) {
    ClipboardStream stream(true);
    stream.WriteObject(folder);
    for (auto& p : folder.Children) stream.WriteObject(*p);
}

void CopyProjectToClipboard(Project& project) {
    ClipboardStream stream(true);
    stream.WriteObject(project);
}

bool ClipboardHoldsObjects() { return platform::SystemClipboard().Text().compare(0, 8, "[Object]") == 0; }

int PasteFromClipboard(ProjectTree& tree, ProjectFolder* target, std::string* error) {
    if (!ClipboardHoldsObjects()) return 0;
    std::set<int> used;
    for (Project* p : tree.AllProjects()) used.insert(p->IID);
    ClipboardStream stream(false);
    int pasted = 0;
    while (!stream.End()) {
        std::unique_ptr<StreamObject> obj;
        if (!stream.ReadObject(obj)) {
            if (error) *error = stream.Error();
            break;
        }
        if (auto* f = dynamic_cast<ProjectFolder*>(obj.get())) {
            obj.release();
            tree.Folders.emplace_back(f);
            target = f;
            ++pasted;
        } else if (auto* p = dynamic_cast<Project*>(obj.get())) {
            obj.release();
            std::unique_ptr<Project> project(p);
            if (!target) target = tree.Folders.empty() ? &DefaultFolder(tree) : tree.Folders.front().get();
            if (project->IID != 0 && used.count(project->IID))
                project->IID = tree.TakeID();
            else
                tree.ApplyLoadedID(*project);
            used.insert(project->IID);
            tree.AddProject(*target, std::move(project));
            ++pasted;
        }
    }
    return pasted;
}

}  // namespace qm::store
