#pragma once
// "Check stored site...": the broken links of a Project as the window lists them, a heading
// line per reason with its links below, and the page of the Project properties that holds
// the rule behind each.
#include <string>
#include <vector>

#include "app/stored_site_check.h"

namespace qm::viewmodels {

struct SiteCheckLine {
    bool heading = false;
    std::string text;            // a heading: the reason and its count; a link: its address
    std::string page;            // a link: the first stored page that has it
    std::string propertiesNode;  // the Project properties' node that shows the rule
};

std::vector<SiteCheckLine> SiteCheckLines(const app::SiteCheck& check);
// "4 pages read, 9 links, 5 broken" (or "nothing broken").
std::string SiteCheckSummary(const app::SiteCheck& check);
// The navigation node of the Project properties ("Server", "Directory", "Filename", "Text",
// "Advanced", "Project" ...) whose settings decide a broken link's reason.
std::string PropertiesNodeFor(const app::BrokenLink& link);

}  // namespace qm::viewmodels
