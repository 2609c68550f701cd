// libFuzzer target: document analysis over arbitrary bytes, with or without writing the
// rewritten document (QM_FUZZ_WRITE). The first byte picks the Project's switches.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "fake_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qm;
    using namespace qm::test;
    if (size == 0) return 0;
    const std::uint8_t flags = data[0];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    FakeEngine engine;
    engine.settings.EnableScript = flags & 1;
    engine.settings.LTranslate = flags & 2;
    engine.settings.ThisWay = flags & 4;
    if (flags & 8) engine.existing.insert("/root/host/d/x.htm");
    static const char* kUrls[] = {"http://host/d/p.htm", "http://host/p.htm", "http://host:81/a/b/c/p.htm?q",
                                  "http://u:p@host"};
    auto parent = DocumentRecord(kUrls[(flags >> 4) & 3], (flags & 64) ? 0 : 2);
    if (flags & 128) parent->ContentType = "application/x-javascript";

#ifdef QM_FUZZ_WRITE
    static const std::string target = "/tmp/qm-fuzz-analyse-" + std::to_string(::getpid()) + ".htm";
    qm::analysis::AnalyseBuffer(engine, *parent, text, "source.htm.primary", target, true, engine);
    std::FILE* f = std::fopen(target.c_str(), "rb");
    if (!f) __builtin_trap();  // the target is always written
    std::fclose(f);
    std::remove(target.c_str());
#else
    qm::analysis::AnalyseBuffer(engine, *parent, text, "source.htm", "", false, engine);
#endif
    return 0;
}
