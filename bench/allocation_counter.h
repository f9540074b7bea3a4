#pragma once

// Counts heap allocations and mutex locks made by one chosen thread. The program that
// links allocation_counter.cpp replaces malloc and its relatives (operator new ends in
// malloc) and pthread_mutex_lock for the whole process, the plug-in library included;
// only calls on the watched thread are counted.

#include <sys/types.h>

namespace Vardel::bench {

// 0 watches no thread.
void watchThread(pid_t tid);
long watchedAllocations();
long watchedMutexLocks();

} // namespace Vardel::bench
