#pragma once
// Loading and saving the program options (and with them the Defaults Project) in the
// registry, the letter-pair encoding of the proxy user name and password, and the system
// proxy bypass entry.
#include <string>
#include <vector>

#include "platform/registry.h"
#include "store/options.h"
#include "store/project.h"

namespace qm::store {

inline constexpr const char* kOptionsKeyPath = "\\SOFTWARE\\Brantforge\\Quillmoor\\Parameters";
inline constexpr const char* kAmbrelKeyPath = "\\SOFTWARE\\Brantforge\\Ambrel\\Parameters";
inline constexpr const char* kVelloranKeyPath = "\\SOFTWARE\\Halvard\\Velloran1\\Parameters";
inline constexpr const char* kInternetSettingsPath =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The key the options are read from at start-up: the current key under the current user,
// else the sister product's, else the earlier product's under the local machine, else the
// current key, created.
platform::RegKey OpenOptionsKeyForLoad(platform::Registry& registry);
// The key saves always go to (created when missing).
platform::RegKey OpenOptionsKeyForSave(platform::Registry& registry);

// Reads options from key with every repair, writing missing values with the current ones,
// then loads the Defaults Project from the subkey "Defaults". Values with the wrong registry
// type keep the current value and are reported in warnings.
void LoadOptions(ProgramOptions& options, platform::RegKey& key, Project& defaults,
                 std::vector<std::string>* warnings = nullptr);
// Writes every value in order, then the Defaults Project.
void SaveOptions(const ProgramOptions& options, platform::RegKey& key, const Project& defaults);

// One option value as Save writes it: name and registry form (integers in decimal; the
// proxy user and password as plain text; "DDs" as its list text).
struct OptionValue {
    std::string name;
    bool isInteger;  // registry integer (booleans are 0 or 1)
    std::string text;
};
std::vector<OptionValue> OptionValues(const ProgramOptions& options);
// The registry names Save writes, in order, and whether each is an integer and a boolean.
struct OptionName {
    const char* name;
    bool isInteger;
    bool isBoolean;
};
const std::vector<OptionName>& OptionNames();

// The stored form of the proxy user name and password: byte 1, then per byte "A" plus its
// low four bits and "A" plus its high four bits. Decoding skips characters below "A".
std::string EncodeLetterPairs(const std::string& plain);
std::string DecodeLetterPairs(const std::string& stored);

// Makes "127.0.0.1" bypass the system proxy in the "ProxyOverride" values of the internet
// settings key and its "LAN" subkey (only where those keys exist).
void EnsureProxyBypass(platform::Registry& registry);
// The rule for one "ProxyOverride" text.
std::string WithProxyBypass(const std::string& value);

}  // namespace qm::store
