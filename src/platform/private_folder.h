#pragma once
// A folder only this user may enter, for what other users must not read, replace or place
// beforehand: the temporary download files and the single-instance socket.
//
// The usual one is quillmoor-<uid> in the system temporary folder ($TMPDIR, else /tmp). It
// is used only when it is a real folder (no link) of this user with no rights for others.
// When that name is taken by anything else, another folder is made: "quillmoor" in
// $XDG_RUNTIME_DIR when that is a private folder of this user, else a new folder
// quillmoor-<uid>-XXXXXX beside the usual one.
#include <string>

namespace qm::platform {

// The private folder, made when missing; empty when none can be had.
std::string PrivateFolder();
// The private folder when one exists already (nothing is made); else empty.
std::string ExistingPrivateFolder();
// Where the usual private folder lies, whatever is there.
std::string UsualPrivateFolder();
// A real folder (not a link) owned by this user that nobody else may enter.
bool IsOwnPrivateFolder(const std::string& path);

}  // namespace qm::platform
