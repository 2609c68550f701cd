#pragma once
// The program folder: where the Project tree store, the site maps, the language file, the
// plug-ins and registry.reg live. Also the atomic file writes used for the files that must
// not be lost.
#include <string>
#include <vector>
#include <string_view>

namespace qm::platform {

// Chooses the program folder: home when given, else $QUILLMOOR_HOME, else
// ~/.local/share/quillmoor. Creates it when missing. Returns the absolute path without a
// final separator, or an empty text with error set.
std::string ResolveProgramFolder(const std::string& home, std::string& error);

// The program folder of this process (set once at start-up); empty means the current
// directory.
const std::string& ProgramFolder();
void SetProgramFolder(const std::string& folder);
// folder + "/" + name (just name when the program folder is not set).
std::string ProgramFile(std::string_view name);

// The user's home directory ($HOME, else the password database).
std::string HomeDirectory();

// Creates a new file named prefix + "." + a suffix made of this process's number and a random
// number, exclusively (O_EXCL): no other writer, in this process or another, can be writing
// the same name, and nothing placed there beforehand is followed or reused. Returns the
// descriptor and sets name, or -1 with error.
int CreateUniqueFile(const std::string& prefix, bool ownerOnly, std::string& name, std::string& error);

// Writes data to path through a temporary file beside it (path + ".tmp." and a unique
// suffix): written, flushed to disk, then renamed over path, so that an interruption leaves
// either the old or the new file, and two writers never write into one temporary file.
// ownerOnly creates the file readable and writable by its owner only.
bool WriteFileAtomic(const std::string& path, std::string_view data, bool ownerOnly, std::string& error);
// Writes several files the same way, with one flush to disk for all of them instead of one
// each: every file is written under its temporary name, the file system is flushed once,
// then each is renamed over its path and the folders are flushed once. Each file is either
// its old or its new content after an interruption. False (with error naming the first
// failure) when any file could not be written; the others are still written.
struct FileToWrite {
    std::string path;
    std::string data;
    bool placed = false;  // set when the file now holds data
};
bool WriteFilesAtomic(std::vector<FileToWrite>& files, std::string& error);
// Reads a whole file; false with error when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& data, std::string& error);
// Copies a damaged file aside as "<path>.damaged", "<path>.damaged-2", ... and returns the
// name used (empty with error on failure).
std::string KeepAside(const std::string& path, std::string& error);

}  // namespace qm::platform
