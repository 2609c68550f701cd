#pragma once
// Helpers of item processing that document analysis uses too.
#include <cstdint>
#include <string>

namespace qm {

class TGetRec;

// After a file reached through a redirect was stored or confirmed: writes the small page at
// the old local name that points at the new one (only when OldFName is set).
void WriteRedirectStub(const TGetRec& record);
// Free bytes on the file system holding path (or its nearest existing parent); -1 unknown.
std::int64_t FreeSpace(const std::string& path);
// Header helpers: keys are given in lower case with their colon ("content-type:").
std::string HeaderValue(const std::string& headers, const std::string& key);
std::string LastModified(const std::string& headers);

}  // namespace qm
