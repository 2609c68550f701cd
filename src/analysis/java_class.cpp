#include "analysis/java_class.h"

#include <map>
#include <set>
#include <utility>

namespace qm::analysis {

namespace {

// Classes named in a descriptor ("L" name ";") that belong to the default package.
void ScanDescriptorText(const std::string& s, std::set<std::string>& classNames, std::set<std::string>& fileStrings) {
    std::string work = s;
    for (;;) {
        std::size_t l = work.find('L');
        std::size_t semi = work.find(';');
        if (l == std::string::npos || semi == std::string::npos || l > semi) break;
        std::string inner = work.substr(l + 1, semi - l - 1);
        if (inner.find('/') == std::string::npos) classNames.insert(inner);
        work.erase(l, semi - l + 1);
    }
    // A file name: its first dot lies within the last six characters.
    std::size_t dot = s.find('.');
    if (dot != std::string::npos && dot + 7 > s.size() && s.back() != '.') fileStrings.insert(s);
}

unsigned Be16(const unsigned char* p) { return (unsigned(p[0]) << 8) | unsigned(p[1]); }

}  // namespace

JavaClassNames ReadJavaClassNames(const unsigned char* data, std::size_t length) {
    JavaClassNames result;
    if (length < 4 || data[0] != 0xCA || data[1] != 0xFE || data[2] != 0xBA || data[3] != 0xBE) return result;
    if (length < 10) return result;

    std::set<std::string> classNames, fileStrings;
    std::vector<unsigned> classRefs;
    std::vector<std::pair<unsigned, unsigned>> pairs;
    std::map<unsigned, std::string> texts;

    const unsigned count = Be16(data + 8);
    std::size_t pos = 10;
    unsigned index = 1;
    // Each case checks that its bytes are inside the file before reading them.
    while (index < count && pos < length) {
        const unsigned char tag = data[pos++];
        std::size_t need = 2;
        unsigned used = 1;
        switch (tag) {
        case 1: {
            if (pos + 2 > length) {
                pos = length;
                continue;
            }
            std::size_t n = Be16(data + pos);
            pos += 2;
            if (n > length - pos) {
                pos = length;
                continue;
            }
            if (n > 0 && n < 1024) {
                std::string s(reinterpret_cast<const char*>(data + pos), n);
                ScanDescriptorText(s, classNames, fileStrings);
                texts[index] = std::move(s);
            }
            need = n;
            break;
        }
        case 3:
        case 4: need = 4; break;
        case 5:
        case 6:
            need = 8;
            used = 2;
            break;
        case 7:
            if (pos + 2 <= length) classRefs.push_back(Be16(data + pos));
            need = 2;
            break;
        case 8: need = 2; break;
        case 9:
        case 10:
        case 11: need = 4; break;
        case 12:
            if (pos + 4 <= length) pairs.emplace_back(Be16(data + pos), Be16(data + pos + 2));
            need = 4;
            break;
        default: need = 2; break;
        }
        if (need > length - pos) break;
        pos += need;
        index += used;
    }

    for (unsigned ref : classRefs) {
        auto it = texts.find(ref);
        if (it == texts.end()) continue;
        if (it->second.find_first_of("/. ;[") == std::string::npos) classNames.insert(it->second);
    }
    static const std::string kComponent = "java/awt/Component";
    for (const auto& [nameIndex, descIndex] : pairs) {
        auto name = texts.find(nameIndex);
        auto desc = texts.find(descIndex);
        if (name == texts.end() || desc == texts.end()) continue;
        if (name->second == kComponent) classNames.insert(desc->second);
        if (desc->second == kComponent) classNames.insert(name->second);
    }

    result.classNames.assign(classNames.begin(), classNames.end());
    result.fileStrings.assign(fileStrings.begin(), fileStrings.end());
    return result;
}

}  // namespace qm::analysis
