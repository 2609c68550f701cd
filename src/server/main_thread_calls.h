#pragma once
// Runs work of the answering threads on the main thread (the Project tree and the options
// belong to it) and waits for it. Calls that arrive together are carried over in one batch,
// so that a busy server wakes the main thread once per batch rather than once per request,
// and each caller is woken alone when its batch is done.
#include <functional>

namespace qm::server {

// Runs fn on the main thread and waits until it has run. Returns false, without running fn,
// when the main thread's loop has ended.
bool CallOnMainThread(std::function<void()> fn);

}  // namespace qm::server
