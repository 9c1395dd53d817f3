// Timers fired from the frames' idle calls (no threads), and the toolkit's clock.
#pragma once

#include <cstdint>
#include <functional>

namespace VSTGUI {

// Milliseconds of a monotonic clock. Tests may substitute their own source (null restores
// the system clock).
uint64_t getTicks();
void setTickSource(uint64_t (*source)());

// Calls its callback every `periodMs` milliseconds while running, at the first frame idle
// after each period has passed (so never more often than idle runs). GUI thread only.
class CVSTGUITimer {
public:
    using Callback = std::function<void(CVSTGUITimer*)>;

    CVSTGUITimer(Callback callback, uint32_t periodMs, bool startNow = false);
    CVSTGUITimer(const CVSTGUITimer&) = delete;
    CVSTGUITimer& operator=(const CVSTGUITimer&) = delete;
    ~CVSTGUITimer();

    void start();
    void stop();
    bool isRunning() const { return running_; }
    void setPeriod(uint32_t periodMs);
    uint32_t getPeriod() const { return period_; }

    // Fires every running timer whose period has passed; CFrame::idle calls this.
    // Callbacks may start, stop or destroy timers.
    static void fireDueTimers();

private:
    Callback callback_;
    uint32_t period_;
    uint64_t due_ = 0;
    bool running_ = false;
};

}  // namespace VSTGUI
