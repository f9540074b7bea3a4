#pragma once

#include <thread>

namespace Vardel {

// Owns at most one thread; stop() waits for it to end, and so does the destructor.
class RAIIThread {
public:
    RAIIThread() = default;
    ~RAIIThread() { stop(); }
    RAIIThread(const RAIIThread&) = delete;
    RAIIThread& operator=(const RAIIThread&) = delete;

    // Never drops a running thread: one still held is waited for first.
    RAIIThread& operator=(std::thread&& thread)
    {
        stop();
        thread_ = std::move(thread);
        return *this;
    }
    void stop()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
};

} // namespace Vardel
