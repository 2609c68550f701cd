#pragma once
// Scratch files: every stored file is written beside its stored name under a scratch name and
// renamed into place when complete, so a stored name always holds a whole file. The scratch
// names carry ".qm%", which the address mapping never produces ("%" becomes "_"), so they
// can never be mistaken for a stored file. A writer holds an exclusive lock on its scratch
// file until the file is renamed, so a sweep can tell files left by a killed run from files
// another run is still writing.
#include <string>
#include <string_view>

namespace qm::engine {

inline constexpr std::string_view kScratchMark = ".qm%";

// Creates target + ".qm%XXXXXX" (a new private name), locked and with the permissions of a
// stored file. Its descriptor and name, or -1.
int CreateScratchBeside(const std::string& target, std::string& name, unsigned mode);
// Opens (creating or emptying) the fixed scratch name of target (target + ".qm%part"), locked.
// Its descriptor and name, or -1.
int OpenFixedScratch(const std::string& target, std::string& name, unsigned mode);
// Renames the finished scratch file over target while its lock is still held, then closes
// it; on failure (or when ok is false) the scratch file is removed. True when placed.
bool CommitScratch(int fd, const std::string& name, const std::string& target, bool ok);

// Whether a file name (without folder) is one of the scratch names above.
bool IsScratchName(std::string_view fileName);
// Deletes the scratch files in directory that no writer holds any more (left by a run that
// was killed); never follows a symbolic link and never touches another name. The count.
int RemoveStaleScratchFiles(const std::string& directory);

}  // namespace qm::engine
