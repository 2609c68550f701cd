#pragma once
// How the download queue's pool of connections changed.

namespace qm::engine {

enum class PoolChange { Added = 1, Removed = 2 };

}  // namespace qm::engine
