#pragma once
// A copy of what the path mapping reads from the Project tree and the options: the folder
// captions with their directories, the download folder, the offered download folders, the
// default document name and the address prefix. The tree and the options belong to the main
// thread; the listener maps requests with a copy the main thread refreshes whenever its loop
// is about to wait, so that a request for a stored file needs no other thread.
#include <string>
#include <vector>

namespace qm::store {
class ProjectTree;
}  // namespace qm::store
namespace qm::store {
struct ProgramOptions;
}  // namespace qm::store
namespace qm {

namespace server {

struct ServedSettings {
    struct Folder {
        std::string caption;       // as in the tree
        std::string lowerCaption;  // the project tree's lower case, for comparing with a request
        std::string dir;           // the folder's directory; the download folder when it has none
    };
    std::vector<Folder> folders;       // in tree order
    std::string pathPrefix;            // "PathPrefix", or the default download folder
    std::vector<std::string> offered;  // "DDs"
    std::string defaultDoc;            // "DefaultDoc", or "default.htm"
    std::string urlPrefix;             // "URLPrefix"
    bool extLast = false;              // stored names made from a query keep the extension last

    // Main thread: the settings as they stand (tree may be nullptr: no folders).
    static ServedSettings Of(const store::ProjectTree* tree, const store::ProgramOptions& options);
    // Main thread: whether Of(tree, options) would give these settings again. Compares in
    // place without building a copy, so it can run whenever the loop goes idle.
    bool Matches(const store::ProjectTree* tree, const store::ProgramOptions& options) const;
};

}  // namespace server
}  // namespace qm
