#pragma once
// The clipboard as plain text. The desktop program installs one backed by the system
// clipboard; quillmoor-cli and the tests use the in-memory one.
#include <string>

namespace qm::platform {

class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& text) = 0;
    bool HasText() const { return !Text().empty(); }
};

class MemoryClipboard : public Clipboard {
public:
    std::string Text() const override { return text_; }
    void SetText(const std::string& text) override { text_ = text; }

private:
    std::string text_;
};

// The clipboard of this process: an in-memory one unless another was installed.
Clipboard& SystemClipboard();
// Installs clipboard (not owned; nullptr restores the in-memory one).
void SetSystemClipboard(Clipboard* clipboard);

}  // namespace qm::platform
