#include "platform/clipboard.h"

namespace qm::platform {

namespace {
MemoryClipboard& Memory() {
    static MemoryClipboard clip;
    return clip;
}
Clipboard*& Installed() {
    static Clipboard* c = nullptr;
    return c;
}
}  // namespace

Clipboard& SystemClipboard() { return Installed() ? *Installed() : Memory(); }
void SetSystemClipboard(Clipboard* clipboard) { Installed() = clipboard; }

}  // namespace qm::platform
