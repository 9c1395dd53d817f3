// edit: the plug-in's editor in a window of our own, with every automation it
// sends printed as it arrives.
#include "host/Commands.h"
#include "host/KovalithMenus.h"
#include "host/OutputFile.h"
#include "host/ParameterOptions.h"
#include "host/PresetFiles.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <thread>

namespace kovalith {
namespace host {

namespace {

// How often the editor gets its idle call: about 50 times a second.
constexpr auto kIdlePeriod = std::chrono::milliseconds(20);

volatile std::sig_atomic_t gStop = 0;
void requestStop(int) { gStop = 1; }

// Restores the previous handlers of SIGINT and SIGTERM at the end of the scope.
class StopOnSignals {
public:
    StopOnSignals() {
        gStop = 0;
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopOnSignals() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

// The host's top-level window, the editor's parent, on a display connection of its own.
class HostWindow {
public:
    bool create(int width, int height, const std::string& title) {
        // A server busy with other connections may refuse one now and then.
        for (int attempt = 0; attempt < 3 && !display_; ++attempt) {
            display_ = XOpenDisplay(nullptr);
            if (!display_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!display_) return false;
        const int screen = DefaultScreen(display_);
        window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, static_cast<unsigned>(width),
                                      static_cast<unsigned>(height), 0, BlackPixel(display_, screen),
                                      BlackPixel(display_, screen));
        XStoreName(display_, window_, title.c_str());
        deleteWindow_ = XInternAtom(display_, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display_, window_, &deleteWindow_, 1);
        setFixedSize(width, height);
        XSelectInput(display_, window_, StructureNotifyMask);
        XMapWindow(display_, window_);
        XSync(display_, False);
        return true;
    }
    ~HostWindow() {
        if (!display_) return;
        if (window_) XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }

    // The editor's window has no decorations of its own: keep ours at its size.
    void setFixedSize(int width, int height) {
        XSizeHints* hints = XAllocSizeHints();
        if (!hints) return;
        hints->flags = PMinSize | PMaxSize;
        hints->min_width = hints->max_width = width;
        hints->min_height = hints->max_height = height;
        XSetWMNormalHints(display_, window_, hints);
        XFree(hints);
    }
    bool resize(int width, int height) {
        if (width <= 0 || height <= 0) return false;
        setFixedSize(width, height);
        XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XFlush(display_);
        return true;
    }

    // Handles our own events; false once the user closed the window.
    bool processEvents() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow_)
                return false;
            if (event.type == DestroyNotify && event.xdestroywindow.window == window_) {
                window_ = 0;
                return false;
            }
        }
        return true;
    }

    void* handle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(window_)); }

private:
    Display* display_ = nullptr;
    Window window_ = 0;
    Atom deleteWindow_ = 0;
};

constexpr double kMinEditScale = 1.0;
constexpr double kMaxEditScale = 3.0;

// The scale factor as hosts that scale VST 2.4 editors send it.
void sendScale(PluginInstance& plugin, double scale) {
    plugin.dispatch(vst2::effVendorSpecific, vst2::fourCC('P', 'r', 'e', 'S'), vst2::fourCC('A', 'e', 'C', 's'),
                    nullptr, static_cast<float>(scale));
}

void printAutomation(CommandContext& context) {
    PluginInstance& plugin = context.plugin;
    const std::vector<HostRequest> requests = plugin.requests();
    plugin.clearRecord();
    for (const HostRequest& request : requests) {
        if (request.opcode != vst2::audioMasterAutomate) continue;
        char value[32];
        std::snprintf(value, sizeof value, "%.6f", static_cast<double>(request.opt));
        context.out << request.index << '\t' << plugin.parameterName(request.index) << '\t' << value;
        if (isKovalithMenu(plugin, request.index)) context.out << menuItemText(request.index, request.opt);
        context.out << std::endl;
    }
}

int runEdit(CommandContext& context, const std::vector<std::string>& arguments) {
    std::vector<std::string> args = arguments;
    ParameterOptions options;
    std::string error;
    if (!extractParameterOptions(args, options, &error)) return context.usageError(error);
    std::string savePath;
    double seconds = 0.0;
    double scale = 0.0;  // none: the editor follows the system
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i], value;
        const std::size_t equals = arg.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
        }
        if (arg != "--save-fxp" && arg != "--seconds" && arg != "--scale")
            return context.usageError("unexpected '" + args[i] + "'");
        if (!inlineValue) {
            if (i + 1 >= args.size()) return context.usageError(arg + " needs a value");
            value = args[++i];
        }
        if (arg == "--save-fxp") {
            savePath = value;
            continue;
        }
        const std::optional<double> number = parseNumber(value);
        if (arg == "--scale") {
            if (!number || !(*number >= kMinEditScale && *number <= kMaxEditScale))
                return context.usageError("bad scale '" + value + "' (1 to 3)");
            scale = *number;
            continue;
        }
        if (!number || !(*number > 0.0) || *number > 1e6)
            return context.usageError("bad number of seconds '" + value + "'");
        seconds = *number;
    }

    // The target is made ready before the window opens: a session's edits must
    // not be lost to a file name that cannot be written.
    OutputFile saved;
    if (!savePath.empty()) {
        if (!isPresetFileName(savePath)) return context.usageError("--save-fxp needs a file ending in .fxp or .fxb");
        if (!saved.open(savePath, &error)) return context.failure(error);
    }

    PluginInstance& plugin = context.plugin;
    if (!(plugin.flags() & vst2::effFlagsHasEditor)) return context.failure("the plug-in has no editor");
    if (!applyParameterOptions(plugin, options, &error)) return context.usageError(error);
    // As a host that scales its plug-ins' windows: the factor before the size is asked.
    if (scale > 0.0) sendScale(plugin, scale);
    int width = 0, height = 0;
    if (!plugin.editorSize(width, height)) return context.failure("the plug-in gives no usable editor size");

    HostWindow window;
    if (!window.create(width, height, plugin.effectName().empty() ? "kovalith" : plugin.effectName()))
        return context.failure("cannot open the X display (is DISPLAY set?)");
    plugin.setSizeWindowHandler([&window](int w, int h) { return window.resize(w, h); });
    plugin.clearRecord();
    if (plugin.dispatch(vst2::effEditOpen, 0, 0, window.handle()) == 0) {
        plugin.setSizeWindowHandler(nullptr);
        return context.failure("the plug-in could not open its editor");
    }
    // And once more with the window open, as such hosts do; a change of size comes back
    // through audioMasterSizeWindow.
    if (scale > 0.0) sendScale(plugin, scale);
    context.err << "kovalith: editor open; close the window or press Ctrl-C to finish\n";

    {
        StopOnSignals signals;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!gStop && window.processEvents()) {
            plugin.dispatch(vst2::effEditIdle);
            printAutomation(context);
            if (seconds > 0.0 && std::chrono::steady_clock::now() >= end) break;
            std::this_thread::sleep_for(kIdlePeriod);
        }
    }
    plugin.dispatch(vst2::effEditClose);
    printAutomation(context);
    plugin.setSizeWindowHandler(nullptr);

    if (!savePath.empty()) {
        std::vector<uint8_t> bytes;
        if (!presetFileBytes(plugin, savePath, bytes, &error)) return context.failure(error);
        saved.write(bytes.data(), bytes.size());
        if (!saved.commit(&error)) return context.failure(error);
        context.err << "kovalith: saved " << savePath << "\n";
    }
    return kExitSuccess;
}

const CommandRegistrar edit(
    {"edit", "edit [--scale S] [--save-fxp FILE] [OPTIONS]",
     "open the editor in a window and print its automation",
     "Opens the plug-in's editor in a window of its own on the X display and\n"
     "prints every automation it sends (index, name, value) until the window is\n"
     "closed or Ctrl-C is pressed.\n"
     "\n"
     "Options:\n"
     "  --save-fxp FILE    save the program (.fxp) or bank (.fxb) when the window\n"
     "                     closes; the name and folder are checked first\n"
     "  --seconds N        close the window after N seconds\n"
     "  --scale S          act as a host that scales its windows by S (1 to 3,\n"
     "                     1.5 for 150 %): the editor is S times larger unless\n"
     "                     its own menu (right click on the panel) says otherwise\n" KOVALITH_PARAMETER_OPTIONS_HELP
     "\n"
     "Examples:\n"
     "  kovalith edit --preset FBM --save-fxp my-fbm.fxp\n"
     "  kovalith edit --scale 2\n"
     "  kovalith --load my-bank.fxb edit\n",
     runEdit});

}  // namespace

}  // namespace host
}  // namespace kovalith
