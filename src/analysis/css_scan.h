#pragma once
// Finds the addresses a style sheet refers to: every url(...), every @import with a quoted
// address, and the quoted candidates of image-set(). Tokenises as browsers do: comments,
// strings, escapes and unquoted url() arguments are read by the rules of the CSS syntax, so
// an address inside a comment or in an unrelated string is not taken.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qm::analysis {

struct StyleLink {
    std::size_t start = 0;  // the address's text in the sheet, without quotes or blanks
    std::size_t end = 0;
    std::string value;     // the address with its escapes resolved
    bool escaped = false;  // value differs from the text between start and end
    bool import = false;   // named by @import: a style sheet
};

// The addresses in text worth fetching, in text order: no data: or other non-web schemes, no
// fragment-only references, no empty ones. inAttribute: the text is the value of a style=""
// attribute, where a quote may be written as the entity &quot; or &#39;.
std::vector<StyleLink> ScanStyleSheet(std::string_view text, bool inAttribute = false);

// True when a link text (blanks around it allowed) names something to fetch: a relative
// address or an http or https one; false for "data:", "javascript:", "#frag", "" and so on.
bool IsFetchableReference(std::string_view text);

}  // namespace qm::analysis
