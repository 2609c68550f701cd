#pragma once
// Helpers of item processing that document analysis uses too.
#include <cstdint>
#include <string>

namespace qm::engine {

class DownloadRecord;

// After a file reached through a redirect was stored or confirmed: writes the small page at
// the old local name that points at the new one (only when OldFName is set).
void WriteRedirectStub(const DownloadRecord& record);
// The stub page's text for a target (relative address of the new file).
std::string RedirectStubText(const std::string& target);
// The target of the stub: "../" OldDepth times, then NewFName below the Project's root
// folder with "/" separators.
std::string RedirectStubTarget(const DownloadRecord& record);
// Free bytes on the file system holding path (or its nearest existing parent); -1 unknown.
// Large results are reported as 1000000000.
std::int64_t FreeSpace(const std::string& path);
// Header helpers: keys are given in lower case with their colon ("content-type:"); a key
// counts only where it begins a line, whatever the case of its letters.
std::string HeaderValue(const std::string& headers, const std::string& key);
std::string LastModified(const std::string& headers);

// Places a file under its stored name in one step: the bytes are written beside target
// under a private name and renamed over target, so target is always either its old
// complete content or the new complete content. moveSource lets source be renamed into
// place when it lies on the same file system (source is gone afterwards). False when
// nothing was placed (target unchanged).
bool PlaceFile(const std::string& source, const std::string& target, bool moveSource = false);
// Writes text as the complete content of target in the same one-step way.
bool PlaceText(const std::string& text, const std::string& target);
// Creates a directory with all missing parents; false when it does not exist afterwards.
bool MakeDirectories(const std::string& path);
// Deletes a file, ignoring failures.
void RemoveFile(const std::string& path);
bool FileExists(const std::string& path);

// Description records of stored files, kept per directory.
bool LookupFileDescription(const std::string& dir, const std::string& name, std::string& contentType,
                           std::string& lastModified);
void RecordFileDescription(const std::string& dir, const std::string& name, const std::string& contentType,
                           const std::string& lastModified);

}  // namespace qm::engine
