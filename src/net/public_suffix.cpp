// The public-suffix list's rules: plain ("co.uk"), wildcard ("*.ck") and exception ("!www.ck").
#include "net/public_suffix.h"

#include <algorithm>
#include <fstream>
#include <mutex>
#include <sstream>
#include <unordered_set>

namespace qm::net {

const char* const kPublicSuffixFile = "/usr/share/publicsuffix/public_suffix_list.dat";

namespace {

constexpr std::size_t kMaxListBytes = 8 * 1024 * 1024;
constexpr std::size_t kMaxRules = 100000;
constexpr std::size_t kMaxRuleBytes = 253;

struct Rules {
    std::unordered_set<std::string> plain, wildcard, exception;
    bool loaded = false;
};

std::mutex& RulesMutex() {
    static std::mutex m;
    return m;
}

Rules& TheRules() {
    static Rules rules;
    return rules;
}

void Parse(const std::string& text, Rules& rules) {
    rules = Rules{};
    rules.loaded = true;
    std::size_t start = 0;
    const std::size_t size = std::min(text.size(), kMaxListBytes);
    while (start < size) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos || end > size) end = size;
        std::string line = text.substr(start, end - start);
        start = end + 1;
        // A rule is the line's first word; "//" starts a comment.
        const std::size_t stop = line.find_first_of(" \t\r");
        if (stop != std::string::npos) line.erase(stop);
        if (line.empty() || line.rfind("//", 0) == 0 || line.size() > kMaxRuleBytes) continue;
        for (char& c : line)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (rules.plain.size() + rules.wildcard.size() + rules.exception.size() >= kMaxRules) break;
        if (line[0] == '!')
            rules.exception.insert(line.substr(1));
        else if (line.rfind("*.", 0) == 0)
            rules.wildcard.insert(line.substr(2));
        else
            rules.plain.insert(line);
    }
}

}  // namespace

void LoadPublicSuffixes(const std::string& text) {
    std::lock_guard<std::mutex> lock(RulesMutex());
    Parse(text, TheRules());
}

bool IsPublicSuffix(const std::string& domain) {
    std::lock_guard<std::mutex> lock(RulesMutex());
    Rules& rules = TheRules();
    if (!rules.loaded) {
        std::ifstream in(kPublicSuffixFile, std::ios::binary);
        std::string text;
        if (in) {
            text.resize(kMaxListBytes);
            in.read(text.data(), static_cast<std::streamsize>(text.size()));
            text.resize(static_cast<std::size_t>(in.gcount()));
        }
        Parse(text, rules);
    }
    if (domain.empty()) return true;
    if (rules.exception.count(domain)) return false;
    if (rules.plain.count(domain)) return true;
    const std::size_t dot = domain.find('.');
    // "*.ck" makes every "x.ck" a suffix; a name without a dot is a top-level domain.
    if (dot == std::string::npos) return true;
    return rules.wildcard.count(domain.substr(dot + 1)) > 0;
}

}  // namespace qm::net
