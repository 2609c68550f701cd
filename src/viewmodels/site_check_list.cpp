// The lines of the "Check stored site..." window.
#include "viewmodels/site_check_list.h"

#include "engine/crawl_limits.h"

namespace qm::viewmodels {

namespace {

// The file type pages, by the names admission gives the categories.
const char* CategoryNode(const std::string& category) {
    static const char* const kNodes[][2] = {{"text", "Text"},       {"images", "Images"},
                                            {"video", "Video"},     {"audio", "Audio"},
                                            {"archive", "Archive"}, {"user-defined", "User Defined"},
                                            {"other", "Other"}};
    for (const auto& n : kNodes)
        if (category == n[0]) return n[1];
    return "File Types";
}

}  // namespace

std::string PropertiesNodeFor(const app::BrokenLink& link) {
    switch (link.reason) {
    case app::BrokenReason::Refused: {
        const std::string& rule = link.detail;
        if (rule == "starting server" || rule == "server keywords" || rule == "IPv6 host") return "Server";
        if (rule == "starting directory" || rule == "directory keywords" || rule == "root folder" ||
            rule == "outside start folder")
            return "Directory";
        if (rule == "starting file name" || rule == "file name keywords") return "Filename";
        if (rule.rfind("category ", 0) == 0) return CategoryNode(rule.substr(9));
        if (rule == engine::kReasonRepeatingPath || rule == engine::kReasonTooManyQueries) return "Advanced";
        return "Project";
    }
    case app::BrokenReason::NotReached: return "Advanced";  // the limits
    case app::BrokenReason::Failed:
        // A page that asked for a password points at the Project's sign-in; others at its limits.
        return link.detail == "401" ? "Passwords" : "Advanced";
    case app::BrokenReason::BeyondLevel:
    case app::BrokenReason::ScriptName: return "Project";
    }
    return "Project";
}

std::vector<SiteCheckLine> SiteCheckLines(const app::SiteCheck& check) {
    std::vector<SiteCheckLine> lines;
    for (std::size_t i = 0; i < check.broken.size();) {
        const app::BrokenLink& first = check.broken[i];
        std::size_t end = i;
        while (end < check.broken.size() && check.broken[end].reason == first.reason &&
               check.broken[end].detail == first.detail)
            ++end;
        SiteCheckLine heading;
        heading.heading = true;
        heading.text = app::ReasonText(first.reason, first.detail) + " (" + std::to_string(end - i) + ")";
        heading.propertiesNode = PropertiesNodeFor(first);
        lines.push_back(std::move(heading));
        for (; i < end; ++i) {
            const app::BrokenLink& link = check.broken[i];
            lines.push_back({false, link.url, link.page, PropertiesNodeFor(link)});
        }
    }
    return lines;
}

std::string SiteCheckSummary(const app::SiteCheck& check) {
    std::string text = std::to_string(check.pagesRead) + " pages read, " + std::to_string(check.linksSeen) + " links, ";
    text += check.broken.empty() ? std::string("nothing broken") : std::to_string(check.broken.size()) + " broken";
    if (check.truncated) text += " (stopped at the limit of addresses)";
    return text;
}

}  // namespace qm::viewmodels
