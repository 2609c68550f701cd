#pragma once
// A page's robots tag: <meta name="robots" content="noindex, nofollow">.
#include <string_view>

namespace qm::analysis {

// Whether a page (its text in lower case) holds a robots tag whose content says "nofollow" or
// "none". Reads each tag up to a bounded length.
bool RobotsMetaSaysNoFollow(std::string_view lowered);

}  // namespace qm::analysis
