// The frame thread on Windows: its name and priority.

#include "capture/win32_frame_thread.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

using namespace Vardel;

// In kernel32 since Windows 10 1607 (and in Wine), missing from mingw-w64's headers.
extern "C" HRESULT WINAPI GetThreadDescription(HANDLE thread, PWSTR* description);

TEST(FrameThread, IsNamedAndRaisedToHighest)
{
    int priority = 0;
    PWSTR name = nullptr;
    std::thread([&] {
        win32::prepareFrameThread();
        priority = GetThreadPriority(GetCurrentThread());
        GetThreadDescription(GetCurrentThread(), &name);
    }).join();
    EXPECT_EQ(priority, THREAD_PRIORITY_HIGHEST);
    EXPECT_EQ(std::wstring(name ? name : L""), L"korvane-frames");
    LocalFree(name);
}
