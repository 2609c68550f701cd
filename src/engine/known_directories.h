#pragma once
// Directories this run made or found, remembered so that storing the thousandth file of a
// folder does not ask the file system again whether the folder is there. A directory removed
// behind the run's back is noticed when a file cannot be created in it (ENOENT): the caller
// forgets it, makes it again and tries once more.
#include <string>

namespace qm::engine {

// Whether path was made or found by MakeDirectories since the run began.
bool KnownDirectory(const std::string& path);
void RememberDirectory(const std::string& path);
// Forgets one directory; true when it had been remembered (then it is worth making again).
bool ForgetDirectory(const std::string& path);
// A new run asks the file system again about every directory.
void ForgetKnownDirectories();
// The folder part of a file path ("" when it has none).
std::string DirectoryOf(const std::string& filePath);

}  // namespace qm::engine
