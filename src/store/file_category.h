#pragma once
// One file-type category of a Project: text, images, video, audio, archive, user-defined, other.
#include <array>
#include <string>

namespace qm::store {

enum CategoryIndex : int {
    kCatText = 0,
    kCatImages,
    kCatVideo,
    kCatAudio,
    kCatArchive,
    kCatUserDefined,
    kCatOther,
    kCategoryCount
};

struct FileCategory {
    // The extensions, one per line separated by CR LF, possibly ending with a selection line
    // (a space and one "x"/"o" per entry). The "other" category has none.
    std::string Exts;
    // 0 marked in the dialog's tree, 1 load only the selected types, 2 load only the selected
    // sizes, 3 minimum size on, 4 maximum size on.
    std::array<bool, 5> Flags{};
    int MinSize = 0;  // kilobytes
    int MaxSize = 0;  // kilobytes
};

// Key stems in stream and registry: "FTText", "FTImages", ... ("FTOther" has flags only).
extern const std::array<const char*, kCategoryCount> kCategoryKeys;
// Names used in messages and explanations: "text", "images", ...
extern const std::array<const char*, kCategoryCount> kCategoryNames;

}  // namespace qm::store
