#pragma once
// Creating Projects as the New Project command and the address paste do it.
#include <string>

#include "store/project_tree.h"

namespace qm::app {

// The address typed for a new Project, cleaned: "\" before the first "?" becomes "/";
// without "http://" or "file://" (any case) in front, "http://" is put there; "file:///"
// loses its third "/".
std::string NormaliseTypedAddress(const std::string& typed);
// The same for pasted or dropped text, which also loses every CR and LF before the first "?".
std::string NormalisePastedAddress(const std::string& text);

// Appends a new Project to folder with every setting of settings (a working copy of the
// Defaults Project), the cleaned address, the idle status and the next identifier.
store::Project& NewProject(store::ProjectTree& tree, store::ProjectFolder& folder, const store::Project& settings,
                           const std::string& typedAddress);
// A Project from pasted text: the Defaults Project's settings, the cleaned text as caption
// and address.
store::Project& PasteAddress(store::ProjectTree& tree, store::ProjectFolder& folder, const store::Project& defaults,
                             const std::string& text);

}  // namespace qm::app
