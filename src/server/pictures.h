#pragma once
// The four small GIF pictures the generated pages use, served from memory.
#include <string>
#include <string_view>

namespace qm::server {

// The picture whose name ("/folder.gif", "/empty.gif", "/start.gif", "/upfold.gif") equals
// the lowered request path; nullptr for any other path.
const std::string_view* BuiltInPicture(const std::string& loweredPath);

}  // namespace qm::server
