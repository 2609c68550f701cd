// Password-protected pages: which credentials answer a server's 401 challenge, and what the
// Project's password method ("pswMethod") does when its own server asks.
#include "engine/connection_setup.h"
#include "engine/credential_scope.h"
#include "engine/get_rec.h"
#include "engine/queue_manager.h"
#include "engine/stored_files.h"
#include "net/http_auth.h"
#include "store/project.h"

namespace qm::engine {

void ChooseCredentials(const DownloadRecord& record, std::string& user, std::string& password) {
    user.clear();
    password.clear();
    if (!record.AuthChallenge.empty()) {
        user = record.AuthUser;
        password = record.AuthPassword;
        return;
    }
    // FTP logs on before anything else: the address's own credentials, or the Project's on
    // the Project's own server.
    if (ServerOf(record.URL).rfind("ftp://", 0) != 0) return;
    if (!record.URLPsw.empty())
        SplitUserPassword(record.URLPsw, user, password);
    else if (record.Project && ProjectCredentialsApply(*record.Project, record))
        user = record.Project->User, password = record.Project->Psw;
}

bool QueueManager::AnswerChallenge(std::unique_ptr<DownloadRecord>& record, const std::string& headers) {
    // A second 401 after an answer, or one without a challenge, fails as any 401 does.
    if (!record->AuthChallenge.empty() || !net::HasAuthenticateLine(headers)) return false;
    const net::AuthChallenge challenge = net::PickChallenge(headers);
    std::string user, password;
    store::Project* project = record->Project;
    if (!record->URLPsw.empty()) {
        SplitUserPassword(record->URLPsw, user, password);
    } else if (project && ProjectCredentialsApply(*project, *record)) {
        int method = project->pswMethod;
        if (method == 1) {
            if (!OnPasswordWanted) {
                ReportMessage("Password protected, skipped (asking for a password needs the window): " + record->URL,
                              false);
                return false;
            }
            // One question per Project and run: its answer, or its refusal, serves every page.
            auto known = askedPasswords_.find(project->IID);
            if (known == askedPasswords_.end()) {
                const std::uint64_t generation = seenGeneration_.load();
                AskedPassword asked;
                asked.given =
                    OnPasswordWanted(*this, *project, record->URL, challenge.realm, asked.user, asked.password);
                // Stopped or started again while the question was open: the record ends here.
                if (seenGeneration_.load() != generation) {
                    FinishRecord(std::move(record));
                    return true;
                }
                known = askedPasswords_.emplace(project->IID, std::move(asked)).first;
            }
            if (!known->second.given) {
                ReportMessage("Password protected, skipped: " + record->URL, false);
                return false;
            }
            user = known->second.user;
            password = known->second.password;
        } else if (method == 2) {
            ReportMessage("Password protected, skipped: " + record->URL, false);
            return false;
        } else if (method == 3) {
            ReportMessage("Password protected: " + record->URL + "; the Project stops.", false);
            ++project->S400;
            FinishRecord(std::move(record));
            // After this answer is dealt with, not from inside its connection's event.
            PostToMain([this, project] { StopProject(*project); });
            return true;
        } else {
            user = project->User;
            password = project->Psw;
        }
    }
    if (user.empty() || challenge.kind == net::AuthChallenge::kNone) return false;
    RemoveFile(record->Temp);  // the 401 page itself is not kept
    record->Temp.clear();
    record->AuthChallenge = headers;
    record->AuthUser = std::move(user);
    record->AuthPassword = std::move(password);
    RetryRecord(std::move(record));
    return true;
}

}  // namespace qm::engine
