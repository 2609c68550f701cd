#pragma once
// The content type a stored file is served with.
#include <string>

namespace qm::server {

// By the stored name's extension, as for every file, with "text/javascript", "application/json"
// and "application/wasm" added for the kinds browsers use only when so named. A name that
// gives none and was asked for with a query ("style.css?v=3", stored as "style.css@v=3"), or
// that has no extension at all ("items@page=2"), takes the type of the request path's name
// before its query, else the one the download recorded in the folder's description file
// ("application/json" for a JSON answer), as long as that is a plain header value.
std::string ServedContentType(const std::string& file, const std::string& requestPath);

}  // namespace qm::server
