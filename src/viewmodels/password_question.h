#pragma once
// What the desktop window asks when a Project's password method is "ask" (1) and the
// Project's own server protects a page: the texts shown, and the user name offered.
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store

namespace qm::viewmodels {

struct PasswordQuestion {
    std::string caption;  // the window's title
    std::string text;     // which Project, which address, which realm
    std::string user;     // offered: the Project's own user name
};

PasswordQuestion AskForPassword(const store::Project& project, const std::string& url, const std::string& realm);

}  // namespace qm::viewmodels
