// Fuzzes the reading of the browser's DevTools stream: the NUL-cut reader with a small limit,
// and each message taken as an answer or event by a client without a browser.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/devtools_client.h"
#include "render/message_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qm::render::DevToolsClient client(-1, -1);
    static bool handler = [] {
        client.SetEventHandler("", [](const std::string&, const QJsonObject&) {});
        return true;
    }();
    (void)handler;
    qm::render::MessageReader reader(4096);
    std::vector<std::string> messages;
    const char* text = reinterpret_cast<const char*>(data);
    // Fed in two parts, so that messages across a boundary are read too.
    const std::size_t half = size / 2;
    reader.Feed(text, half, messages);
    reader.Feed(text + half, size - half, messages);
    for (const std::string& m : messages) client.Dispatch(m);
    return 0;
}
