// Delivery of events "on the user-interface thread". The desktop application installs a
// poster that queues to its event loop; the command-line program and the tests use the
// built-in queue and pump it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace brennix {

using MainThreadTask = std::function<void()>;

// Hands a task to the main thread. Safe from any thread.
void PostToMainThread(MainThreadTask task);

// Replaces the built-in queue by another delivery (null restores the queue).
void SetMainThreadPoster(std::function<void(MainThreadTask)> poster);

// Runs the queued tasks on the calling thread; returns how many ran.
size_t PumpMainThread();

// Pumps until done() is true or timeoutMs has passed on the clock; returns done().
bool PumpMainThreadUntil(const std::function<bool()>& done, uint32_t timeoutMs);

}  // namespace brennix
