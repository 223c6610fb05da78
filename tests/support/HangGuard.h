#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Turns a deadlock into a test failure. Construct it before a call that
// must not wait for another thread; if finish() is not reached within the
// limit, a thread of its own runs `rescue` (which must free whatever the
// call waits for, so that the test goes on) and finish() then reports that
// it had to. The limit is generous: it tells a hang from a slow machine,
// never measures speed.
class HangGuard
{
public:
    explicit HangGuard(std::function<void()> rescue, int limitMs = 10000)
        : m_thread([this, rescue = std::move(rescue), limitMs] {
              std::unique_lock lock(m_lock);
              if (m_done.wait_for(lock, std::chrono::milliseconds(limitMs),
                                  [this] { return m_finished; }))
                  return;
              m_rescued = true;
              lock.unlock();
              rescue();
          })
    {}
    ~HangGuard() { finish(); }
    HangGuard(const HangGuard &) = delete;
    HangGuard &operator=(const HangGuard &) = delete;

    // Ends the guard; true when the call returned by itself, false when the
    // rescue had to free it.
    bool finish()
    {
        {
            std::lock_guard lock(m_lock);
            m_finished = true;
        }
        m_done.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        std::lock_guard lock(m_lock);
        return !m_rescued;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_finished = false; // m_lock
    bool m_rescued = false;  // m_lock
    std::thread m_thread;
};
