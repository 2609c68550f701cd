#pragma once
// The large buffers of an analysis run (the document's text, its lowered search copy, the
// output buffer), kept by each thread from one document to the next. Memory taken anew for
// every document costs a page fault for each 4 kB the run touches, and on a site of many
// pages those faults cost more than the scan itself.
#include <cstddef>
#include <memory>
#include <string>

namespace qm::analysis::detail {

struct SpareBuffers {
    std::string text;
    std::string search;
    std::unique_ptr<char[]> out;  // kOutputBuffer bytes when set
};

// Buffers that grew to this size or beyond go back to the allocator: most pages fit, and a
// waiting thread keeps well under a megabyte.
constexpr std::size_t kKeptBufferBytes = 256 * 1024;

// The spare buffers of the calling thread.
SpareBuffers& ThreadSpareBuffers();

// Takes a buffer out of the spares, empty, keeping its room.
std::string TakeSpare(std::string& spare);
// Puts a buffer back among the spares when it is small enough to keep.
void KeepSpare(std::string& spare, std::string&& buffer);

}  // namespace qm::analysis::detail
