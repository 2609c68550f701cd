// Fuzzing the address routines: any input must normalise in bounded time without faults, and
// an admitted address must map to a file under the Project's root folder.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "addresses/address_rules.h"
#include "engine/crawl_limits.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"
#include "slow_clean.h"

namespace {

struct Setup {
    qm::store::ProjectFolder folder;
    qm::store::Project project;
    Setup() {
        qm::store::Options().DefaultDoc = "default.htm";
        folder.Dir = "/fuzz/root/";
        project.Folder = &folder;
        project.URL = "http://host/dir/";
        project.RSrvsBx = 2;
        project.RSrvsIn = "^ho\r\nst$\r\n xo\r\n";
        project.RFileBx = 2;
        project.RFileEx = ".exe$\r\n";
        project.Categories[qm::store::kCatText].Exts = "htm\r\nhtml\r\n";
        project.Categories[qm::store::kCatImages].Exts = "gif\r\njpg\r\n ox\r\n";
        project.Categories[qm::store::kCatImages].Flag(qm::store::CategoryFlag::SelectedTypesOnly) = true;
    }
};

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string root = setup.folder.Dir;

    // Names that keep their extension last must stay under the root as well.
    qm::store::Options().ExtLast = size % 3 == 0;
    for (const char* scheme : {"", "http://", "https://", "file://"}) {
        qm::engine::DownloadRecord rec;
        rec.Project = &setup.project;
        rec.URL = scheme + input;
        rec.IsImage = size % 2;
        if (!qm::engine::Normalise(rec)) continue;
        // Under the root, with no "." or ".." segment on the way.
        Check(rec.FName.compare(0, root.size(), root) == 0);
        Check(qm::addresses::SegmentsStayInside(rec.FName, root.size()));
        Check(rec.URL.find('#') == std::string::npos);
        // A canonical address is its own canonical form.
        std::string again = rec.URL;
        qm::addresses::CleanedAddress info;
        Check(qm::addresses::CleanAddress(again, info) == qm::addresses::CleanStatus::Ok);
    }

    // Short inputs: the single-pass cleaning equals the repeated deletions it replaces.
    if (size <= 512) {
        for (const char* scheme : {"http://", "file://"}) {
            std::string url = scheme + input;
            qm::addresses::CleanedAddress info;
            const qm::addresses::CleanStatus status = qm::addresses::CleanAddress(url, info);
            Check(status != qm::addresses::CleanStatus::BadScheme);
            if (status == qm::addresses::CleanStatus::Ok) Check(url == qm::test::SlowClean(scheme + input));
        }
    }

    std::string mapped = input;
    qm::addresses::MapNameWith(mapped, true, root, "default.htm");
    if (!input.empty()) {
        Check(mapped.compare(0, root.size(), root) == 0);
        Check(mapped.find("//") == std::string::npos);
        Check(mapped.back() != '/');
    }
    std::string location = qm::engine::ResolveLocation(input, "http://host/a/b?c");
    (void)location;

    // The crawl-trap rules read any address; a trap stays one with a query after it.
    const bool repeats = qm::engine::RepeatsPathSegments("http://h/" + input);
    if (repeats && input.find_first_of("?#") == std::string::npos)
        Check(qm::engine::RepeatsPathSegments("http://h/" + input + "?q"));
    static qm::engine::CrawlTraps traps;
    if (traps.CountedPaths() >= qm::engine::CrawlTraps::kMaxCountedPaths) traps.Clear();
    (void)traps.Check(setup.project, input);
    return 0;
}
