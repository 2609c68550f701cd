// Fuzz target: any bytes as a queue file read back for a tree with one Project. Only the
// reading half runs: no queue, no connection.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../support/fuzz_temp_dir.h"
#include "engine/get_rec.h"
#include "engine/queue_file.h"
#include "store/options.h"
#include "store/project_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string& dir = qm::test::FuzzTempDir("queue");
    if (dir.empty()) return 0;
    static qm::store::ProjectTree tree = [] {
        qm::store::ProjectTree t;
        qm::store::ProjectFolder& f = t.AddFolder("F");
        f.Dir = "/tmp/qm-fuzz-root/";
        auto p = std::make_unique<qm::store::Project>();
        p->IID = 1;
        p->URL = "http://127.0.0.1:9/";
        p->Srv = "Yes";
        t.AddProject(f, std::move(p));
        return t;
    }();
    const std::string file = dir + "/queue";
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    qm::engine::ResumeReport report;
    std::vector<std::unique_ptr<qm::engine::DownloadRecord>> records;
    qm::engine::ReadQueueFile(tree, file, report, records);
    for (const auto& r : records) {
        // Whatever the file says, the names stay under the root and no temporary name survives.
        if (r->FName.rfind("/tmp/qm-fuzz-root/", 0) != 0 || !r->Temp.empty()) __builtin_trap();
    }
    return 0;
}
