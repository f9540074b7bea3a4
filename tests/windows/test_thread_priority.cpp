#include "capture/win32_thread_priority.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

TEST(FrameThreadPriority, RaisesTheCallingThreadToHighest)
{
    int before = 0;
    int after = 0;
    std::thread([&] {
        before = GetThreadPriority(GetCurrentThread());
        Vardel::win32::raiseCurrentThreadPriority();
        after = GetThreadPriority(GetCurrentThread());
    }).join();

    EXPECT_EQ(before, THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(after, THREAD_PRIORITY_HIGHEST);
}
