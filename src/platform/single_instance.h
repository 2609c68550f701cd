#pragma once
// One running program per user and program folder. The first instance listens on a local
// socket whose name is derived from the user and the folder, in the user's private folder
// (platform/private_folder.h); a later one finds it, sends
// "show" and its command-line words (one "open WORD" line each) and ends. A socket left behind by a crashed instance
// answers nobody and is taken over. Needs the event loop (InitEventLoop) for the "show" requests to arrive.
//
// The local socket comes from Qt's network library, which only the window loads: the program
// core sees the claim through InstanceClaim and is handed a maker (MakeSingleInstance) by the
// window, so the command-line program neither links nor loads that library.
#include <memory>
#include <string>
#include <vector>

#include "platform/instance_claim.h"

class QByteArray;

namespace qm::platform {

class SingleInstance : public InstanceClaim {
public:
    explicit SingleInstance(const std::string& programFolder);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result Claim(std::string* error = nullptr, const std::vector<std::string>& words = {}) override;
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
// A SingleInstance for a program folder, as the program core's maker of claims.
std::unique_ptr<InstanceClaim> MakeSingleInstance(const std::string& programFolder);

}  // namespace qm::platform
