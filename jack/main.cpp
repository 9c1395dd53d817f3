// kovalith-jack: Kovalith as a standalone JACK client, with the editor as its
// window. JACK is loaded at run time, so without it the program still starts
// and says why it cannot run.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "effect/EditController.h"
#include "effect/KovalithEffect.h"
#include "effect/ParameterText.h"
#include "jack/JackLibrary.h"
#include "jack/JackShell.h"
#include "jack/Options.h"
#include "jack/StateFile.h"
#ifndef KOVALITH_NO_EDITOR
#include "editor/KovalithEditor.h"
#include "jack/EditorWindow.h"
#endif

namespace kovalith {
namespace jack {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr auto kIdlePeriod = std::chrono::milliseconds(33);  // the editor's redraws, ~30 Hz
constexpr int kLearnCommandBase = 68;  // setParameter(68 + p, v): a MIDI-learn command for parameter p

volatile sig_atomic_t stopSignal = 0;
void onStopSignal(int signal) { stopSignal = signal; }

int failWith(const std::string& message) {
    std::fprintf(stderr, "kovalith-jack: %s\n", message.c_str());
    return kExitFailure;
}

bool isNumber(const std::string& text) {
    return !text.empty() && text.size() < 4 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// A program number, or a program name (exact first, then ignoring case); -1 for none.
int findProgram(const KovalithEffect& effect, const std::string& text) {
    if (isNumber(text)) {
        const int n = std::atoi(text.c_str());
        return n < kNumPrograms ? n : -1;
    }
    char name[kProgramNameSize] = {};
    for (int pass = 0; pass < 2; ++pass)
        for (int p = 0; p < kNumPrograms; ++p)
            if (effect.getProgramNameIndexed(p, name) && (pass == 0 ? text == name : equalIgnoringCase(text, name)))
                return p;
    return -1;
}

// A parameter number, or a parameter's name, host name or symbol (exact first,
// then ignoring case); -1 for none.
int findParameter(const std::string& text) {
    if (isNumber(text)) {
        const int n = std::atoi(text.c_str());
        return n < kNumParams ? n : -1;
    }
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < kNumParams; ++i) {
            const ParameterDescription& d = describeParameter(i);
            for (const char* name : {d.name, d.symbol, kParameterTable[i].name})
                if (name[0] && (pass == 0 ? text == name : equalIgnoringCase(text, name))) return i;
        }
    return -1;
}

// The state file, then the program, then each --set, in that order.
bool applyStartState(KovalithEffect& effect, const Options& options, StateFileKind& kind, std::string* error) {
    kind = kindFromName(options.stateFile);
    if (!options.stateFile.empty()) {
        // A file that does not exist yet is where --save will put the state.
        const bool create = options.save && access(options.stateFile.c_str(), F_OK) != 0;
        if (!create && !loadStateFile(effect, options.stateFile, kind, error)) return false;
    }
    if (options.program) {
        const int program = findProgram(effect, *options.program);
        if (program < 0) {
            *error = "no program '" + *options.program + "'";
            return false;
        }
        effect.setProgram(program);
    }
    for (const auto& [name, text] : options.settings) {
        const int index = findParameter(name);
        if (index < 0) {
            *error = "no parameter '" + name + "'";
            return false;
        }
        const std::optional<float> value = parseParameter(index, text.c_str(), effect.displayContext());
        if (!value) {
            *error = "'" + text + "' is not a value of " + describeParameter(index).name;
            return false;
        }
        effect.setParameter(index, *value);
    }
    return true;
}

#ifndef KOVALITH_NO_EDITOR
// The editor's link to the effect: its edits set the effect's parameters
// directly (there is no host to tell), and every change of the effect, from
// any thread, reaches the editor's controls.
class EditorLink : public IEditController, public IEffectListener {
public:
    explicit EditorLink(KovalithEffect& effect) : effect_(effect), editor_(this) {}

    KovalithEditor& editor() { return editor_; }

    float parameterValue(int index) override { return effect_.getParameter(index); }
    float syncedValue(int index) override { return effect_.getSyncedValue(index); }
    DisplayContext displayContext() override { return effect_.displayContext(); }
    void beginEdit(int) override {}
    void performEdit(int index, float value) override { effect_.setParameter(index, value); }
    void endEdit(int) override {}
    void learnCommand(int index, float value) override { effect_.setParameter(kLearnCommandBase + index, value); }

    void parameterChanged(int index, float value) override { editor_.setParameter(index, value); }
    void parameterSetByController(int, float) override {}

private:
    KovalithEffect& effect_;
    KovalithEditor editor_;
};

// The editor in its own window, or nothing when there is no display.
class EditorSession {
public:
    explicit EditorSession(KovalithEffect& effect) : effect_(effect) {}
    ~EditorSession() { close(); }

    // Opens the window and makes the editor the effect's listener; call before
    // the audio starts. False, saying why, when there is no display.
    bool open(const std::string& title) {
        if (!std::getenv("DISPLAY")) {
            std::fprintf(stderr, "kovalith-jack: no DISPLAY; running without the editor\n");
            return false;
        }
        link_ = std::make_unique<EditorLink>(effect_);
        KovalithEditor& editor = link_->editor();
        std::string why;
        // No host to scale it: the user's choice or the system's; the window follows its changes.
        editor.refreshScale();
        editor.setResizeRequest([this](int width, int height) { return window_.resize(width, height); });
        if (!window_.open(editor.width(), editor.height(), title, &why) || !editor.open(window_.parentHandle())) {
            std::fprintf(stderr, "kovalith-jack: %s; running without the editor\n",
                         why.empty() ? "the editor cannot open" : why.c_str());
            window_.close();
            link_.reset();
            return false;
        }
        effect_.setListener(link_.get());
        window_.show();
        return true;
    }
    bool isOpen() const { return link_ != nullptr; }
    int fd() const { return window_.fd(); }
    // False once the user has closed the window.
    bool handleEvents() { return window_.handleEvents(); }
    void idle() { link_->editor().idle(); }
    // After the audio has stopped: nothing reaches the editor any more.
    void close() {
        if (!link_) return;
        effect_.setListener(nullptr);
        link_->editor().close();
        window_.close();
        link_.reset();
    }

private:
    KovalithEffect& effect_;
    std::unique_ptr<EditorLink> link_;
    EditorWindow window_;
};
#else
class EditorSession {
public:
    explicit EditorSession(KovalithEffect&) {}
    bool open(const std::string&) {
        std::fprintf(stderr, "kovalith-jack: built without the editor\n");
        return false;
    }
    bool isOpen() const { return false; }
    int fd() const { return -1; }
    bool handleEvents() { return true; }
    void idle() {}
    void close() {}
};
#endif

// Waits for a stop signal, the server's end or the window's close, idling the
// editor meanwhile. The stop signals are blocked everywhere but in this wait.
void runUntilStopped(const JackShell& shell, const sigset_t& waitMask, EditorSession& editor) {
    using Clock = std::chrono::steady_clock;
    auto nextIdle = Clock::now();
    while (!stopSignal && !shell.serverGone()) {
        pollfd fds[1] = {{editor.fd(), POLLIN, 0}};
        auto timeout = std::chrono::milliseconds(200);
        if (editor.isOpen())
            timeout = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(nextIdle - Clock::now()));
        const timespec wait{0, static_cast<long>(timeout.count()) * 1000000L};
        ppoll(editor.isOpen() ? fds : nullptr, editor.isOpen() ? 1 : 0, &wait, &waitMask);
        if (!editor.isOpen()) continue;
        if (!editor.handleEvents()) return;
        if (Clock::now() >= nextIdle) {
            editor.idle();
            nextIdle = Clock::now() + kIdlePeriod;
        }
    }
}

int run(int argc, char** argv) {
    std::string error;
    const std::optional<Options> parsed = parseOptions(argc, argv, &error);
    if (!parsed) {
        std::fprintf(stderr, "kovalith-jack: %s\n%s", error.c_str(), usageText());
        return kExitUsage;
    }
    const Options& options = *parsed;
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("kovalith-jack %s\n", KOVALITH_VERSION);
        return 0;
    }

    JackLibrary jack;
    if (!jack.load(&error)) return failWith(error);

    auto effect = std::make_unique<KovalithEffect>();
    StateFileKind stateKind = StateFileKind::State;
    if (!applyStartState(*effect, options, stateKind, &error)) return failWith(error);

    // JACK's threads inherit this mask: the stop signals reach the main thread's wait only.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    JackShell shell(jack, *effect);
    if (!shell.open(options.clientName, &error)) return failWith(error);
    // The editor listens to the effect before the audio thread starts.
    EditorSession editor(*effect);
    if (options.gui) editor.open("Kovalith (" + shell.clientName() + ")");
    std::string warning;
    if (!shell.activate(options.connectSystem, &error, &warning)) return failWith(error);
    if (!warning.empty()) std::fprintf(stderr, "kovalith-jack: %s", warning.c_str());
    char programName[kProgramNameSize] = {};
    effect->getProgramName(programName);
    std::printf("kovalith-jack: running as JACK client \"%s\" at %u Hz, %u frames per period, program %d \"%s\"\n",
                shell.clientName().c_str(), shell.sampleRate(), shell.bufferSize(), effect->program(), programName);
    std::fflush(stdout);

    runUntilStopped(shell, waitMask, editor);

    const bool serverGone = shell.serverGone();
    shell.close();
    editor.close();
    int code = 0;
    if (serverGone) code = failWith(std::string("the JACK server stopped the client: ") + shell.shutdownReason());
    if (shell.xruns() > 0) std::fprintf(stderr, "kovalith-jack: %u xruns while running\n", shell.xruns());
    if (options.save && !saveStateFile(*effect, options.stateFile, stateKind, &error)) code = failWith(error);
    return code;
}

}  // namespace
}  // namespace jack
}  // namespace kovalith

int main(int argc, char** argv) { return kovalith::jack::run(argc, argv); }
