#pragma once
// The Project's admission filter: which addresses a Project takes.
#include <string>
#include <utility>

namespace qm {

class TGetRec;
struct SettingsSnapshot;

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

// Runs the filter on the record (sets its Category); false refuses the address. Without
// rules given, the record's Project and the options are read as they are now (main thread).
bool Admit(TGetRec& record);
bool Admit(TGetRec& record, AdmissionResult& why);
// With the rules of a snapshot taken for the record's Project (any thread).
bool Admit(TGetRec& record, const SettingsSnapshot& rules, AdmissionResult& why);

}  // namespace qm
