#include "gui/CVSTGUITimer.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace VSTGUI {

namespace {

uint64_t (*gTickSource)() = nullptr;

std::vector<CVSTGUITimer*>& runningTimers() {
    static std::vector<CVSTGUITimer*> timers;
    return timers;
}

bool isRegistered(CVSTGUITimer* timer) {
    const auto& timers = runningTimers();
    return std::find(timers.begin(), timers.end(), timer) != timers.end();
}

}  // namespace

uint64_t getTicks() {
    if (gTickSource) return gTickSource();
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void setTickSource(uint64_t (*source)()) { gTickSource = source; }

CVSTGUITimer::CVSTGUITimer(Callback callback, uint32_t periodMs, bool startNow)
    : callback_(std::move(callback)), period_(std::max<uint32_t>(periodMs, 1)) {
    if (startNow) start();
}

CVSTGUITimer::~CVSTGUITimer() { stop(); }

void CVSTGUITimer::start() {
    due_ = getTicks() + period_;
    if (!running_) runningTimers().push_back(this);
    running_ = true;
}

void CVSTGUITimer::stop() {
    if (!running_) return;
    auto& timers = runningTimers();
    timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
    running_ = false;
}

void CVSTGUITimer::setPeriod(uint32_t periodMs) {
    period_ = std::max<uint32_t>(periodMs, 1);
    if (running_) due_ = getTicks() + period_;
}

void CVSTGUITimer::fireDueTimers() {
    const std::vector<CVSTGUITimer*> snapshot = runningTimers();
    for (CVSTGUITimer* timer : snapshot) {
        // An earlier callback may have stopped or destroyed this timer.
        if (!isRegistered(timer)) continue;
        const uint64_t now = getTicks();
        if (now < timer->due_) continue;
        // The next firing keeps the period's rhythm but never piles up missed periods.
        timer->due_ = std::max(timer->due_ + timer->period_, now + 1);
        if (timer->callback_) timer->callback_(timer);
    }
}

}  // namespace VSTGUI
