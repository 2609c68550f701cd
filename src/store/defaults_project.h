#pragma once
// The Defaults Project: the settings every new Project starts from, kept in the registry
// subkey "Defaults" of the options key.
#include <string>
#include <vector>

#include "store/project.h"

namespace qm::platform {
class RegKey;
}  // namespace qm::platform

namespace qm::store {

// The one Defaults Project of the program, with the built-in defaults until loaded.
Project& DefaultsProject();
// Sets every setting of project to the built-in defaults ("http://", images "Yes", level 1,
// server "No", only the starting server, limits 1000/10000/5000, scripts and Java on, the built-in extension lists).
void ResetToBuiltInDefaults(Project& project);

// Reads the subkey "Defaults" of optionsKey (created when missing) into project, after
// resetting it to the built-in defaults; missing values are written. Values of the wrong
// type are reported in warnings and keep their defaults.
void LoadDefaultsProject(Project& project, platform::RegKey& optionsKey, std::vector<std::string>* warnings = nullptr);
// Writes every value of project into the subkey "Defaults" of optionsKey.
void SaveDefaultsProject(const Project& project, platform::RegKey& optionsKey);

// The caption rule of reading: more than 50 characters keep the first 47 and "...".
std::string LimitCaption(const std::string& caption);

}  // namespace qm::store
