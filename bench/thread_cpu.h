#pragma once

// CPU time of one thread of this process, read from outside that thread, and a way to
// find the thread a call started: the plug-in creates its frame thread itself, so the
// benchmarks tell it apart as the thread that was not there before.

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace Vardel::bench {

// The ids of this process's threads, ascending.
inline std::vector<pid_t> threadIds()
{
    std::vector<pid_t> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.')
                ids.push_back(pid_t(std::atoi(entry->d_name)));
        }
        ::closedir(dir);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

// Threads in now that were not in before.
inline std::vector<pid_t> newThreads(const std::vector<pid_t>& before, const std::vector<pid_t>& now)
{
    std::vector<pid_t> added;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

// The plug-in's frame thread, by the name it gives itself; 0 when none runs.
inline pid_t frameThreadId()
{
    for (const pid_t tid : threadIds()) {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/comm", int(tid));
        std::string name;
        if (std::getline(std::ifstream(path), name) && name == "korvane-frames")
            return tid;
    }
    return 0;
}

// Seconds the thread has run on a CPU (user and system), in nanosecond resolution: the
// first field of schedstat. -1 once the thread has gone.
inline double threadCpuSeconds(pid_t tid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", int(tid));
    std::ifstream in(path);
    unsigned long long runNs = 0;
    if (!(in >> runNs))
        return -1.0;
    return double(runNs) / 1e9;
}

} // namespace Vardel::bench
