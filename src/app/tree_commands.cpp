// The Project tree commands over the tree model.
#include "app/tree_commands.h"

#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "app/project_edits.h"
#include "app/new_project.h"
#include "app/stored_site.h"
#include "addresses/address_rules.h"
#include "engine/local_path.h"
#include "engine/site_map.h"
#include "engine/stored_files.h"
#include "platform/clipboard.h"
#include "store/defaults_project.h"
#include "store/options.h"
#include "store/string_list.h"
#include "store/tree_store.h"
#include "store/ui_messages.h"

namespace fs = std::filesystem;

namespace qm::app {

namespace {

bool IsLink(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
bool IsRealDirectory(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
// A file or a link to remove (never a directory).
bool RemovableEntry(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
}

std::size_t IndexIn(const std::vector<std::unique_ptr<store::Project>>& list, const store::Project* p) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == p) return i;
    return list.size();
}
std::size_t IndexIn(const std::vector<std::unique_ptr<store::ProjectFolder>>& list, const store::ProjectFolder* f) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == f) return i;
    return list.size();
}

bool Valid(Node n) { return n.folder != nullptr; }
bool Same(Node a, Node b) { return a.folder == b.folder && a.project == b.project; }

}  // namespace

TreeCommands::TreeCommands(store::ProjectTree& tree, store::Project& defaults, Confirmation& answers,
                           ProjectEngine* engine)
    : tree_(tree), defaults_(defaults), answers_(answers), engine_(engine) {}

store::ProjectFolder& TreeCommands::TargetFolder() {
    if (tree_.Folders.empty()) tree_.AddFolder(store::UIMessage(store::UIText::Default));
    if (!Valid(selected_)) selected_ = tree_.NodeAt(0);
    if (selected_.project)
        selected_ = {selected_.project->Folder ? selected_.project->Folder : selected_.folder, nullptr};
    return *selected_.folder;
}

store::Project& TreeCommands::NewProject(const store::Project& workingCopy) {
    store::ProjectFolder& folder = TargetFolder();
    store::Project& p = app::NewProject(tree_, folder, workingCopy, workingCopy.URL);
    selected_ = {&folder, &p};
    return p;
}

store::Project& TreeCommands::PasteAddress(const std::string& text) {
    store::ProjectFolder& folder = TargetFolder();
    store::Project& p = app::PasteAddress(tree_, folder, defaults_, text);
    selected_ = {&folder, &p};
    return p;
}

int TreeCommands::Paste(std::string* error) {
    const std::string text = platform::SystemClipboard().Text();
    if (text.empty()) return 0;
    if (store::ClipboardHoldsObjects()) return store::PasteFromClipboard(tree_, &TargetFolder(), error);
    PasteAddress(text);
    return 1;
}

void TreeCommands::Copy(Node node) {
    if (node.project)
        store::CopyProjectToClipboard(*node.project);
    else if (node.folder)
        store::CopyFolderToClipboard(*node.folder);
}

bool TreeCommands::Cut(Node node) {
    if (!Valid(node)) return false;
    Copy(node);
    return Delete(node, true);
}

store::ProjectFolder& TreeCommands::NewFolder() {
    store::ProjectFolder& f = tree_.AddFolder(store::UIMessage(store::UIText::NewFolder));
    f.Level = 0;
    f.Dir.clear();
    selected_ = {&f, nullptr};
    return f;
}

bool TreeCommands::Rename(Node node, const std::string& caption) {
    if (!Valid(node) || caption.empty()) return false;
    if (node.project)
        node.project->Caption = caption;
    else
        node.folder->Caption = caption;
    return true;
}

void TreeCommands::Forget(Node node) {
    if (Same(selected_, node) || (!node.project && selected_.folder == node.folder)) selected_ = {};
}

bool TreeCommands::DeleteProject(store::Project& project, bool partOfCut) {
    Node node{project.Folder, &project};
    if (engine_) engine_->StopProject(project);
    // The files are only offered for deletion when the Project has stored some; a cut keeps
    // them for the pasted copy.
    const bool hasFiles = !engine::GetMap(project).Empty();
    if (hasFiles && !partOfCut &&
        answers_.Ask(Question::RemoveFiles, store::UIMessage(store::UIText::AskRemoveProjectFiles) + " ?",
                     store::UIMessage(store::UIText::Confirmation)))
        DeleteProjectFiles(project);
    engine::DeleteMap(project);
    if (engine_) engine_->ForgetProject(project);
    std::unique_ptr<store::Project> gone = tree_.TakeProject(project);
    Forget(node);
    return gone != nullptr;
}

bool TreeCommands::Delete(Node node, bool partOfCut) {
    if (!Valid(node)) return false;
    const std::string caption = node.project ? node.project->Caption : node.folder->Caption;
    if (ConfirmDelete && !partOfCut &&
        !answers_.Ask(Question::RemoveNode, store::UIMessage(store::UIText::AskRemove) + "\r\n'" + caption + "' ?",
                      store::UIMessage(store::UIText::Confirmation)))
        return false;
    if (node.project) return DeleteProject(*node.project, partOfCut);
    if (tree_.Folders.size() <= 1) {
        answers_.ShowError(store::UIMessage(store::UIText::OneFolderMustRemain),
                           store::UIMessage(store::UIText::Error));
        return false;
    }
    if (!node.folder->Children.empty()) {
        answers_.ShowError(store::UIMessage(store::UIText::DeleteProjectsFirst),
                           store::UIMessage(store::UIText::Error));
        return false;
    }
    Forget(node);
    return tree_.RemoveFolder(*node.folder);
}

bool TreeCommands::DeleteMapEntry(store::Project& project, const std::string& rawPath) {
    std::string path = rawPath;
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    if (path.empty()) return false;
    if (ConfirmDelete &&
        !answers_.Ask(Question::RemoveNode, store::UIMessage(store::UIText::AskRemove) + "\r\n'" + path + "' ?",
                      store::UIMessage(store::UIText::Confirmation)))
        return false;
    const fs::path root = fs::path(engine::RootFolder(project)).lexically_normal();
    const fs::path relative = fs::path(path).lexically_normal().lexically_relative(root);
    if (relative.empty() || *relative.begin() == ".." || *relative.begin() == ".") return false;
    fs::path dir = root;
    std::vector<fs::path> parts(relative.begin(), relative.end());
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        dir /= parts[i];
        if (!IsRealDirectory(dir)) return false;  // missing, a file, or a symbolic link
    }
    const fs::path target = dir / parts.back();
    std::error_code ec;
    // remove_all removes links inside a directory without following them.
    const bool removed = fs::remove_all(target, ec) > 0 && !ec;
    const fs::path primary = engine::PrimaryName(target.string());
    if (RemovableEntry(primary)) fs::remove(primary, ec);
    store::SortedStringList& map = engine::GetMap(project);
    const std::string prefix = target.string() + "/";
    std::vector<std::string> gone;
    for (const std::string& item : map.Items())
        if (fs::path(item).lexically_normal() == target || item.rfind(prefix, 0) == 0) gone.push_back(item);
    for (const std::string& item : gone) map.Remove(item);
    if (!gone.empty()) project.MarkSiteMapModified();
    return removed;
}

bool TreeCommands::CanDrop(Node source, Node target) {
    if (!Valid(source) || !Valid(target)) return false;
    if (!source.project && target.project) return false;  // a folder never goes onto a Project
    return true;
}

bool TreeCommands::Drop(Node source, Node target) {
    if (!CanDrop(source, target) || Same(source, target)) return false;
    if (!source.project) {
        // A folder before the target folder.
        auto& list = tree_.Folders;
        const std::size_t from = IndexIn(list, source.folder);
        if (from == list.size() || IndexIn(list, target.folder) == list.size()) return false;
        std::unique_ptr<store::ProjectFolder> moving = std::move(list[from]);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(from));
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(IndexIn(list, target.folder)), std::move(moving));
        return true;
    }
    store::ProjectFolder* destination = target.project ? target.project->Folder : target.folder;
    if (!destination || IndexIn(tree_.Folders, destination) == tree_.Folders.size()) return false;
    std::unique_ptr<store::Project> moving = tree_.TakeProject(*source.project);
    if (!moving) return false;
    moving->Folder = destination;
    auto& children = destination->Children;
    if (target.project) {
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(IndexIn(children, target.project)),
                        std::move(moving));
    } else {
        children.push_back(std::move(moving));
    }
    if (Same(selected_, source)) selected_ = {destination, source.project};
    return true;
}

int TreeCommands::Start(Node node, std::string* why) {
    if (!engine_ || !Valid(node)) return 0;
    std::vector<store::Project*> projects;
    if (node.project)
        projects.push_back(node.project);
    else
        for (const auto& p : node.folder->Children) projects.push_back(p.get());
    int started = 0;
    for (store::Project* p : projects) {
        std::string one;
        if (engine_->StartProject(*p, one))
            ++started;
        else if (why)
            *why += (why->empty() ? "" : "\n") + one;
    }
    return started;
}

void TreeCommands::Stop(Node node) {
    if (engine_ && node.project) engine_->StopProject(*node.project);
}

void TreeCommands::ToggleSuspend() {
    if (engine_) engine_->SetSuspended(!engine_->Suspended());
}

std::string TreeCommands::SuspendCaption() const {
    return store::UIMessage(engine_ && engine_->Suspended() ? store::UIText::Resume : store::UIText::Suspend);
}

int TreeCommands::ProjectIcon(const store::Project& p) const {
    if (p.QueuedCount > 0 || p.ProcessingCount > 0)
        return engine_ && engine_->Suspended() ? kIconSuspended : kIconDownloading;
    return p.When != 0 ? kIconScheduled : kIconIdle;
}

std::string TreeCommands::ApplyProperties(store::Project& project, const store::Project& original,
                                          const store::Project& edited) {
    std::string old = project.Caption;
    CopyEditedSettings(project, original, edited);
    return old;
}

void TreeCommands::ApplyFolderProperties(store::ProjectFolder& folder, const std::string& caption,
                                         const std::string& dir) {
    StoreFolderProperties(folder, caption, dir);
}

void TreeCommands::ApplyDefaults(const store::Project& original, const store::Project& edited) {
    CopyEditedSettings(defaults_, original, edited);
}

void TreeCommands::RestoreDefaults() { store::ResetToBuiltInDefaults(defaults_); }

bool TreeCommands::DeleteStoredPath(const std::string& mapDirectory, const std::string& path,
                                    const std::string& caption) {
    if (ConfirmDelete &&
        !answers_.Ask(Question::RemoveNode, store::UIMessage(store::UIText::AskRemove) + "\r\n'" + caption + "' ?",
                      store::UIMessage(store::UIText::Confirmation)))
        return false;
    std::vector<std::string> roots{mapDirectory, store::Options().PathPrefix};
    for (const std::string& d : store::Options().DDs.Items()) roots.push_back(d);
    for (const auto& f : tree_.Folders) roots.push_back(f->Dir);
    std::string why;
    if (!DeleteMapPath(path, roots, why)) {
        answers_.ShowError(why, store::UIMessage(store::UIText::Error));
        return false;
    }
    return true;
}

int DeleteProjectFiles(store::Project& project) {
    const fs::path root = fs::path(engine::RootFolder(project)).lexically_normal();
    std::set<fs::path> directories;
    int removed = 0;
    for (const std::string& entry : engine::GetMap(project).Items()) {
        const fs::path file = fs::path(entry).lexically_normal();
        const fs::path relative = file.lexically_relative(root);
        if (relative.empty() || relative.is_absolute() || *relative.begin() == ".." || *relative.begin() == ".")
            continue;
        // Every directory between the root and the file must be a real directory.
        fs::path dir = root;
        bool inside = true;
        std::vector<fs::path> parts(relative.begin(), relative.end());
        if (parts.empty() || parts.back().empty()) continue;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            if (parts[i] == ".." || parts[i] == ".") inside = false;
            dir /= parts[i];
            if (!inside || IsLink(dir) || !IsRealDirectory(dir)) {
                inside = false;
                break;
            }
        }
        if (!inside) continue;
        const fs::path target = dir / parts.back();
        std::error_code ec;
        if (RemovableEntry(target) && fs::remove(target, ec)) ++removed;
        const fs::path primary = engine::PrimaryName(target.string());
        if (RemovableEntry(primary)) fs::remove(primary, ec);
        directories.insert(dir);
    }
    for (const fs::path& dir : directories) {
        const fs::path descr = dir / "Descr.QV3";
        std::error_code ec;
        if (RemovableEntry(descr)) fs::remove(descr, ec);
    }
    return removed;
}

std::string EncodeBrowsePath(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c == '#' || c == '?' || c == '%' || c <= ' ' || c == 0x7f) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string BrowsePathAddress(const store::ProjectFolder* folder, const std::string& rawPath, bool serverRunning,
                              int serverPort) {
    if (rawPath.empty()) return {};
    std::string path = rawPath;
    for (char& c : path)
        if (c == '\\') c = '/';
    if (addresses::StartsWithNoCase(path, "http://") || addresses::StartsWithNoCase(path, "https://")) return path;
    const store::ProgramOptions& opt = store::Options();
    if (serverRunning && opt.HTTPStart) {
        std::string a = "http://127.0.0.1";
        if (serverPort != 80) a += ":" + std::to_string(serverPort);
        a += "/";
        if (folder) a += EncodeBrowsePath(folder->Caption) + "/";
        while (!path.empty() && path.front() == '/') path.erase(0, 1);
        return a + EncodeBrowsePath(path);
    }
    std::string dir = folder && !folder->Dir.empty() ? folder->Dir
                      : !opt.PathPrefix.empty()      ? opt.PathPrefix
                                                     : store::DefaultDownloadFolder();
    for (char& c : dir)
        if (c == '\\') c = '/';
    if (!dir.empty() && dir.back() != '/') dir += '/';
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
    std::string local = dir + path;
    if (local.back() == '/') {
        local += engine::DefaultDocName();
    } else {
        std::error_code ec;
        if (fs::is_directory(local, ec)) local += "/" + engine::DefaultDocName();
    }
    // An absolute Linux path already begins with the third "/".
    return std::string(local.front() == '/' ? "file://" : "file:///") + EncodeBrowsePath(local);
}

std::string BrowseAddress(const store::Project& project, bool serverRunning, int serverPort) {
    std::string name = project.URL;
    const std::size_t scheme = name.find("://");
    name.erase(0, scheme == std::string::npos ? std::min<std::size_t>(7, name.size()) : scheme + 3);
    if (name.empty()) return {};
    engine::MapName(name, false, "");
    return BrowsePathAddress(project.Folder, name, serverRunning, serverPort);
}

int SiteMapIconFor(const std::string& fileName, const std::string& contentType) {
    std::string ext;
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos) ext = store::LowerCase(base.substr(dot + 1));
    if (!contentType.empty()) {
        const std::string type = store::LowerCase(contentType);
        if (type.rfind("text/html", 0) == 0)
            ext = "htm";
        else if (type.rfind("image/", 0) == 0)
            ext = "gif";
        else if (type.rfind("text/plain", 0) == 0)
            ext = "txt";
    }
    static const struct {
        const char* list;
        int icon;
    } kTable[] = {
        {"htm,html,shtml,rhtml,asp,stm", 12},
        {"txt,text", 13},
        {"gif,bmp,jpeg,jpg,xbm,tga,pcx,png,fif,rle", 14},
        {"tif,rtf", 15},
        {"au,wav,aif,aifc,aiff,snd,mp3", 16},
        {"mid", 17},
        {"avi,mov,mpeg,mpg", 18},
        {"qt", 19},
        {"zip,lha,arc,lei,lay,arj,rar,z,gz,lzh", 20},
        {"exe,com,class", 21},
        {"doc", 22},
        {"hlp", 23},
        {"ttf", 24},
        {"fon", 25},
        {"ra,ram", 26},
    };
    if (!ext.empty())
        for (const auto& row : kTable)
            if (std::string_view(row.list).find(ext) != std::string_view::npos) return row.icon;
    return 27;
}

int SiteMapIcon(const std::string& filePath) {
    const std::size_t slash = filePath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : filePath.substr(0, slash);
    const std::string name = slash == std::string::npos ? filePath : filePath.substr(slash + 1);
    std::string contentType, lastModified;
    std::error_code ec;
    const auto size = fs::file_size(fs::path(dir) / "Descr.QV3", ec);
    if (!ec && size < 20000) engine::LookupFileDescription(dir, name, contentType, lastModified);
    return SiteMapIconFor(name, contentType);
}

}  // namespace qm::app
