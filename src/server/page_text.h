#pragma once
// What the generated pages print of names and addresses: escaped, so that a file name, a
// request path or a caption is shown as text and never read as markup, and addresses without
// the user name and password some carry.
#include <string>
#include <string_view>

namespace qm::server {

// text with "&", "<", ">", '"' and "'" written as character references.
std::string HtmlText(std::string_view text);

// An address without the "user:password@" in front of its host; other text unchanged.
std::string WithoutCredentials(std::string_view address);

}  // namespace qm::server
