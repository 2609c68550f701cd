// Fuzz target: any bytes as a WACZ package (its directory read, every member unpacked and
// read as text), as an archive file whose latest answers are collected, and as an archived
// answer whose chunks and content encoding are undone.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../support/fuzz_temp_dir.h"
#include "archive/archive_contents.h"
#include "archive/http_payload.h"
#include "archive/zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string& dir = qm::test::FuzzTempDir("zip");
    if (dir.empty()) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = dir + "/f.wacz";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::string error, text;
    {
        qm::archive::ZipReader zip(path);
        for (const qm::archive::ZipMember& m : zip.Members()) {
            zip.Extract(m, dir + "/member", error);
            zip.ReadText(m, 1 << 20, text, error);
        }
    }
    qm::archive::ArchiveContents contents;
    contents.Add(path, error);
    contents.Latest();
    int status = 0;
    std::string head, body;
    qm::archive::HttpPayload(bytes, 1 << 20, status, head, body);
    qm::codings::DecodeContent(bytes, "gzip", 1 << 20, body);
    qm::codings::DecodeContent(bytes, "deflate", 1 << 20, body);
    return 0;
}
