#pragma once
// Starting other programs: the default browser, tools and browsers with an address. Every
// argument reaches the program as it is; no shell reads it.
#include <string>
#include <vector>

namespace qm::platform {

// Starts xdg-open with address and returns at once; false with error when it could not start.
bool OpenWithDefaultBrowser(const std::string& address, std::string& error);

// Starts program with args and returns at once; false with error when it could not start.
bool StartProgram(const std::string& program, const std::vector<std::string>& args, std::string& error);

// Runs program with args, waits at most timeoutMs and returns at most maxBytes of what it
// wrote to its standard output; false when it could not run, did not end in time (it is
// then killed) or ended with a failure.
bool RunForOutput(const std::string& program, const std::vector<std::string>& args, std::string& output,
                  int timeoutMs = 3000, std::size_t maxBytes = 4096);

}  // namespace qm::platform
