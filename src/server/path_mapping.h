#pragma once
// From a request path to the stored file or folder it names. The Project tree and the
// options belong to the main thread, so ResolveRequestPath runs there (the connection thread
// asks for it through a synchronous call) and hands back a self-contained answer.
#include <string>

namespace qm {

class ProjectTree;
struct TOptions;

namespace server {

struct ResolvedPath {
    std::string path;        // the local file or folder; empty: redirect to "/"
    bool refused = false;    // outside every download folder, or not found in any: 404
    std::string defaultDoc;  // the default document name the path was mapped with
};

// The path after the built-in pictures were ruled out (it starts with the request's "/"):
// drops "URLPrefix" or the leading "/", then takes the local drive form or maps the path
// into a download folder. cachedRoot is the last download folder a file was found under.
ResolvedPath ResolveRequestPath(const std::string& requestPath, const ProjectTree* tree,
                                const TOptions& options, std::string& cachedRoot);

// The part of ResolveRequestPath for a path without its leading "/": the first segment picks
// a Project tree folder, the rest is mapped as stored files are named and looked for under
// that folder's directory, the cached root and the "DDs" folders. Empty with notFound false
// when nothing is left after the folder; empty with notFound true when no root holds it.
std::string MapToStoredFile(const std::string& path, const ProjectTree* tree, const TOptions& options,
                            std::string& cachedRoot, bool& notFound);

// True when a path holds a ".." segment (either separator).
bool HasParentSegment(const std::string& path);

}  // namespace server
}  // namespace qm
