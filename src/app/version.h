#pragma once
// The program's version, as both programs print it for --version.
namespace qm::app {

inline constexpr const char* kVersion = QM_VERSION;

}  // namespace qm::app
