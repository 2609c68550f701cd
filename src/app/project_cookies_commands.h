#pragma once
// A Project's cookies for the front ends: listed, imported from a browser's file, cleared.
// The window and quillmoor-cli cookies use these same calls.
#include <string>
#include <vector>

namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::app {

// The Project's cookies in cookies.txt form (what quillmoor-cli cookies prints).
std::string CookiesListing(const store::Project& project);
// One line per cookie for a list: "domain path name=value" and its flags and expiry.
std::vector<std::string> CookieLines(const store::Project& project);
// Adds the cookies of a cookies.txt or Firefox cookies.sqlite file and saves the jar; the
// number added, or -1 with error.
int ImportCookies(const store::Project& project, const std::string& file, std::string& error);
// Empties the Project's jar and deletes its file.
void ClearCookies(const store::Project& project);

}  // namespace qm::app
