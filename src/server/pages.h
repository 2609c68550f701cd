#pragma once
// The pages the local web server writes itself: the index of all Projects, the facts of one
// Project and the listing of a stored folder.
#include <string>

namespace qm::store {
class ProjectTree;
}  // namespace qm::store
namespace qm {

namespace server {

// The product title shown in page titles and footers.
const std::string& ProgramTitle();

// Both read the Project tree and therefore run on the main thread.
std::string BuildIndexPage(const store::ProjectTree& tree);
std::string BuildProjectPage(const store::ProjectTree& tree, int projectNumber);

// The listing of folderPath for the address requestPath; reads only the file system. A
// folder that cannot be read gives the heading without rows.
std::string BuildDirectoryListing(const std::string& requestPath, const std::string& folderPath);

// A date-time (days since 30 December 1899, local time) as the short date, a blank and the
// long time of the process locale.
std::string DateTimeText(double value);

}  // namespace server
}  // namespace qm
