// Bookmark files of any content: the first byte picks the reader (bookmark HTML, Opera hot
// list, shortcut file, Chromium JSON), the second the menu size.
#include <cstddef>
#include <cstdint>

#include "app/bookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    qm::app::BookmarkItem root;
    std::size_t entries = 0;
    qm::app::BookmarkLevel level(root, data[1] % 16, entries);
    switch (data[0] % 4) {
    case 0: qm::app::ReadBookmarkHtml(text, level); break;
    case 1: qm::app::ReadOperaHotList(text, level); break;
    case 2: qm::app::ShortcutAddress(text); break;
    case 3: qm::app::ReadChromiumBookmarks(text, level); break;
    }
    if (entries > qm::app::kBookmarkMaxEntries + 1) __builtin_trap();
    qm::app::BookmarkListing(root);
    return 0;
}
