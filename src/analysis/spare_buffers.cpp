// The analysis buffers each thread keeps between documents.
#include "analysis/spare_buffers.h"

#include <utility>

namespace qm::analysis::detail {

SpareBuffers& ThreadSpareBuffers() {
    thread_local SpareBuffers buffers;
    return buffers;
}

std::string TakeSpare(std::string& spare) {
    std::string buffer = std::move(spare);
    buffer.clear();
    spare = std::string();
    return buffer;
}

void KeepSpare(std::string& spare, std::string&& buffer) {
    if (buffer.capacity() >= kKeptBufferBytes || buffer.capacity() <= spare.capacity()) return;
    spare = std::move(buffer);
    spare.clear();
}

}  // namespace qm::analysis::detail
