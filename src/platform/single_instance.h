#pragma once
// One running program per user and program folder. The first instance listens on a local
// socket whose name is derived from the user and the folder, in the user's private folder
// (platform/private_folder.h); a later one finds it, sends
// "show" and its command-line words (one "open WORD" line each) and ends. A socket left behind by a crashed instance
// answers nobody and is taken over. Needs the event loop (InitEventLoop) for the "show" requests to arrive.
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QByteArray;

namespace qm::platform {

class SingleInstance {
public:
    enum class Result { First, AnotherRunning, Failed };

    explicit SingleInstance(const std::string& programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Becomes the running instance, or tells the running one to show itself and hands it
    // words (addresses the desktop opened with the program, FOLDER/PROJECT words).
    Result Claim(std::string* error = nullptr, const std::vector<std::string>& words = {});
    // Called on the main thread when a later instance asked this one to show itself.
    std::function<void()> OnShow;
    // Called on the main thread, after OnShow, with the words a later instance handed over.
    std::function<void(const std::vector<std::string>& words)> OnWords;
    const std::string& Name() const { return name_; }
    // The socket's path: Name() in this user's private folder (empty when there is none).
    std::string SocketPath() const;

private:
    void Answer(const QByteArray& request);
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string name_;
};

// The local socket name of a program folder for the current user.
std::string InstanceName(const std::string& programFolder);

}  // namespace qm::platform
