// Fuzzing the address routines: any input must normalise in bounded time without faults, and
// an admitted address must map to a file under the Project's root folder.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/address_rules.h"
#include "engine/crawl_limits.h"
#include "engine/get_rec.h"
#include "engine/normalise.h"
#include "store/folder.h"
#include "store/options.h"
#include "store/project.h"
#include "slow_clean.h"

namespace {

struct Setup {
    qm::ProjectFolder folder;
    qm::Project project;
    Setup() {
        qm::Options().DefaultDoc = "default.htm";
        folder.Dir = "/fuzz/root/";
        project.Folder = &folder;
        project.URL = "http://host/dir/";
        project.RSrvsBx = 2;
        project.RSrvsIn = "^ho\r\nst$\r\n xo\r\n";
        project.RFileBx = 2;
        project.RFileEx = ".exe$\r\n";
        project.Categories[qm::kCatText].Exts = "htm\r\nhtml\r\n";
        project.Categories[qm::kCatImages].Exts = "gif\r\njpg\r\n ox\r\n";
        project.Categories[qm::kCatImages].Flags[1] = true;
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
    qm::Options().ExtLast = size % 3 == 0;
    for (const char* scheme : {"", "http://", "https://", "file://"}) {
        qm::DownloadRecord rec;
        rec.Project = &setup.project;
        rec.URL = scheme + input;
        rec.IsImage = size % 2;
        if (!qm::Normalise(rec)) continue;
        // Under the root, with no "." or ".." segment on the way.
        Check(rec.FName.compare(0, root.size(), root) == 0);
        Check(qm::SegmentsStayInside(rec.FName, root.size()));
        Check(rec.URL.find('#') == std::string::npos);
        // A canonical address is its own canonical form.
        std::string again = rec.URL;
        qm::CleanedAddress info;
        Check(qm::CleanAddress(again, info) == qm::CleanStatus::Ok);
    }

    // Short inputs: the single-pass cleaning equals the repeated deletions it replaces.
    if (size <= 512) {
        for (const char* scheme : {"http://", "file://"}) {
            std::string url = scheme + input;
            qm::CleanedAddress info;
            const qm::CleanStatus status = qm::CleanAddress(url, info);
            Check(status != qm::CleanStatus::BadScheme);
            if (status == qm::CleanStatus::Ok) Check(url == qm::test::SlowClean(scheme + input));
        }
    }

    std::string mapped = input;
    qm::MapNameWith(mapped, true, root, "default.htm");
    if (!input.empty()) {
        Check(mapped.compare(0, root.size(), root) == 0);
        Check(mapped.find("//") == std::string::npos);
        Check(mapped.back() != '/');
    }
    std::string location = qm::ResolveLocation(input, "http://host/a/b?c");
    (void)location;

    // The crawl-trap rules read any address; a trap stays one with a query after it.
    const bool repeats = qm::RepeatsPathSegments("http://h/" + input);
    if (repeats && input.find_first_of("?#") == std::string::npos)
        Check(qm::RepeatsPathSegments("http://h/" + input + "?q"));
    static qm::CrawlTraps traps;
    if (traps.CountedPaths() >= qm::CrawlTraps::kMaxCountedPaths) traps.Clear();
    (void)traps.Check(setup.project, input);
    return 0;
}
