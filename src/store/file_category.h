#pragma once
// One file-type category of a Project: text, images, video, audio, archive, user-defined, other.
#include <array>
#include <cstddef>
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

// The switches of a category, in their stored order.
enum class CategoryFlag {
    Excluded = 0,           // not marked in the dialog's tree: its files are not kept
    SelectedTypesOnly = 1,  // load only the selected types
    SelectedSizesOnly = 2,  // load only the selected sizes
    MinSizeOn = 3,          // the minimum size applies
    MaxSizeOn = 4,          // the maximum size applies
};
inline constexpr std::size_t kCategoryFlagCount = 5;

struct FileCategory {
    // The extensions, one per line separated by CR LF, possibly ending with a selection line
    // (a space and one "x"/"o" per entry). The "other" category has none.
    std::string Exts;
    // Indexed by CategoryFlag; stored as one "x" (on) or "o" (off) each, in this order.
    std::array<bool, kCategoryFlagCount> Flags{};
    bool& Flag(CategoryFlag flag) { return Flags[static_cast<std::size_t>(flag)]; }
    bool Flag(CategoryFlag flag) const { return Flags[static_cast<std::size_t>(flag)]; }
    int MinSize = 0;  // kilobytes
    int MaxSize = 0;  // kilobytes
};

// Key stems in stream and registry: "FTText", "FTImages", ... ("FTOther" has flags only).
extern const std::array<const char*, kCategoryCount> kCategoryKeys;
// Names used in messages and explanations: "text", "images", ...
extern const std::array<const char*, kCategoryCount> kCategoryNames;

}  // namespace qm::store
