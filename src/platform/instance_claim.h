#pragma once
// A claim to be the one running program of a program folder (see single_instance.h): the
// first claimant runs; a later one hands the first its words and ends.
#include <functional>
#include <string>
#include <vector>

namespace qm::platform {

class InstanceClaim {
public:
    enum class Result { First, AnotherRunning, Failed };

    virtual ~InstanceClaim() = default;
    // Becomes the running instance, or tells the running one to show itself and hands it
    // words (addresses the desktop opened with the program, FOLDER/PROJECT words).
    virtual Result Claim(std::string* error = nullptr, const std::vector<std::string>& words = {}) = 0;
    // Called on the main thread when a later instance asked this one to show itself.
    std::function<void()> OnShow;
    // Called on the main thread, after OnShow, with the words a later instance handed over.
    std::function<void(const std::vector<std::string>& words)> OnWords;
};

}  // namespace qm::platform
