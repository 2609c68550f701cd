#pragma once
// From a request path to the stored file or folder it names, by a copy of the Project tree's
// folders and the options (ServedSettings), so that any thread can map.
#include <string>

#include "server/served_settings.h"

namespace qm::server {

struct ResolvedPath {
    std::string path;        // the local file or folder; empty: redirect to "/"
    bool refused = false;    // outside every download folder, or not found in any: 404
    std::string defaultDoc;  // the default document name the path was mapped with
};

// The path after the built-in pictures were ruled out (it starts with the request's "/"):
// drops "URLPrefix" or the leading "/", then takes the local drive form or maps the path
// into a download folder. cachedRoot is the last download folder a file was found under.
// With openedFile, a stored file found is opened for reading on the way and its descriptor
// is left there for the caller to close (-1 when none was).
ResolvedPath ResolveRequestPath(const std::string& requestPath, const ServedSettings& settings, std::string& cachedRoot,
                                int* openedFile = nullptr);

// The part of ResolveRequestPath for a path without its leading "/": the first segment picks
// a Project tree folder, the rest is mapped as stored files are named and looked for under
// that folder's directory, the cached root and the "DDs" folders. Empty with notFound false
// when nothing is left after the folder; empty with notFound true when no root holds it.
std::string MapToStoredFile(const std::string& path, const ServedSettings& settings, std::string& cachedRoot,
                            bool& notFound, int* openedFile = nullptr);

// True when a path holds a ".." segment (either separator).
bool HasParentSegment(const std::string& path);

}  // namespace qm::server
