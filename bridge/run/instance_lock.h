// The resident run's instance lock: the named mutex instance_name, which the launcher probes
// under its base name. Owns the mutex handle from the moment it is held to its release. Main
// thread only: bridge_main takes it before run_bridge and releases it once the run returned,
// its log closed.
#pragma once

// Takes the mutex: 0 once held, or the exit code 2 (mutex not created) or 1 (held elsewhere for
// 4000 ms). Nothing is logged either way: the log is the holder's.
int acquire_instance_lock(void);
// From here on another bridge can take the lock.
void release_instance_lock(void);
