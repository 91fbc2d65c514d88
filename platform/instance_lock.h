// The named mutex that keeps a second copy of a program from running: an
// exclusive flock on a lock file named after the mutex in $XDG_RUNTIME_DIR
// (else /tmp), held for the life of the process or until released.
#pragma once

#include <string>

namespace platform {

// True when this process now owns the named lock; false when another
// process holds it (or the lock file cannot be made).
bool acquire_instance_lock(const std::string& name);
void release_instance_lock();

}  // namespace platform
