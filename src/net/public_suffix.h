#pragma once
// The public-suffix list (domains under which anyone may register a name: "com", "co.uk",
// "github.io"), read from Debian's publicsuffix package the first time it is asked.
#include <string>

namespace qm::net {

// Where the list is read from (the package's file).
extern const char* const kPublicSuffixFile;

// Whether domain (lower case, without a final ".") is a public suffix. Without a readable list
// only single labels ("com") count as suffixes.
bool IsPublicSuffix(const std::string& domain);

// Reads the rules of a list text in place of the package's file (tests, fuzzing). Lines and
// the rules kept are bounded.
void LoadPublicSuffixes(const std::string& text);

}  // namespace qm::net
