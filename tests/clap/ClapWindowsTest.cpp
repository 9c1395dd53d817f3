// The Windows Kovalith.clap under Wine, loaded with LoadLibrary by the same
// small host as on Linux: what a host sees of it, its state, and the parity
// cases (tests/windows/parity-cases.txt) against the Linux library's
// references (`kovalith render --block 512 --tail 1`), within 1e-4 of each
// reference's peak.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "tests/clap/ClapParity.h"

namespace claptest {
namespace {

constexpr const char* kPluginId = "audio.kovalith.kovalith";
constexpr uint32_t kBlock = 512;
constexpr double kTolerance = 1e-4;  // of the reference's peak

std::string parityFile(const std::string& name) { return std::string(KOVALITH_PARITY_DIR) + "/" + name; }

struct Loaded {
    std::unique_ptr<ClapModule> module;
    std::unique_ptr<ClapInstance> instance;
};

Loaded load() {
    Loaded l;
    std::string error;
    l.module = ClapModule::open(KOVALITH_CLAP_PATH, &error);
    EXPECT_NE(l.module, nullptr) << error;
    if (l.module) l.instance = ClapInstance::create(*l.module, kPluginId, &error);
    EXPECT_NE(l.instance, nullptr) << error;
    return l;
}

TEST(ClapWindows, WhatAHostSeesAndTheStateRoundTrip) {
    Loaded l = load();
    ASSERT_NE(l.instance, nullptr);
    ClapInstance& k = *l.instance;
    const clap_plugin_descriptor_t* d = k.plugin()->desc;
    EXPECT_STREQ(d->id, kPluginId);
    EXPECT_STREQ(d->version, "0.9");
    EXPECT_EQ(k.paramCount(), 54u);
    EXPECT_EQ(k.paramText(26, 1), std::optional<std::string>("tri"));
    ASSERT_NE(k.gui(), nullptr);
    EXPECT_TRUE(k.gui()->is_api_supported(k.plugin(), CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(k.gui()->is_api_supported(k.plugin(), CLAP_WINDOW_API_X11, false));

    const std::optional<std::vector<uint8_t>> saved = k.saveState();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->size(), 24576u + 8u);
    ASSERT_TRUE(k.loadState(*saved, 100));
    EXPECT_EQ(k.saveState(), saved);
    std::vector<uint8_t> damaged = *saved;
    damaged.pop_back();
    EXPECT_FALSE(k.loadState(damaged));
    EXPECT_EQ(k.saveState(), saved);
}

// A window of the test for the editor to open into, as a host's plug-in frame.
HWND hostWindow() {
    static const bool registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "KovalithClapTestHost";
        return RegisterClassA(&windowClass) != 0;
    }();
    if (!registered) return nullptr;
    return CreateWindowExA(0, "KovalithClapTestHost", "Kovalith", WS_POPUP | WS_VISIBLE, 0, 0, 659, 479, nullptr,
                           nullptr, GetModuleHandleA(nullptr), nullptr);
}

// The thread's messages and the host's timers for `ms`.
void pump(ClapInstance& k, DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        k.fireTimers();
        Sleep(10);
    }
}

TEST(ClapWindows, TheEditorEmbedsInAWin32WindowAndItsEditsReachTheHost) {
    Loaded l = load();
    ASSERT_NE(l.instance, nullptr);
    ClapInstance& k = *l.instance;
    const clap_plugin_t* p = k.plugin();
    const clap_plugin_gui_t* gui = k.gui();
    HWND parent = hostWindow();
    ASSERT_NE(parent, nullptr);
    ASSERT_TRUE(k.activate(44100.0, 1, kBlock));
    EventList in, out;
    in.addParamValue(17, 0.25);
    k.flush(in, out);

    ASSERT_TRUE(gui->create(p, CLAP_WINDOW_API_WIN32, false));
    clap_window_t window{};
    window.api = CLAP_WINDOW_API_WIN32;
    window.win32 = parent;
    ASSERT_TRUE(gui->set_parent(p, &window));
    ASSERT_TRUE(gui->show(p));
    pump(k, 100);
    HWND editor = GetWindow(parent, GW_CHILD);
    ASSERT_NE(editor, nullptr);
    RECT client{};
    GetClientRect(editor, &client);
    EXPECT_EQ(client.right - client.left, 659);
    EXPECT_EQ(client.bottom - client.top, 479);

    // The Feedback knob's centre is (520, 59): drag up 40 pixels.
    const auto send = [&](UINT message, WPARAM keys, int x, int y) {
        SendMessageA(editor, message, keys, MAKELPARAM(x, y));
    };
    send(WM_LBUTTONDOWN, MK_LBUTTON, 520, 59);
    for (int step = 1; step <= 4; ++step) send(WM_MOUSEMOVE, MK_LBUTTON, 520, 59 - 10 * step);
    send(WM_LBUTTONUP, 0, 520, 19);
    pump(k, 50);
    EXPECT_NEAR(*k.paramValue(17), 0.45, 1e-5);
    EXPECT_GE(k.record().requestFlush, 3);
    out.clear();
    k.flush(EventList(), out);
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out.at(0).type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(out.at(out.size() - 1).type, CLAP_EVENT_PARAM_GESTURE_END);
    EXPECT_EQ(out.ofType(CLAP_EVENT_PARAM_VALUE).size(), out.size() - 2);

    EXPECT_TRUE(gui->hide(p));
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    EXPECT_TRUE(gui->show(p));
    EXPECT_NE(GetWindow(parent, GW_CHILD), nullptr);
    gui->destroy(p);
    pump(k, 20);
    EXPECT_EQ(GetWindow(parent, GW_CHILD), nullptr);
    EXPECT_TRUE(k.timers().empty());
    DestroyWindow(parent);
}

TEST(ClapWindows, ParityCasesMatchTheLinuxLibraryWithinATenThousandthOfThePeak) {
    std::ifstream why(parityFile("no-references.txt"));
    std::string problem;
    if (std::getline(why, problem) && !problem.empty()) GTEST_SKIP() << problem;
    Stereo input;
    int rate = 0;
    std::string error;
    ASSERT_TRUE(readFloatWav(parityFile("input.wav"), input, rate, &error)) << error;
    const std::vector<ParityCase> cases = readParityCases(KOVALITH_PARITY_CASES);
    ASSERT_GE(cases.size(), 5u);
    std::ofstream report(parityFile(sizeof(void*) == 8 ? "report-clap-win64.txt" : "report-clap-win32.txt"));
    for (const ParityCase& c : cases) {
        SCOPED_TRACE(c.name);
        Stereo reference;
        int referenceRate = 0;
        ASSERT_TRUE(readFloatWav(parityFile(c.name + ".wav"), reference, referenceRate, &error)) << error;
        Loaded l = load();
        ASSERT_NE(l.instance, nullptr);
        ASSERT_TRUE(l.instance->activate(rate, 1, kBlock));
        CaseSettings settings;
        ASSERT_TRUE(parseCase(*l.instance, c, settings, &error)) << error;
        ASSERT_TRUE(applySettings(*l.instance, settings, &error)) << error;
        std::optional<clap_event_transport_t> transport;
        if (settings.tempo) transport = makeTransport(*settings.tempo, 0);
        const Stereo rendered = renderClap(*l.instance, input, kBlock, transport, static_cast<size_t>(rate));
        ASSERT_EQ(rendered[0].size(), reference[0].size());
        double largest = 0.0, peak = 0.0;
        for (int ch = 0; ch < 2; ++ch)
            for (size_t n = 0; n < reference[ch].size(); ++n) {
                peak = std::max(peak, static_cast<double>(std::fabs(reference[ch][n])));
                largest = std::max(largest, std::fabs(static_cast<double>(reference[ch][n]) - rendered[ch][n]));
            }
        ASSERT_GT(peak, 0.0) << "silent reference";
        char line[160];
        std::snprintf(line, sizeof line, "%-16s largest difference %.3g, peak %.4f, %.3g of the peak", c.name.c_str(),
                      largest, peak, largest / peak);
        std::printf("%s\n", line);
        report << line << "\n";
        EXPECT_LE(largest, kTolerance * peak);
    }
}

}  // namespace
}  // namespace claptest
