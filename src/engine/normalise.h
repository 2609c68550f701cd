#pragma once
// The canonical form of every address that enters the queue, and redirect resolution.
#include <string>

namespace qm::engine {

class DownloadRecord;
struct AdmissionResult;
struct SettingsSnapshot;

// Cleans the record's URL, splits off credentials into URLPsw, runs the Project's admission
// filter and fills FName, Path, RFile and Depth. False: the record must not be queued.
// Reads the record's Project and the options as they are now (main thread).
bool Normalise(DownloadRecord& record);
// The same, telling which rule refused the address (for explanations to the user).
bool Normalise(DownloadRecord& record, AdmissionResult& why);
// The same with the settings of a snapshot taken for the record's Project (any thread).
bool Normalise(DownloadRecord& record, const SettingsSnapshot& settings, AdmissionResult& why);

// The redirect target of a "location:" header value received while fetching url;
// empty when there is none.
std::string ResolveLocation(const std::string& location, const std::string& url);

}  // namespace qm::engine
