#include "store/file_category.h"

namespace qm::store {

const std::array<const char*, kCategoryCount> kCategoryKeys = {"FTText",    "FTImages", "FTVideo", "FTAudio",
                                                               "FTArchive", "FTUDef",   "FTOther"};

const std::array<const char*, kCategoryCount> kCategoryNames = {"text",    "images",       "video", "audio",
                                                                "archive", "user-defined", "other"};

}  // namespace qm::store
