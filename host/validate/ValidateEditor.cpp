// The editor group: the editor opened into an X11 parent window, idled and
// closed many times without leaking X resources or memory, and beside running
// audio. Skipped without an editor or a display.
#include "host/validate/Validate.h"

// After the project's headers: Xlib's macros (None, Bool, ...) clash with names.
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <chrono>

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int kWarmUpCycles = 3;
constexpr int kIdlesPerCycle = 3;
constexpr int kDefaultWidth = 640, kDefaultHeight = 480;
// Growth that still counts as flat over a whole run.
constexpr double kPixmapBytesPerCycle = 1024.0;
// How long the X server is left to catch up with the plug-in's connection
// before resources are counted, and how often at most.
constexpr std::chrono::milliseconds kSettlePause{20};
constexpr int kSettleTries = 50;

// The host's window the editor is opened into.
class ParentWindow {
public:
    ParentWindow() : display_(XOpenDisplay(nullptr)) {
        if (!display_) return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, kDefaultWidth, kDefaultHeight, 0,
                                      0, 0);
        XMapWindow(display_, window_);
        XSync(display_, False);
    }
    ~ParentWindow() {
        if (!display_) return;
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    ParentWindow(const ParentWindow&) = delete;
    ParentWindow& operator=(const ParentWindow&) = delete;

    bool open() const { return display_ != nullptr; }
    Display* display() const { return display_; }
    void* handle() const { return reinterpret_cast<void*>(window_); }

    void drain() {
        XSync(display_, False);
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
        }
    }

private:
    Display* display_;
    Window window_ = 0;
};

// What every client of the X server holds, as the XRes extension counts it.
struct ServerUsage {
    long resources = 0;
    double pixmapBytes = 0.0;
};

bool serverUsage(Display* display, ServerUsage& usage) {
    int eventBase = 0, errorBase = 0;
    if (!XResQueryExtension(display, &eventBase, &errorBase)) return false;
    int count = 0;
    XResClient* clients = nullptr;
    if (!XResQueryClients(display, &count, &clients)) return false;
    usage = ServerUsage{};
    for (int i = 0; i < count; ++i) {
        int types = 0;
        XResType* counts = nullptr;
        if (XResQueryClientResources(display, clients[i].resource_base, &types, &counts)) {
            for (int t = 0; t < types; ++t) usage.resources += counts[t].count;
            XFree(counts);
        }
        unsigned long bytes = 0;
        if (XResQueryClientPixmapBytes(display, clients[i].resource_base, &bytes)) usage.pixmapBytes += bytes;
    }
    XFree(clients);
    return true;
}

// The X server orders requests per connection only: while our round trips
// keep it busy it may serve them first, again and again, and leave what the
// plug-in sent on its own connection waiting (seen on a loaded machine: none
// of 40 windows made when counted, then BadWindow for all of them once the
// parent was gone). So the server gets quiet moments to catch up first, and
// the count is taken when two in a row agree.
bool settledServerUsage(Display* display, ServerUsage& usage) {
    ServerUsage last;
    std::this_thread::sleep_for(kSettlePause);
    if (!serverUsage(display, last)) return false;
    for (int i = 0; i < kSettleTries; ++i) {
        std::this_thread::sleep_for(kSettlePause);
        if (!serverUsage(display, usage)) return false;
        if (usage.resources == last.resources && usage.pixmapBytes == last.pixmapBytes) break;
        last = usage;
    }
    return true;
}

// The parent window, once the check knows there is an editor and a display.
std::unique_ptr<ParentWindow> parentFor(Check& check) {
    if (!check.plugin().hasEditor()) check.skip("the plug-in has no editor");
    auto parent = std::make_unique<ParentWindow>();
    if (!parent->open()) check.skip("no X display (DISPLAY)");
    return parent;
}

// Opens, idles and closes the editor once; false when it refused to open.
bool openIdleClose(Subject& plugin, ParentWindow& parent, int idles, Rng* automation) {
    vst2::ERect* rect = nullptr;
    plugin.dispatch(vst2::effEditGetRect, 0, 0, &rect, 0.0f, PointerKind::Rect);
    const bool opened = plugin.dispatch(vst2::effEditOpen, 0, 0, parent.handle(), 0.0f, PointerKind::Window) != 0;
    for (int i = 0; i < idles; ++i) {
        if (automation && plugin.numParams() > 0)
            plugin.setParameter(automation->range(0, plugin.numParams() - 1), randomParameterValue(*automation));
        plugin.dispatch(vst2::effEditIdle);
        parent.drain();
    }
    plugin.dispatch(vst2::effEditClose);
    parent.drain();
    return opened;
}

void checkCycles(Check& check, int cycles) {
    Subject& plugin = check.plugin();
    std::unique_ptr<ParentWindow> parent = parentFor(check);
    plugin.note("editor open/idle/close cycles");
    for (int i = 0; i < kWarmUpCycles; ++i) {
        if (!openIdleClose(plugin, *parent, kIdlesPerCycle, nullptr)) {
            check.fail("effEditOpen answers 0 for an X11 parent window");
            return;
        }
    }
    ServerUsage before, after;
    if (!settledServerUsage(parent->display(), before)) check.skip("the X server does not count resources (no XRes)");
    const double rssBefore = residentBytes();
    for (int i = 0; i < cycles; ++i) openIdleClose(plugin, *parent, kIdlesPerCycle, nullptr);
    const double rssGrowth = residentBytes() - rssBefore;
    if (settledServerUsage(parent->display(), after)) {
        const long grown = after.resources - before.resources;
        if (grown > 2 + cycles / 10)
            check.fail("X server resources grow by " + std::to_string(grown) + " over " + std::to_string(cycles) +
                       " cycles");
        const double pixmapGrowth = after.pixmapBytes - before.pixmapBytes;
        if (pixmapGrowth > kPixmapBytesPerCycle * cycles)
            check.fail("X pixmaps grow by " + std::to_string(static_cast<long>(pixmapGrowth)) + " bytes over " +
                       std::to_string(cycles) + " cycles");
    }
    if (!residentGrowthFlat(rssGrowth, cycles))
        check.fail("RSS grows by " + std::to_string(static_cast<long>(rssGrowth / cycles)) + " bytes per cycle");
}

void checkBesideAudio(Check& check) {
    Subject& plugin = check.plugin();
    std::unique_ptr<ParentWindow> parent = parentFor(check);
    plugin.resume();
    plugin.note("editor cycles beside running audio, with automation");
    AudioRunner audio(plugin, check.rng().next(), 512);
    const int cycles = check.scaled(1000, 4);
    for (int i = 0; i < cycles; ++i) openIdleClose(plugin, *parent, 10, &check.rng());
    audio.stop();
    if (audio.nonFiniteBlocks() > 0)
        check.fail(std::to_string(audio.nonFiniteBlocks()) + " of " + std::to_string(audio.blocks()) +
                   " blocks not finite beside the editor");
}

}  // namespace

void validateEditor(Session& session) {
    const int cycles = std::max(10, session.settings().strictness * session.settings().strictness * 10);
    session.run("editor", "open, idle and close " + std::to_string(cycles) + " times: X resources and RSS flat",
                [cycles](Check& check) { checkCycles(check, cycles); });
    session.run("editor", "open, idle and close beside running audio and automation", checkBesideAudio);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
