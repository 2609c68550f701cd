#pragma once
// The commands on the Project tree, as operations on the tree model: new Project, address
// paste, new folder, rename, delete, cut/copy/paste, drag-and-drop moves, start, stop,
// suspend, properties, and the browse address. The desktop window, quillmoor-cli and the
// tests call exactly these; a front end only shows the model and answers the questions.
//
//   Confirmation: the front end's answers (message boxes on the desktop, flags in the CLI,
//                 a script in tests). Every question and refusal goes through it.
//   ProjectEngine: starting and stopping Projects and suspending the queue (DownloadRun;
//                 nullptr when the front end runs no engine: those commands then do nothing).
//
// Usage (the window does the same on its gestures):
//   TreeCommands commands(session.Tree(), session.Defaults(), answers, &run);
//   commands.Select(tree.NodeAt(0));
//   commands.NewFolder();  commands.Delete(commands.Selected());
#include <string>
#include <vector>

#include "store/project_tree.h"

namespace qm::app {

using Node = store::ProjectTree::Node;

// The questions the commands ask.
enum class Question {
    RemoveNode,   // "Do you want to remove" a folder or Project
    RemoveFiles,  // "Do you want to remove all Project files"
    Exit,         // "Do you want to quit"
};

class Confirmation {
public:
    virtual ~Confirmation() = default;
    // A Yes/No question (text and window caption as the user sees them); true for Yes.
    virtual bool Ask(Question which, const std::string& text, const std::string& caption) = 0;
    // A refusal or failure shown with an error icon and OK.
    virtual void ShowError(const std::string& message, const std::string& caption) = 0;
};

class ProjectEngine {
public:
    virtual ~ProjectEngine() = default;
    // The Start command on one Project (empties the seen-address list, queues its address).
    virtual bool StartProject(store::Project& project, std::string& why) = 0;
    virtual void StopProject(store::Project& project) = 0;
    // The Project is about to be destroyed: the engine keeps no pointer to it.
    virtual void ForgetProject(store::Project&) {}
    virtual bool Suspended() const = 0;
    virtual void SetSuspended(bool suspended) = 0;
};

// Project node pictures.
constexpr int kIconIdle = 0, kIconFolder = 2, kIconFolderSelected = 3, kIconDownloading = 28, kIconScheduled = 29,
              kIconSuspended = 30;

class TreeCommands {
public:
    TreeCommands(store::ProjectTree& tree, store::Project& defaults, Confirmation& answers, ProjectEngine* engine);

    bool ConfirmDelete = true;  // "ConfirmDel"

    Node Selected() const { return selected_; }
    void Select(Node node) { selected_ = node; }
    // The folder new Projects go to: the selected folder, the selected Project's folder, or
    // (nothing selected) the first node, which becomes the selection. A tree without folders
    // gets the folder "Default".
    store::ProjectFolder& TargetFolder();

    // New Project from the properties dialog's working copy (a copy of the Defaults Project
    // whose caption was "http://"): its typed address cleaned, the next identifier, appended
    // to the target folder and selected.
    store::Project& NewProject(const store::Project& workingCopy);
    // Pasted or dropped text as one new Project with the Defaults Project's settings.
    store::Project& PasteAddress(const std::string& text);
    // "Paste": folders and Projects when the clipboard holds objects, else its text as an
    // address. Returns the number of objects added (0: nothing on the clipboard).
    int Paste(std::string* error = nullptr);
    void Copy(Node node);
    // Copy, then delete without the first question; the Project's stored files are kept.
    bool Cut(Node node);

    // A root folder captioned UI message 16, selected (the front end opens its caption).
    store::ProjectFolder& NewFolder();
    // Stores an edited caption; an empty caption is refused (false).
    bool Rename(Node node, const std::string& caption);
    // Delete with both questions; refuses the last folder (UI message 8) and a folder with
    // Projects (UI message 9). True when the node was deleted.
    bool Delete(Node node, bool partOfCut = false);

    // Delete on the site map: after the same first question, the stored file or directory
    // path (a final "/" ignored) is deleted with its ".primary" mark and leaves the Project's
    // site map. Only inside the Project's root folder, never through a symbolic link (a link
    // itself is removed, not what it points to). True when something was deleted.
    bool DeleteMapEntry(store::Project& project, const std::string& path);

    // Drag and drop inside the tree. CanDrop tells whether the drop is accepted at all.
    static bool CanDrop(Node source, Node target);
    bool Drop(Node source, Node target);

    // Start: a Project, or every Project of a folder in order. Returns the number started;
    // why collects the reasons of the others.
    int Start(Node node, std::string* why = nullptr);
    void Stop(Node node);
    // Suspend/Resume: toggles the queue; SuspendCaption is UI message 17 while suspended, 18
    // otherwise.
    void ToggleSuspend();
    std::string SuspendCaption() const;
    int ProjectIcon(const store::Project& project) const;

    // Properties: only the settings the user changed between original (what the dialog was
    // opened with) and edited go back, so that what the engine or the scheduler changed
    // meanwhile stays; the identifier is kept. Returns the old caption, so the front end can
    // rename the site map's first node when it showed it.
    std::string ApplyProperties(store::Project& project, const store::Project& original, const store::Project& edited);
    // A folder's caption (an empty one is not taken) and download directory, which joins the
    // download folders.
    void ApplyFolderProperties(store::ProjectFolder& folder, const std::string& caption, const std::string& dir);
    // The Defaults Project's dialog, as ApplyProperties; RestoreDefaults: the built-in values.
    void ApplyDefaults(const store::Project& original, const store::Project& edited);
    void RestoreDefaults();

    // Delete on the map of every stored site: after the same first question as Delete, the
    // stored file or directory is deleted when it lies inside a folder downloads go to (the
    // map's own directory, the download folder option, the download folders or a folder's
    // directory). A refusal is shown. True when something was deleted.
    bool DeleteStoredPath(const std::string& mapDirectory, const std::string& path, const std::string& caption);

private:
    void Forget(Node node);
    bool DeleteProject(store::Project& project, bool partOfCut);

    store::ProjectTree& tree_;
    store::Project& defaults_;
    Confirmation& answers_;
    ProjectEngine* engine_;
    Node selected_;
};

// Deletes the stored files of a Project listed in its site map, with their ".primary" marks
// and the description files of their directories. Only regular files and links inside the
// Project's root folder are removed, and no directory on the way may be a symbolic link.
// Returns the number of files removed.
int DeleteProjectFiles(store::Project& project);

// The browse address of a Project (or of a stored path below a folder): through the local
// web server while it runs and "HTTPStart" is set, else a "file://" address of the stored
// file. Characters that would break an address ("#", "?", "%", blanks and control bytes) in
// the folder caption and the path are percent-encoded. Empty when there is nothing to browse.
std::string BrowseAddress(const store::Project& project, bool serverRunning, int serverPort);
std::string BrowsePathAddress(const store::ProjectFolder* folder, const std::string& path, bool serverRunning,
                              int serverPort);
std::string EncodeBrowsePath(const std::string& text);

// The picture of a site-map file node: by the description record's content type when the
// directory's "Descr.QV3" (under 20000 bytes) has one, else by the extension.
int SiteMapIcon(const std::string& filePath);
int SiteMapIconFor(const std::string& fileName, const std::string& contentType);

}  // namespace qm::app
