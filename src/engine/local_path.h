#pragma once
// Where a fetched file is stored: the one mapping from addresses to local file names.
#include <string>

namespace qm::store {
class Project;
}  // namespace qm::store
namespace qm::engine {

// Rewrites name in place. addRoot false: the escaped relative name with "/" separators;
// addRoot true: root + name with the platform separator, DefaultDoc for a final separator.
void MapName(std::string& name, bool addRoot, const std::string& root);
// The name a final separator stands for: the option "DefaultDoc", else "default.htm".
const std::string& DefaultDocName();
// The Project's root folder: its tree folder's directory, else the option "PathPrefix",
// always ending with a separator.
std::string RootFolder(const store::Project& project);
// MapName(name, true, RootFolder(project)).
std::string LocalPath(const store::Project& project, const std::string& name);

// Companion of a stored document: the copy as received.
std::string PrimaryName(const std::string& fileName);  // fileName + ".primary"

// Temporary download files live in a private folder of this user (quillmoor-<uid> in the
// system temporary folder, else another one: platform/private_folder.h). CreateTemporaryFile
// returns the new empty file's path, or empty.
std::string TemporaryFolder();
std::string CreateTemporaryFile();
// The same, left open for writing: returns the descriptor (or -1) and sets path.
int OpenTemporaryFile(std::string& path);
void CleanTemporaryFiles();

}  // namespace qm::engine
