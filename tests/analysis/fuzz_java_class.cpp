// libFuzzer target: the Java class scanner over arbitrary bytes, directly and through
// analysis of a class record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis/java_class.h"
#include "fake_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qm;
    using namespace qm::test;
    // Inputs that do not start with the signature are given one, so that the pool is read.
    std::string bytes("\xCA\xFE\xBA\xBE", 4);
    if (size >= 4 && data[0] == 0xCA && data[1] == 0xFE) bytes.clear();
    bytes.append(reinterpret_cast<const char*>(data), size);
    qm::analysis::JavaClassNames names =
        qm::analysis::ReadJavaClassNames(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    FakeEngine engine;
    auto parent = DocumentRecord("http://host/cls/Main.class");
    parent->JavaClass = true;
    qm::analysis::AnalyseBuffer(engine, *parent, bytes, "Main.class", "", false, engine);
    return 0;
}
