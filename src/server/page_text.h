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

// A caption as a page shows it: escaped, and without credentials where it holds an address
// (a Project made from an address is captioned with it, "user:password@" included).
std::string CaptionText(std::string_view caption);

}  // namespace qm::server
