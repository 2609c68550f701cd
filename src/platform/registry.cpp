#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/program_folder.h"

namespace qm::platform {

namespace {
unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }
bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i]))) return false;
    return true;
}
std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}
}  // namespace

struct RegKey::Node {
    struct Value {
        std::string name;
        ValueType type = ValueType::String;
        std::string text;
        std::int32_t number = 0;
    };
    std::string name;
    std::vector<Value> values;
    std::vector<std::unique_ptr<Node>> children;

    Value* Find(const std::string& n) {
        for (auto& v : values)
            if (SameName(v.name, n)) return &v;
        return nullptr;
    }
    const Value* Find(const std::string& n) const { return const_cast<Node*>(this)->Find(n); }
    Node* Child(const std::string& n) const {
        for (auto& c : children)
            if (SameName(c->name, n)) return c.get();
        return nullptr;
    }
    Value& Put(const std::string& n) {
        if (Value* v = Find(n)) return *v;
        Value& added = values.emplace_back();
        added.name = n;
        return added;
    }
};

bool RegKey::ValueExists(const std::string& name) const { return node_ && node_->Find(name); }

ValueType RegKey::Type(const std::string& name) const {
    if (!node_) return ValueType::None;
    const Node::Value* v = node_->Find(name);
    return v ? v->type : ValueType::None;
}

bool RegKey::ReadString(const std::string& name, std::string& value) const {
    if (!node_) return false;
    const Node::Value* v = node_->Find(name);
    if (!v || v->type != ValueType::String) return false;
    value = v->text;
    return true;
}

bool RegKey::ReadInt(const std::string& name, std::int32_t& value) const {
    if (!node_) return false;
    const Node::Value* v = node_->Find(name);
    if (!v || v->type != ValueType::Integer) return false;
    value = v->number;
    return true;
}

void RegKey::WriteString(const std::string& name, const std::string& value) {
    if (!node_) return;
    Node::Value& v = node_->Put(name);
    v.type = ValueType::String;
    v.text = value;
    v.number = 0;
    reg_->modified_ = true;
}

void RegKey::WriteInt(const std::string& name, std::int32_t value) {
    if (!node_) return;
    Node::Value& v = node_->Put(name);
    v.type = ValueType::Integer;
    v.text.clear();
    v.number = value;
    reg_->modified_ = true;
}

bool RegKey::DeleteValue(const std::string& name) {
    if (!node_) return false;
    for (auto it = node_->values.begin(); it != node_->values.end(); ++it)
        if (SameName(it->name, name)) {
            node_->values.erase(it);
            reg_->modified_ = true;
            return true;
        }
    return false;
}

std::vector<std::string> RegKey::ValueNames() const {
    std::vector<std::string> names;
    if (node_)
        for (auto& v : node_->values) names.push_back(v.name);
    return names;
}

std::vector<std::string> RegKey::SubKeys() const {
    std::vector<std::string> names;
    if (node_)
        for (auto& c : node_->children) names.push_back(c->name);
    return names;
}

RegKey RegKey::OpenKey(const std::string& path, bool create) {
    if (!node_) return {};
    Node* n = node_;
    for (const std::string& part : SplitPath(path)) {
        Node* c = n->Child(part);
        if (!c) {
            if (!create) return {};
            n->children.push_back(std::make_unique<Node>());
            c = n->children.back().get();
            c->name = part;
            reg_->modified_ = true;
        }
        n = c;
    }
    return RegKey(reg_, n);
}

bool RegKey::KeyExists(const std::string& path) const {
    return const_cast<RegKey*>(this)->OpenKey(path, false).Valid();
}

const std::string& RegKey::Name() const {
    static const std::string empty;
    return node_ ? node_->name : empty;
}

Registry::Registry() : hkcu_(std::make_unique<RegKey::Node>()), hklm_(std::make_unique<RegKey::Node>()) {
    hkcu_->name = "HKEY_CURRENT_USER";
    hklm_->name = "HKEY_LOCAL_MACHINE";
}
Registry::~Registry() = default;

RegKey::Node* Registry::Root(Hive hive) const { return hive == Hive::CurrentUser ? hkcu_.get() : hklm_.get(); }

RegKey Registry::OpenKey(Hive hive, const std::string& path, bool create) {
    return RegKey(this, Root(hive)).OpenKey(path, create);
}

bool Registry::KeyExists(Hive hive, const std::string& path) const {
    return const_cast<Registry*>(this)->OpenKey(hive, path, false).Valid();
}

bool Registry::DeleteKey(Hive hive, const std::string& path) {
    std::vector<std::string> parts = SplitPath(path);
    if (parts.empty()) return false;
    RegKey::Node* n = Root(hive);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        n = n->Child(parts[i]);
        if (!n) return false;
    }
    for (auto it = n->children.begin(); it != n->children.end(); ++it)
        if (SameName((*it)->name, parts.back())) {
            n->children.erase(it);
            modified_ = true;
            return true;
        }
    return false;
}

void Registry::Clear() {
    hkcu_->values.clear();
    hkcu_->children.clear();
    hklm_->values.clear();
    hklm_->children.clear();
    modified_ = true;
}

namespace {
const char kHeader[] = "Windows Registry Editor Version 5.00";
constexpr std::size_t kMaxKeyDepth = 64;

void Escape(std::string& out, const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default:
            if (c < 32 || c == 127) {
                out += "\\x";
                out += hex[c >> 4];
                out += hex[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

void ExportNode(std::string& out, const RegKey::Node& n, const std::string& path) {
    out += "\r\n[" + path + "]\r\n";
    for (const auto& v : n.values) {
        out += '"';
        Escape(out, v.name);
        out += "\"=";
        if (v.type == ValueType::Integer) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<std::uint32_t>(v.number));
            out += buf;
        } else {
            out += '"';
            Escape(out, v.text);
            out += '"';
        }
        out += "\r\n";
    }
    for (const auto& c : n.children) ExportNode(out, *c, path + "\\" + c->name);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at s[i] == '"'; i ends after the closing quote.
bool Unquote(const std::string& s, std::size_t& i, std::string& out) {
    if (i >= s.size() || s[i] != '"') return false;
    ++i;
    out.clear();
    while (i < s.size()) {
        char c = s[i++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= s.size()) return false;
        char e = s[i++];
        switch (e) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 'x': {
            if (i + 2 > s.size()) return false;
            int h = HexDigit(s[i]), l = HexDigit(s[i + 1]);
            if (h < 0 || l < 0) return false;
            out += static_cast<char>(h * 16 + l);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return false;
}
}  // namespace

std::string Registry::ExportText() const {
    std::string out = kHeader;
    out += "\r\n";
    ExportNode(out, *hkcu_, hkcu_->name);
    ExportNode(out, *hklm_, hklm_->name);
    return out;
}

bool Registry::ImportText(const std::string& text, std::string& error) {
    Clear();
    std::size_t pos = 0;
    int lineNo = 0;
    RegKey current;
    bool sawHeader = false;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        Clear();
        modified_ = false;
        return false;
    };
    while (pos <= text.size()) {
        std::size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        pos = (nl == std::string::npos) ? text.size() + 1 : nl + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';') continue;
        if (!sawHeader) {
            if (line != kHeader && line != "REGEDIT4") return fail("not a registry file");
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') return fail("key line without ']'");
            std::string path = line.substr(1, line.size() - 2);
            std::size_t slash = path.find('\\');
            std::string hiveName = path.substr(0, slash);
            std::string rest = slash == std::string::npos ? std::string() : path.substr(slash + 1);
            // Nothing the program writes is this deep; a deeper path is damage, and would
            // otherwise make saving and destroying the tree recurse without bound.
            if (SplitPath(rest).size() > kMaxKeyDepth) return fail("key path too deep");
            Hive hive;
            if (SameName(hiveName, "HKEY_CURRENT_USER"))
                hive = Hive::CurrentUser;
            else if (SameName(hiveName, "HKEY_LOCAL_MACHINE"))
                hive = Hive::LocalMachine;
            else
                return fail("unknown hive " + hiveName);
            current = OpenKey(hive, rest, true);
            continue;
        }
        if (!current) return fail("value outside a key");
        std::size_t i = 0;
        std::string name;
        if (line[0] == '@') {
            i = 1;
        } else if (!Unquote(line, i, name)) {
            return fail("bad value name");
        }
        if (i >= line.size() || line[i] != '=') return fail("missing '='");
        ++i;
        if (i < line.size() && line[i] == '"') {
            std::string value;
            if (!Unquote(line, i, value) || i != line.size()) return fail("bad text value");
            current.WriteString(name, value);
        } else if (line.compare(i, 6, "dword:") == 0) {
            std::string digits = line.substr(i + 6);
            if (digits.empty() || digits.size() > 8) return fail("bad dword value");
            std::uint32_t v = 0;
            for (char c : digits) {
                int d = HexDigit(c);
                if (d < 0) return fail("bad dword value");
                v = v * 16 + static_cast<std::uint32_t>(d);
            }
            current.WriteInt(name, static_cast<std::int32_t>(v));
        } else {
            return fail("unsupported value type");
        }
    }
    if (!sawHeader && !text.empty()) return fail("not a registry file");
    modified_ = false;
    return true;
}

bool Registry::LoadFile(const std::string& path, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        Clear();
        modified_ = false;
        return true;
    }
    std::string text;
    if (!ReadWholeFile(path, text, error)) return false;
    return ImportText(text, error);
}

bool Registry::SaveFile(const std::string& path, std::string& error) const {
    return WriteFileAtomic(path, ExportText(), true, error);
}

}  // namespace qm::platform
