// The question put to the user for a password-protected page.
#include "viewmodels/password_question.h"

#include "store/project.h"

namespace qm::viewmodels {

namespace {

// Server texts are shown as they are, but never run over several lines or without end.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text.substr(0, 200)) out.push_back(c == '\r' || c == '\n' ? ' ' : c);
    return out;
}

}  // namespace

PasswordQuestion AskForPassword(const store::Project& project, const std::string& url, const std::string& realm) {
    PasswordQuestion q;
    q.caption = "Password";
    q.text = "The Project \"" + OneLine(project.Caption) + "\" needs a password for " + OneLine(url);
    if (!realm.empty()) q.text += "\n(" + OneLine(realm) + ")";
    q.user = project.User;
    return q;
}

}  // namespace qm::viewmodels
