// Fuzz target: any bytes as a Project tree store and as clipboard text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>

#include "../support/fuzz_temp_dir.h"
#include "platform/clipboard.h"
#include "store/object_stream.h"
#include "store/project.h"
#include "store/tree_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string& dir = qm::test::FuzzTempDir("stream");
    if (dir.empty()) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        FILE* f = std::fopen((dir + "/Orrinal.dat").c_str(), "wb");
        if (!f) return 0;
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        qm::store::ProjectTree tree;
        qm::store::TreeLoadReport report = qm::store::LoadTreeStore(tree, dir);
        (void)report;
        for (qm::store::Project* p : tree.AllProjects()) (void)p->Caption.size();
        std::remove((dir + "/Orrinal.dat.damaged").c_str());
    }
    {
        qm::platform::MemoryClipboard clip;
        qm::platform::SetSystemClipboard(&clip);
        clip.SetText(text);
        qm::store::ProjectTree tree;
        qm::store::PasteFromClipboard(tree, nullptr);
        qm::platform::SetSystemClipboard(nullptr);
    }
    return 0;
}
