#pragma once
// A small typed key/value tree in place of the system registry: two hives, keys with
// subkeys, string and 32-bit integer values. Kept in memory and, for the program, in
// registry.reg in the program folder in the text format of a registry export:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\SOFTWARE\Brantforge\Quillmoor\Parameters]
//   "Name"="text"
//   "Count"=dword:0000000a
//
// Key and value names compare without regard to case, as in the system registry.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qm::platform {

enum class Hive { CurrentUser, LocalMachine };
enum class ValueType { None, String, Integer };

class Registry;

// A handle to one open key. Stays valid as long as the registry lives and neither the key
// is deleted nor the registry cleared or imported (Clear, ImportText, LoadFile). A default-constructed or failed handle
// is invalid: reads find nothing, writes do nothing.
class RegKey {
public:
    RegKey() = default;
    bool Valid() const { return node_ != nullptr; }
    explicit operator bool() const { return Valid(); }

    bool ValueExists(const std::string& name) const;
    ValueType Type(const std::string& name) const;
    // False when the value is missing or has the other type.
    bool ReadString(const std::string& name, std::string& value) const;
    bool ReadInt(const std::string& name, std::int32_t& value) const;
    void WriteString(const std::string& name, const std::string& value);
    void WriteInt(const std::string& name, std::int32_t value);
    void WriteBool(const std::string& name, bool value) { WriteInt(name, value ? 1 : 0); }
    bool DeleteValue(const std::string& name);
    // Value names in the order they were first written.
    std::vector<std::string> ValueNames() const;
    std::vector<std::string> SubKeys() const;
    // A subkey path relative to this key ("A\B"); create makes the missing keys.
    RegKey OpenKey(const std::string& path, bool create);
    bool KeyExists(const std::string& path) const;
    const std::string& Name() const;

    struct Node;  // internal

private:
    friend class Registry;
    RegKey(Registry* reg, Node* node) : reg_(reg), node_(node) {}
    Registry* reg_ = nullptr;
    Node* node_ = nullptr;
};

class Registry {
public:
    Registry();  // empty, in memory
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // path like "\SOFTWARE\Brantforge\Quillmoor\Parameters" (leading "\" optional).
    RegKey OpenKey(Hive hive, const std::string& path, bool create);
    bool KeyExists(Hive hive, const std::string& path) const;
    bool DeleteKey(Hive hive, const std::string& path);
    void Clear();

    // The export text of both hives, and reading it back. Import replaces the whole tree;
    // on a damaged text it returns false with the line and the reason, and the tree is left
    // empty.
    std::string ExportText() const;
    bool ImportText(const std::string& text, std::string& error);

    // File backing: Load reads path (a missing file is an empty registry); Save writes it
    // atomically, readable by its owner only.
    bool LoadFile(const std::string& path, std::string& error);
    bool SaveFile(const std::string& path, std::string& error) const;

    bool Modified() const { return modified_; }
    void SetModified(bool m) { modified_ = m; }

private:
    friend class RegKey;
    RegKey::Node* Root(Hive hive) const;
    std::unique_ptr<RegKey::Node> hkcu_, hklm_;
    bool modified_ = false;
};

}  // namespace qm::platform
