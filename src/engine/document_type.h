#pragma once
// Which stored files are read for links: the kinds of document the engine queues for
// analysis besides HTML and scripts.
#include <string>

namespace qm::engine {

// A style sheet: served as text/css, or, when the server names no type, an address whose
// path (before any query) ends in ".css". Letter case does not matter.
bool IsStyleSheet(const std::string& contentType, const std::string& url);
// A page or script read for links: html, x-javascript, or no type named.
bool IsDocumentType(const std::string& contentType);

}  // namespace qm::engine
