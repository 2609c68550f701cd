#include "server/pictures.h"

namespace qm::server {

namespace {
// Folder, transparent spacer, start arrow and folder with an up arrow (16x16, 20x20, 16x16,
// 16x14), drawn by make_pictures.py.
#include "server/pictures_data.inc"

template <std::size_t N>
std::string_view View(const unsigned char (&bytes)[N]) {
    return std::string_view(reinterpret_cast<const char*>(bytes), N);
}

struct Picture {
    const char* name;
    std::string_view bytes;
};
const Picture kPictures[] = {
    {"/folder.gif", View(kFolderGif)},
    {"/empty.gif", View(kEmptyGif)},
    {"/start.gif", View(kStartGif)},
    {"/upfold.gif", View(kUpFoldGif)},
};
}  // namespace

const std::string_view* BuiltInPicture(const std::string& loweredPath) {
    for (const Picture& p : kPictures)
        if (loweredPath == p.name) return &p.bytes;
    return nullptr;
}

}  // namespace qm::server
