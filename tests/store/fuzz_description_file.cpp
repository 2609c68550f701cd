// Fuzz target: any bytes as a directory's "Descr.QV3" (and, split, "Descr.Dat"), read and
// then written to.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "../support/fuzz_temp_dir.h"
#include "store/description_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string& dir = qm::test::FuzzTempDir("descr");
    if (dir.empty()) return 0;
    const std::size_t half = size / 2;
    auto put = [&](const char* name, const std::uint8_t* p, std::size_t n) {
        FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
        if (!f) return;
        std::fwrite(p, 1, n, f);
        std::fclose(f);
    };
    put("Descr.QV3", data, half);
    put("Descr.Dat", data + half, size - half);
    qm::store::FileDescription r;
    qm::store::ReadDescription(dir, "index.html", r);
    qm::store::ReadDescription(dir, "a", r);
    qm::store::FileDescription w;
    w.Name = "a";
    w.Text = "t";
    w.ContentType = "text/html";
    qm::store::WriteDescription(dir, w);
    if (!qm::store::ReadDescription(dir, "a", r) || r.ContentType != "text/html") __builtin_trap();
    return 0;
}
