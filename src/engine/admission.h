#pragma once
// The Project's admission filter: which addresses a Project takes.
#include <string>
#include <utility>

namespace qm {

class TGetRec;

// Why an address was admitted or refused, for quillmoor-cli explain.
struct AdmissionResult {
    bool admitted = false;
    std::string reason;  // the rule that refused, e.g. "scheme", "starting server", "server keywords"

    // Records a refusal by that rule; returns false for the caller to pass on.
    bool Refuse(std::string rule) {
        admitted = false;
        reason = std::move(rule);
        return false;
    }
};

// Runs the filter on the record (sets its Category); false refuses the address.
bool Admit(TGetRec& record);
bool Admit(TGetRec& record, AdmissionResult& why);

}  // namespace qm
