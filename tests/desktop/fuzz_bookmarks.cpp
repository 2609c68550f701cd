// Bookmark files of any content: the first byte picks the reader (bookmark HTML, Opera hot
// list, shortcut file, Chromium JSON), the second the menu size.
#include <cstddef>
#include <cstdint>

#include "desktop/bookmarks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    qm::desktop::BookmarkItem root;
    std::size_t entries = 0;
    qm::desktop::BookmarkLevel level(root, data[1] % 16, entries);
    switch (data[0] % 4) {
    case 0: qm::desktop::ReadBookmarkHtml(text, level); break;
    case 1: qm::desktop::ReadOperaHotList(text, level); break;
    case 2: qm::desktop::ShortcutAddress(text); break;
    case 3: qm::desktop::ReadChromiumBookmarks(text, level); break;
    }
    if (entries > qm::desktop::kBookmarkMaxEntries + 1) __builtin_trap();
    qm::desktop::BookmarkListing(root);
    return 0;
}
