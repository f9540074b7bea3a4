#pragma once

// The plug-in as the benchmarks that drive its loops directly start it: made and
// initialized on the benchmark's ring, as the host would, with a tap on that ring once
// the ring's page warmer has had its second.

#include "plugin/korvane_plugin.h"
#include "ring_tap.h"

#include <chrono>
#include <string>
#include <thread>

namespace Vardel::bench {

struct WarmPlugin {
    KorvanePlugin plugin;
    RingTap tap;

    explicit WarmPlugin(const std::string& ringName)
    {
        plugin.initialize();
        // The ring builds its pages' translations for a fraction of a second after connect.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        tap = RingTap::attachOrExit(ringName);
    }
};

} // namespace Vardel::bench
