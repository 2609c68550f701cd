// Fuzz target: any bytes as an archive file, read record by record and repaired, and as
// index lines and chunked bodies.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../support/fuzz_temp_dir.h"
#include "archive/cdxj.h"
#include "archive/warc_reader.h"
#include "archive/warc_writer.h"
#include "codings/chunked_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string& dir = qm::test::FuzzTempDir("warc");
    if (dir.empty()) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::string name = "f-00000.warc.gz";
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f) return 0;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    {
        qm::archive::WarcReader reader(dir + "/" + name, 1 << 20);
        qm::archive::ReadRecord r;
        while (reader.Next(r)) {}
    }
    qm::archive::IndexArchiveFile(dir, name, true, error);
    qm::archive::WarcRecord record;
    qm::archive::ParseWarcRecord(bytes, record);
    qm::archive::IndexEntry entry;
    qm::archive::ParseIndexLine(bytes, entry);
    std::string out;
    qm::codings::Dechunk(bytes, out);
    qm::archive::Surt(bytes);
    return 0;
}
