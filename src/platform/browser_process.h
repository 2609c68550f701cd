#pragma once
// A headless browser started as a child process that talks over two pipes instead of a
// listening port: it reads commands on its descriptor 3 and writes answers on its
// descriptor 4. The browser and everything it starts share one process group, which is
// killed as a whole when the object ends, so no browser outlives the run that needed it.
#include <string>
#include <sys/types.h>
#include <vector>

namespace qm::platform {

// The full path of an executable called name on PATH, or empty.
std::string FindOnPath(const std::string& name);

class BrowserProcess {
public:
    BrowserProcess() = default;
    ~BrowserProcess() { Stop(); }
    BrowserProcess(const BrowserProcess&) = delete;
    BrowserProcess& operator=(const BrowserProcess&) = delete;

    // Starts program with args; its output and errors go to logFile (or nowhere when empty).
    // False with error when it could not be started.
    bool Start(const std::string& program, const std::vector<std::string>& args, const std::string& logFile,
               std::string& error);
    // Our ends of the pipes: commands are written to CommandFd, answers read from AnswerFd.
    int CommandFd() const { return commandFd_; }
    int AnswerFd() const { return answerFd_; }
    bool Running();
    // Closes the pipes and ends the process group: asked first, killed when it lingers.
    void Stop();

private:
    pid_t pid_ = -1;
    int commandFd_ = -1;
    int answerFd_ = -1;
};

}  // namespace qm::platform
