#pragma once
// Who may change the files of a program folder. A program that saves there (the desktop
// window, quillmoor-cli serve, get, start and resume, and the commands that change settings
// or the Project tree) holds the folder's writer lock from before it reads the files until
// it has saved, so that two writers never interleave and none saves over a change the other
// made meanwhile. A command that only reads takes no lock.
//
// The lock is an open-file-description lock on "quillmoor.lock" in the program folder; it
// ends with the process, however that ends. The file names the holder, for the message a
// refused program gives. Within one process the lock is shared: every holder counts.
#include <string>

namespace qm::platform {

// How this process names itself to a program it keeps from writing (default: the program
// file's name), e.g. "quillmoor-cli serve".
void SetLockHolderName(const std::string& name);

class FolderLock {
public:
    enum class Hold {
        Brief,  // saves at once and lets go: another one waits a moment for it
        Long,   // holds it while it runs: another one is refused at once
    };
    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock of folder. When another process holds it, waits up to waitMs for a brief
    // holder to let go; false with error naming the holder when it does not.
    bool Acquire(const std::string& folder, Hold hold, int waitMs, std::string& error);
    void Release();
    bool Held() const { return !folder_.empty(); }

private:
    std::string folder_;
};

}  // namespace qm::platform
