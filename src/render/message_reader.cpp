// Splitting the browser's answers at their NUL bytes.
#include "render/message_reader.h"

#include <cstring>

namespace qm::render {

bool MessageReader::Feed(const char* data, std::size_t count, std::vector<std::string>& out) {
    if (broken_) return false;
    while (count > 0) {
        const void* nul = std::memchr(data, '\0', count);
        const std::size_t take = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : count;
        if (partial_.size() + take > max_) {
            broken_ = true;
            partial_.clear();
            partial_.shrink_to_fit();
            return false;
        }
        partial_.append(data, take);
        if (!nul) break;
        out.push_back(std::move(partial_));
        partial_.clear();
        data += take + 1;
        count -= take + 1;
    }
    return true;
}

}  // namespace qm::render
