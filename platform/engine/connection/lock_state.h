// What the lock file of a database tells other programs; the lock file code
// reports it and database.h offers it to programs.
#pragma once

namespace platform::engine {

// The lock file of a database as other programs see it: none, one that no
// live process holds (left by a process that died), or one held by a live
// connection (of this process or another).
enum class LockState { kNone, kStale, kHeld };

}  // namespace platform::engine
