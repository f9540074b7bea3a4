#include "capture/win32_frame_thread.h"

#include <windows.h>

namespace Vardel::win32 {

void prepareFrameThread()
{
    // Since Windows 10 1607, and missing from mingw-w64's headers: looked up, not linked,
    // so that the plug-in still loads where it is absent.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        const auto proc = reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "SetThreadDescription"));
        if (const auto setDescription = reinterpret_cast<SetDescription>(proc))
            (void)setDescription(::GetCurrentThread(), L"korvane-frames");
    }
    // A refusal leaves the thread where it was: frames still flow, with more jitter.
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

} // namespace Vardel::win32
