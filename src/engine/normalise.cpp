// Normalise: the canonical form of a queued address, its admission and its local names.
#include "engine/normalise.h"

#include "addresses/address_rules.h"
#include "engine/admission.h"
#include "engine/get_rec.h"
#include "engine/local_path.h"
#include "engine/local_scope.h"
#include "engine/settings_snapshot.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::engine {

bool Normalise(DownloadRecord& record) {
    AdmissionResult why;
    return Normalise(record, why);
}

bool Normalise(DownloadRecord& record, AdmissionResult& why) {
    return Normalise(record, TakeSettingsSnapshot(record.Project), why);
}

bool Normalise(DownloadRecord& record, const SettingsSnapshot& settings, AdmissionResult& why) {
    why = AdmissionResult{};
    record.Img = true;
    record.Srv = true;

    addresses::CleanedAddress cleaned;
    switch (addresses::CleanAddress(record.URL, cleaned)) {
    case addresses::CleanStatus::BadScheme: return why.Refuse("scheme");
    case addresses::CleanStatus::ClimbsAbove: return why.Refuse("root folder");
    case addresses::CleanStatus::Ok: break;
    }
    if (cleaned.hasCredentials) record.URLPsw = cleaned.credentials;
    // A Project reads local files only when it was started from one, and only in its folder.
    if (cleaned.isFile && record.Project && !LocalFileAllowed(settings.startURL, record.URL, why)) return false;
    // The filter sees the fragment, if there is one.
    if (!cleaned.isFile && !Admit(record, settings, why)) return false;
    addresses::DropFragment(record.URL);

    const std::string relative = addresses::RelativeLocalName(record.URL, cleaned.isFile);
    record.Depth = addresses::CountSeparators(relative);
    if (relative.empty()) return why.Refuse("root folder");

    const std::string& root = settings.root;
    std::string full =
        addresses::StoredFileName(relative, settings.extLast && !cleaned.isFile, root, settings.defaultDoc);
    // Whatever the address, its file stays under the root: no segment may be "." or "..".
    if (!addresses::SegmentsStayInside(full, addresses::MappedRootLength(root))) return why.Refuse("root folder");
    record.FName = std::move(full);

    const std::size_t sep = record.FName.find_last_of("/\\");
    if (sep != std::string::npos) {
        record.Path = record.FName.substr(0, sep);
        record.RFile = record.FName.substr(sep + 1);
    }
    why.admitted = true;
    return true;
}

std::string ResolveLocation(const std::string& location, const std::string& url) {
    if (location.empty()) return {};
    const std::size_t schemeLen = addresses::SchemeLength(url);
    // "//host/path" keeps the scheme of the address that answered.
    if (location.size() > 1 && location[0] == '/' && location[1] == '/' && url.size() > schemeLen)
        return url.substr(0, schemeLen - 2) + location;
    if (location[0] == '/') {
        const std::size_t hostEnd = url.size() > schemeLen ? url.find('/', schemeLen) : std::string::npos;
        if (hostEnd == std::string::npos) return location;
        return url.substr(0, hostEnd) + location;
    }
    if (addresses::StartsWithNoCase(location, "http://") || addresses::StartsWithNoCase(location, "https://"))
        return location;
    std::size_t lastSep = std::string::npos;
    for (std::size_t i = schemeLen; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '#' || c == '?') break;
        if (c == '/' || c == '\\') lastSep = i;
    }
    if (lastSep != std::string::npos) return url.substr(0, lastSep + 1) + location;
    return url + "/" + location;
}

}  // namespace qm::engine
