// The editor of the Windows DLL, run under Wine: opened into a window of the test, drawn,
// captured and compared with the Linux snapshot of the same settings, driven by window
// messages, opened and closed many times, and given bad parent windows.
//
// Paths (compile definitions, Windows paths):
//   KOVALITH_PLUGIN_PATH     the DLL under test
//   KOVALITH_LINUX_SNAPSHOT  `kovalith snapshot` of a fresh instance, made by the Linux build
//   KOVALITH_WINE_CAPTURE    where the capture is written as PNG, to look at
//   KOVALITH_EDITOR_DIR      the folder of both: `kovalith snapshot --scale S` made
//                            linux-snapshot-S.png there, and scaled captures go there too
#include "editor/EditorLayout.h"
#include "gui/PngDecoder.h"
#include "gui/vstgui.h"
#include "gui/platform/win32/CDropTarget.h"
#include "plugin/SnapshotRequest.h"
#include "plugin/vst2.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {




// ---- the host ------------------------------------------------------------------------

struct Automation {
    int index;
    float value;
};
std::vector<Automation> gAutomations;
int gOpenGestures = 0;  // audioMasterBeginEdit less audioMasterEndEdit

intptr_t hostCallback(vst2::AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt) {
    switch (opcode) {
        case vst2::audioMasterVersion: return 2400;
        case vst2::audioMasterAutomate: gAutomations.push_back(Automation{index, opt}); return 0;
        case vst2::audioMasterBeginEdit: ++gOpenGestures; return 1;
        case vst2::audioMasterEndEdit: --gOpenGestures; return 1;
        default: return 0;
    }
}

HMODULE pluginModule() {
    static HMODULE module = LoadLibraryA(KOVALITH_PLUGIN_PATH);
    return module;
}

// One instance of the plug-in, as a host holds it.
class Plugin {
public:
    Plugin() {
        auto entry = reinterpret_cast<vst2::VSTPluginMainProc>(
            reinterpret_cast<void*>(GetProcAddress(pluginModule(), "VSTPluginMain")));
        effect_ = entry ? entry(hostCallback) : nullptr;
        if (effect_) dispatch(vst2::effOpen);
    }
    ~Plugin() {
        if (effect_) dispatch(vst2::effClose);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool ok() const { return effect_ != nullptr; }
    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.f) {
        return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
    }
    float getParameter(int index) { return effect_->getParameter(effect_, index); }
    void setParameter(int index, float value) { effect_->setParameter(effect_, index, value); }
    SIZE editorSize() {
        vst2::ERect* rect = nullptr;
        dispatch(vst2::effEditGetRect, 0, 0, &rect);
        return rect ? SIZE{rect->right - rect->left, rect->bottom - rect->top} : SIZE{0, 0};
    }

private:
    vst2::AEffect* effect_ = nullptr;
};

// A top-level window of the test for the editor to open into; its client area is the window.
class HostWindow {
public:
    explicit HostWindow(SIZE size) {
        static const bool registered = [] {
            WNDCLASSA windowClass{};
            windowClass.lpfnWndProc = DefWindowProcA;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = "KovalithTestHost";
            return RegisterClassA(&windowClass) != 0;
        }();
        if (registered)
            handle_ = CreateWindowExA(0, "KovalithTestHost", "Kovalith", WS_POPUP | WS_VISIBLE, 0, 0, size.cx, size.cy,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~HostWindow() {
        if (handle_) DestroyWindow(handle_);
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND handle() const { return handle_; }
    HWND editor() const { return GetWindow(handle_, GW_CHILD); }

private:
    HWND handle_ = nullptr;
};

// Runs the thread's messages, with the host's editor idle every 20 ms, for `ms`, or until
// `done` answers true.
template <typename Done>
bool pumpUntil(Plugin* plugin, DWORD ms, Done done) {
    const DWORD start = GetTickCount();
    DWORD lastIdle = 0;
    while (GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (plugin && GetTickCount() - lastIdle >= 20) {
            plugin->dispatch(vst2::effEditIdle);
            lastIdle = GetTickCount();
        }
        if (done()) return true;
        Sleep(5);
    }
    return done();
}

void pump(Plugin* plugin, DWORD ms) {
    pumpUntil(plugin, ms, [] { return false; });
}

std::string classNameOf(HWND window) {
    char name[128] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool classRegistered(const std::string& name) {
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    return GetClassInfoExA(pluginModule(), name.c_str(), &info) != 0;
}

// The process's GDI objects. Wine answers GetGuiResources with 0 (not implemented); there
// every live object is found by its handle index instead, which Wine accepts without the
// handle's upper half.
int gdiObjects() {
    const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (counted != 0) return static_cast<int>(counted);
    int live = 0;
    for (UINT_PTR index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++live;
    return live;
}

// Bytes allocated on every heap of the process (the C runtime allocates there).
size_t heapBytesInUse() {
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    size_t total = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return total;
}

// The windows of a class anywhere in the thread's desktop (the editor's tooltip is one).
int topLevelWindowsOfClass(const std::string& name) {
    int count = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, name.c_str(), nullptr); w;
         w = FindWindowExA(nullptr, w, name.c_str(), nullptr))
        ++count;
    return count;
}

// ---- pictures ------------------------------------------------------------------------

struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xAARRGGBB
    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// The window's pixels as the screen shows them, read through the parent's DC (PrintWindow
// gives a blank picture under Wine).
Picture capture(HWND parent, SIZE size) {
    Picture picture{size.cx, size.cy, std::vector<uint32_t>(size_t(size.cx) * size_t(size.cy))};
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), size.cx, -size.cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = GetDC(parent);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, size.cx, size.cy, screen, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* source = static_cast<const uint32_t*>(bits);
    for (size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = source[i] | 0xff000000u;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(parent, screen);
    return picture;
}

bool readPng(const std::string& path, Picture& picture) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    VSTGUI::DecodedImage image;
    if (!VSTGUI::decodePng(data.data(), data.size(), image)) return false;
    picture = Picture{image.width, image.height, std::move(image.pixels)};
    return true;
}

int channelDifference(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift : {0, 8, 16}) most = std::max(most, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
    return most;
}

// ---- the editor's layout, as far as the comparison needs it ----------------------------

struct Box {
    int left, top, right, bottom;
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// The top-left corners of the 41 knobs' groups (the caption's top, the knob 14 pixels below).
const std::vector<POINT>& knobAnchors() {
    static const std::vector<POINT> anchors = [] {
        std::vector<POINT> a;
        for (const kovalith::layout::KnobAnchor& k : kovalith::layout::kKnobAnchors) a.push_back(POINT{k.x, k.y});
        return a;
    }();
    return anchors;
}

constexpr Box kFilterDisplay{kovalith::layout::kFilterDisplayBox.left, kovalith::layout::kFilterDisplayBox.top,
                             kovalith::layout::kFilterDisplayBox.right, kovalith::layout::kFilterDisplayBox.bottom};

// Everything that shows text drawn by the plug-in: captions, read-outs, the option menus
// and the filter display's two lines, each with a pixel's margin for glyphs that overhang.
std::vector<Box> textBoxes() {
    std::vector<Box> boxes;
    for (const POINT& a : knobAnchors()) {
        boxes.push_back(Box{a.x - 7, a.y - 1, a.x + 45, a.y + 13});
        boxes.push_back(Box{a.x - 7, a.y + 45, a.x + 45, a.y + 59});
    }
    for (const kovalith::layout::ControlBox& menu : kovalith::layout::kMenuBoxes)
        boxes.push_back(Box{menu.box.left - 1, menu.box.top - 1, menu.box.right + 1, menu.box.bottom + 1});
    boxes.push_back(Box{kFilterDisplay.left, kFilterDisplay.top, kFilterDisplay.right, kFilterDisplay.top + 20});
    boxes.push_back(Box{kFilterDisplay.left, kFilterDisplay.bottom - 12, kFilterDisplay.right, kFilterDisplay.bottom});
    return boxes;
}

enum Region { kBackground, kKnobs, kCurve, kText, kNumRegions };
const char* const kRegionNames[kNumRegions] = {"background", "knobs", "filter curve", "text"};

Region regionOf(int x, int y, const std::vector<Box>& text) {
    for (const Box& b : text)
        if (b.contains(x, y)) return kText;
    if (kFilterDisplay.contains(x, y)) return kCurve;
    for (const POINT& a : knobAnchors())
        if (Box{a.x, a.y + 14, a.x + 30, a.y + 44}.contains(x, y)) return kKnobs;
    return kBackground;
}

struct RegionDifference {
    long pixels = 0;
    long beyond = 0;  // pixels differing by more than the tolerance
    int largest = 0;
    int largestUnblurred = 0;
    double sum = 0;
};

// ---- tests ---------------------------------------------------------------------------

class EditorUnderWine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(pluginModule(), nullptr) << "cannot load " << KOVALITH_PLUGIN_PATH;
        gAutomations.clear();
        gOpenGestures = 0;
    }
};

// GDI draws the same bitmaps, fills and frames as cairo to the pixel: background and knobs
// measured 0 difference under Wine 8; the tolerance of 2 leaves room for the rounding of
// another AlphaBlend. The filter curve is where they part: cairo smooths the five
// polylines, GDI draws them without antialiasing, so single pixels along the curve differ
// by part of a blend step between line, shadow and panel colours (measured up to 46). The
// curve is therefore compared after a 3 x 3 box blur of both pictures: measured largest
// difference 17 (mean 0.4), tolerance 24, while a snapshot with the cutoff at 0.45 instead
// of 0.5 differs by up to 127 and one of another filter type by up to 206.
constexpr int kTolerance = 2;
constexpr int kCurveTolerance = 24;
// Above scale 1 the curve has as many more corners as device pixels, each a place where
// GDI's unsmoothed steps and cairo's part; blurred over one window pixel's neighbours the
// largest difference measured 32 at 1.5 and 37 at 2 (mean 0.5), while a snapshot at 2 with
// the cutoff at 0.45 instead of preset 0's differs by up to 140.
constexpr int kScaledCurveTolerance = 48;

// A box blur over (2 radius + 1)^2 pixels: one window pixel's neighbours at every scale.
Picture blurred(const Picture& p, const Box& area, int radius = 1) {
    Picture out = p;
    const int taps = (2 * radius + 1) * (2 * radius + 1);
    for (int y = area.top + radius; y < area.bottom - radius; ++y)
        for (int x = area.left + radius; x < area.right - radius; ++x) {
            uint32_t result = 0xff000000u;
            for (int shift : {0, 8, 16}) {
                int sum = 0;
                for (int dy = -radius; dy <= radius; ++dy)
                    for (int dx = -radius; dx <= radius; ++dx) sum += int((p.at(x + dx, y + dy) >> shift) & 0xff);
                result |= uint32_t((sum + taps / 2) / taps) << shift;
            }
            out.pixels[size_t(y) * size_t(p.width) + size_t(x)] = result;
        }
    return out;
}

// Compares `wine` with `linux` region by region (regions in window coordinates, the
// pictures `scale` device pixels to one of those) and prints the figures.
void expectLikeLinux(const Picture& linux, const Picture& wine, double scale) {
    ASSERT_EQ(wine.width, linux.width);
    ASSERT_EQ(wine.height, linux.height);
    auto device = [scale](int c) { return static_cast<int>(std::lround(c * scale)); };
    const Box curveBox{device(kFilterDisplay.left), device(kFilterDisplay.top), device(kFilterDisplay.right),
                       device(kFilterDisplay.bottom)};
    const int radius = static_cast<int>(std::lround(scale));
    const int curveTolerance = scale == 1.0 ? kCurveTolerance : kScaledCurveTolerance;
    const Picture linuxCurve = blurred(linux, curveBox, radius), wineCurve = blurred(wine, curveBox, radius);
    const std::vector<Box> text = textBoxes();
    RegionDifference differences[kNumRegions];
    for (int y = 0; y < wine.height; ++y)
        for (int x = 0; x < wine.width; ++x) {
            const Region region =
                regionOf(static_cast<int>(std::floor(x / scale)), static_cast<int>(std::floor(y / scale)), text);
            const bool curve = region == kCurve;
            const int unblurred = channelDifference(linux.at(x, y), wine.at(x, y));
            const int d = curve ? channelDifference(linuxCurve.at(x, y), wineCurve.at(x, y)) : unblurred;
            RegionDifference& r = differences[region];
            ++r.pixels;
            r.sum += d;
            r.largest = std::max(r.largest, d);
            r.largestUnblurred = std::max(r.largestUnblurred, unblurred);
            if (d > (curve ? curveTolerance : kTolerance)) ++r.beyond;
        }
    std::printf("at scale %.2f:\n", scale);
    for (int region = 0; region < kNumRegions; ++region) {
        const RegionDifference& r = differences[region];
        std::printf("%-12s %6ld pixels, largest difference %3d (unblurred %3d), mean %.2f, %ld beyond the tolerance\n",
                    kRegionNames[region], r.pixels, r.largest, r.largestUnblurred, r.pixels ? r.sum / r.pixels : 0.0,
                    r.beyond);
    }
    EXPECT_EQ(differences[kBackground].beyond, 0);
    EXPECT_EQ(differences[kKnobs].beyond, 0);
    EXPECT_EQ(differences[kCurve].beyond, 0);
}

TEST_F(EditorUnderWine, LooksLikeTheLinuxSnapshotOutsideTheText) {
    const std::string snapshotPath = KOVALITH_LINUX_SNAPSHOT;
    Picture linux;
    ASSERT_TRUE(readPng(snapshotPath, linux)) << "cannot read " << snapshotPath;

    Plugin plugin;
    ASSERT_TRUE(plugin.ok());
    const SIZE size = plugin.editorSize();
    ASSERT_EQ(size.cx, linux.width);
    ASSERT_EQ(size.cy, linux.height);
    HostWindow host(size);
    ASSERT_EQ(plugin.dispatch(vst2::effEditOpen, 0, 0, host.handle()), 1);
    pump(&plugin, 300);
    const Picture wine = capture(host.handle(), size);
    plugin.dispatch(vst2::effEditClose);

    EXPECT_TRUE(VSTGUI::encodePngFile(wine.pixels.data(), wine.width, wine.height, wine.width * 4,
                                      KOVALITH_WINE_CAPTURE));
    expectLikeLinux(linux, wine, 1.0);
}

// ---- at a scale ------------------------------------------------------------------------

constexpr double kWindowScales[] = {1.5, 2.0};

std::string scaleName(double scale) { return scale == 1.5 ? "1.5" : "2"; }

Picture linuxSnapshotAt(double scale) {
    const std::string path = std::string(KOVALITH_EDITOR_DIR) + "/linux-snapshot-" + scaleName(scale) + ".png";
    Picture linux;
    EXPECT_TRUE(readPng(path, linux)) << "cannot read " << path;
    return linux;
}

void keepPicture(const Picture& picture, const std::string& name) {
    const std::string path = std::string(KOVALITH_EDITOR_DIR) + "/" + name;
    EXPECT_TRUE(VSTGUI::encodePngFile(picture.pixels.data(), picture.width, picture.height, picture.width * 4,
                                      path.c_str()));
}

// Asks the plug-in to scale its window as hosts that scale VST 2.4 editors do; false
// when this build's plug-in does not take the host's scale.
bool hostScales(Plugin& plugin, double scale) {
    plugin.dispatch(vst2::effVendorSpecific, vst2::fourCC('P', 'r', 'e', 'S'), vst2::fourCC('A', 'e', 'C', 's'), nullptr, static_cast<float>(scale));
    const SIZE size = plugin.editorSize();
    return size.cx == std::lround(659 * scale) && size.cy == std::lround(479 * scale);
}

// The user's own settings must not choose the scale of these tests.
void useEmptySettings() {
    char directory[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    const std::string settings = std::string(directory) + "kovalith-test-settings";
    CreateDirectoryA(settings.c_str(), nullptr);
    SetEnvironmentVariableA("APPDATA", settings.c_str());
    _putenv_s("APPDATA", settings.c_str());
}

// The GDI drawing of the whole window at 1.5 and 2 (the snapshot request draws it
// offscreen with the same code as the window) against cairo's at the same scale.
TEST_F(EditorUnderWine, DrawnAtAScaleLooksLikeTheLinuxSnapshotAtThatScale) {
    for (double scale : kWindowScales) {
        SCOPED_TRACE("scale " + scaleName(scale));
        const Picture linux = linuxSnapshotAt(scale);
        ASSERT_FALSE(linux.pixels.empty());
        Plugin plugin;
        ASSERT_TRUE(plugin.ok());
        int32_t size[2] = {0, 0};
        ASSERT_EQ(plugin.dispatch(vst2::effVendorSpecific, kovalith::kSnapshotSizeRequest, 0, size,
                                  static_cast<float>(scale)),
                  1);
        Picture wine{size[0], size[1], std::vector<uint32_t>(size_t(size[0]) * size_t(size[1]))};
        ASSERT_EQ(plugin.dispatch(vst2::effVendorSpecific, kovalith::kSnapshotRequest, size[0] * 4, wine.pixels.data(),
                                  static_cast<float>(scale)),
                  1);
        for (uint32_t& p : wine.pixels) p |= 0xff000000u;
        keepPicture(wine, "wine-offscreen-" + scaleName(scale) + ".png");
        expectLikeLinux(linux, wine, scale);
    }
}

// The window itself at 1.5 and 2, as a scaling host shows it.
TEST_F(EditorUnderWine, WindowAtAScaleLooksLikeTheLinuxSnapshotAtThatScale) {
    useEmptySettings();
    for (double scale : kWindowScales) {
        SCOPED_TRACE("scale " + scaleName(scale));
        const Picture linux = linuxSnapshotAt(scale);
        ASSERT_FALSE(linux.pixels.empty());
        Plugin plugin;
        ASSERT_TRUE(plugin.ok());
        ASSERT_TRUE(hostScales(plugin, scale)) << "the plug-in refused the host's scale ('PreS')";
        const SIZE size = plugin.editorSize();
        HostWindow host(size);
        ASSERT_EQ(plugin.dispatch(vst2::effEditOpen, 0, 0, host.handle()), 1);
        pump(&plugin, 300);
        RECT client{};
        GetClientRect(host.editor(), &client);
        EXPECT_EQ(client.right, size.cx);
        EXPECT_EQ(client.bottom, size.cy);
        const Picture wine = capture(host.handle(), size);
        plugin.dispatch(vst2::effEditClose);
        keepPicture(wine, "wine-editor-" + scaleName(scale) + ".png");
        expectLikeLinux(linux, wine, scale);
    }
}

// ---- input -------------------------------------------------------------------------

// The editor opened in a window of the test, ready for input.
struct OpenEditor {
    Plugin plugin;
    SIZE size = plugin.editorSize();
    HostWindow host{size};
    bool opened = plugin.dispatch(vst2::effEditOpen, 0, 0, host.handle()) == 1;
    HWND editor = host.editor();

    OpenEditor() { pump(&plugin, 100); }
    void send(UINT message, WPARAM keys, int x, int y) { SendMessageA(editor, message, keys, MAKELPARAM(x, y)); }
    // Left-button drag from (x, y) by dy pixels in four moves.
    void drag(int x, int y, int dy) {
        send(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
        capturedDuringDrag = GetCapture() == editor;
        for (int step = 1; step <= 4; ++step) send(WM_MOUSEMOVE, MK_LBUTTON, x, y + dy * step / 4);
        send(WM_LBUTTONUP, 0, x, y + dy);
    }
    bool capturedDuringDrag = false;
};

// What the test sees of an open pop-up menu, from a timer that runs inside the menu's modal loop.
struct MenuSeen {
    bool open = false;
    int items = 0;
    std::vector<UINT> states;     // GetMenuState of each item
    int subMenuItems = -1;        // of item 0's sub-menu, if any
    std::vector<UINT> subStates;  // of the sub-menu's items
};
MenuSeen gMenuSeen;
std::vector<WPARAM> gMenuKeys;  // pressed once the menu is seen; none closes it with EndMenu
Plugin* gCloseDuringMenu = nullptr;
HWND gMenuKeyTarget = nullptr;

void CALLBACK watchMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND menuWindow = FindWindowA("#32768", nullptr);
    if (!menuWindow || !IsWindowVisible(menuWindow)) return;
    KillTimer(nullptr, timer);
    gMenuSeen.open = true;
    if (auto menu = reinterpret_cast<HMENU>(SendMessageA(menuWindow, MN_GETHMENU, 0, 0))) {
        gMenuSeen.items = GetMenuItemCount(menu);
        for (int i = 0; i < gMenuSeen.items; ++i) gMenuSeen.states.push_back(GetMenuState(menu, i, MF_BYPOSITION));
        if (HMENU sub = GetSubMenu(menu, 0)) {
            gMenuSeen.subMenuItems = GetMenuItemCount(sub);
            for (int i = 0; i < gMenuSeen.subMenuItems; ++i) gMenuSeen.subStates.push_back(GetMenuState(sub, i, MF_BYPOSITION));
        }
    }
    if (gCloseDuringMenu) {
        gCloseDuringMenu->dispatch(vst2::effEditClose);
        return;
    }
    if (gMenuKeys.empty()) EndMenu();
    for (WPARAM key : gMenuKeys) {
        PostMessageA(gMenuKeyTarget, WM_KEYDOWN, key, 0);
        PostMessageA(gMenuKeyTarget, WM_KEYUP, key, 0xC0000000);
    }
}

// Clicks at (x, y) with `button` and runs the messages until the menu it opens has closed.
void clickMenu(OpenEditor& e, UINT down, UINT up, WPARAM keys, int x, int y, std::vector<WPARAM> menuKeys) {
    gMenuSeen = MenuSeen();
    gMenuKeys = std::move(menuKeys);
    gMenuKeyTarget = e.editor;
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, watchMenu);
    e.send(down, keys, x, y);
    e.send(up, 0, x, y);
    pumpUntil(nullptr, 3000, [] { return gMenuSeen.open; });
    pump(nullptr, 100);  // the choice arrives as the menu's loop ends
    KillTimer(nullptr, timer);
}

constexpr int kMix = 58, kCompressorTypes = 65, kFilterType = 18;
constexpr POINT kMixKnob{605, 59};
constexpr POINT kCompressorMenu{375, 12};
constexpr POINT kFilterDisplayMiddle{497, 137};

TEST_F(EditorUnderWine, ADragMovesAKnobAndTheHostSeesAutomation) {
    OpenEditor e;
    ASSERT_TRUE(e.opened);
    ASSERT_NE(e.editor, nullptr);
    const float before = e.plugin.getParameter(kMix);
    const int dy = before > 0.5f ? 40 : -40;  // down lowers, up raises
    e.drag(kMixKnob.x, kMixKnob.y, dy);
    EXPECT_TRUE(e.capturedDuringDrag);
    EXPECT_EQ(GetCapture(), nullptr) << "the release ends the capture";
    const float after = e.plugin.getParameter(kMix);
    EXPECT_NE(after, before);
    EXPECT_EQ(after < before, dy > 0);
    ASSERT_FALSE(gAutomations.empty());
    EXPECT_EQ(gAutomations.back().index, kMix);
    EXPECT_EQ(gAutomations.back().value, after);

    // The wheel turns the knob under the mouse, which arrives in screen coordinates.
    gAutomations.clear();
    POINT screen = kMixKnob;
    ClientToScreen(e.editor, &screen);
    SendMessageA(e.editor, WM_MOUSEWHEEL, MAKEWPARAM(0, dy > 0 ? WHEEL_DELTA : -WHEEL_DELTA), MAKELPARAM(screen.x, screen.y));
    ASSERT_FALSE(gAutomations.empty());
    EXPECT_EQ(gAutomations.back().index, kMix);
    EXPECT_NE(e.plugin.getParameter(kMix), after);
    EXPECT_EQ(gOpenGestures, 0);

    // Another window taking the mouse mid-drag ends the drag and its gesture.
    e.send(WM_LBUTTONDOWN, MK_LBUTTON, kMixKnob.x, kMixKnob.y);
    e.send(WM_MOUSEMOVE, MK_LBUTTON, kMixKnob.x, kMixKnob.y + 5);
    EXPECT_EQ(gOpenGestures, 1);
    SetCapture(e.host.handle());
    ReleaseCapture();
    EXPECT_EQ(gOpenGestures, 0);
    const float dropped = e.plugin.getParameter(kMix);
    e.send(WM_MOUSEMOVE, MK_LBUTTON, kMixKnob.x, kMixKnob.y + 30);
    EXPECT_EQ(e.plugin.getParameter(kMix), dropped);
}

TEST_F(EditorUnderWine, AMenuOpensAsAPopUpMenuAndAChoiceIsAutomated) {
    OpenEditor e;
    ASSERT_TRUE(e.opened);
    // The host sees the five levels as positions 0, 1/4 .. 1.
    const int current = static_cast<int>(e.plugin.getParameter(kCompressorTypes) * 4.0f + 0.5f);
    const int wanted = (current + 2) % 5;
    std::vector<WPARAM> keys(static_cast<size_t>(wanted + 1), VK_DOWN);  // the first press highlights entry 0
    keys.push_back(VK_RETURN);
    clickMenu(e, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON, kCompressorMenu.x, kCompressorMenu.y, keys);
    ASSERT_TRUE(gMenuSeen.open);
    EXPECT_EQ(gMenuSeen.items, 5);
    for (UINT state : gMenuSeen.states) EXPECT_EQ(state & (MF_CHECKED | MF_SEPARATOR), 0u) << "no check-mark style";
    ASSERT_FALSE(gAutomations.empty());
    EXPECT_EQ(gAutomations.back().index, kCompressorTypes);
    EXPECT_EQ(gAutomations.back().value, static_cast<float>(wanted) / 4.0f);
    EXPECT_EQ(e.plugin.getParameter(kCompressorTypes), static_cast<float>(wanted) / 4.0f);
}

TEST_F(EditorUnderWine, TheFilterDisplaysMenuHasItsSubMenuSeparatorAndCheckMark) {
    OpenEditor e;
    ASSERT_TRUE(e.opened);
    e.plugin.setParameter(kFilterType, 0.3f);  // "Bandstop", entry 3
    pump(&e.plugin, 60);
    clickMenu(e, WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON, kFilterDisplayMiddle.x, kFilterDisplayMiddle.y, {});
    ASSERT_TRUE(gMenuSeen.open);
    ASSERT_EQ(gMenuSeen.items, 5);
    EXPECT_NE(gMenuSeen.states[0] & MF_POPUP, 0u);
    EXPECT_NE(gMenuSeen.states[1] & MF_SEPARATOR, 0u);
    ASSERT_EQ(gMenuSeen.subMenuItems, 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ((gMenuSeen.subStates[size_t(i)] & MF_CHECKED) != 0, i == 3) << "entry " << i;
    EXPECT_TRUE(gAutomations.empty()) << "closing the menu without a choice changes nothing";
}

// ---- life cycle and bad input ------------------------------------------------------------

// One open, paint, idle and close of the plug-in's editor in `host`; false if it would not open.
bool editorCycle(Plugin& plugin, HostWindow& host) {
    if (plugin.dispatch(vst2::effEditOpen, 0, 0, host.handle()) != 1) return false;
    UpdateWindow(host.editor());  // paints through the back buffer
    plugin.dispatch(vst2::effEditIdle);
    plugin.dispatch(vst2::effEditClose);
    pump(nullptr, 0);
    return true;
}

// Runs `cycle` 200 times after five to make fonts and caches; answers the GDI objects
// before and after the 200.
template <typename Cycle>
std::pair<int, int> gdiObjectsAround200Cycles(Cycle cycle) {
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(cycle());
    const int before = gdiObjects();
    for (int i = 0; i < 200; ++i)
        if (!cycle()) ADD_FAILURE() << "cycle " << i << " did not open";
    return {before, gdiObjects()};
}

TEST_F(EditorUnderWine, OpenCloseCyclesLeakNoGdiObjectsAndNoMemory) {
    Plugin plugin;
    const SIZE size = plugin.editorSize();
    HostWindow host(size);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(editorCycle(plugin, host));  // fonts and caches made once
    const int gdiBefore = gdiObjects();
    const size_t heapBefore = heapBytesInUse();
    const DWORD start = GetTickCount();
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(editorCycle(plugin, host)) << "cycle " << i;
    const int gdiAfter = gdiObjects();
    const size_t heapAfter = heapBytesInUse();
    std::printf("200 open/close cycles in %lu ms: GDI objects %d before, %d after; heap bytes %zu before, %zu after\n",
                GetTickCount() - start, gdiBefore, gdiAfter, heapBefore, heapAfter);
    EXPECT_GT(gdiBefore, 0);
    EXPECT_EQ(gdiAfter, gdiBefore);
    // One open allocates several hundred kilobytes (views, back buffer, bitmaps); a leak of
    // any of it would be repeated 200 times.
    EXPECT_LT(heapAfter, heapBefore + 64 * 1024);
}

// The same at scale 2: fonts and pens are made at the scaled size, bitmaps resampled.
TEST_F(EditorUnderWine, OpenCloseCyclesAtScaleTwoLeakNoGdiObjects) {
    useEmptySettings();
    Plugin plugin;
    ASSERT_TRUE(hostScales(plugin, 2.0)) << "the plug-in refused the host's scale ('PreS')";
    const SIZE size = plugin.editorSize();
    HostWindow host(size);
    const auto [gdiBefore, gdiAfter] = gdiObjectsAround200Cycles([&] { return editorCycle(plugin, host); });
    std::printf("200 open/close cycles at scale 2: GDI objects %d before, %d after\n", gdiBefore, gdiAfter);
    EXPECT_GT(gdiBefore, 0);
    EXPECT_EQ(gdiAfter, gdiBefore);
}

// The toolkit's own window at scale 2, whatever the plug-in takes from hosts: twice the
// frame's size, mouse positions handed on in the frame's units (a drag of 80 device
// pixels moves a knob by 40), and 200 open/close cycles with text and scaled pens drawn
// leave no GDI object behind.
struct NoEdits : VSTGUI::VSTGUIEditorInterface {
    void beginEdit(int) override {}
    void endEdit(int) override {}
};

TEST(ToolkitWindowUnderWine, AtScaleTwoIsTwiceAsLargeTakesFrameUnitsAndLeaksNothing) {
    using namespace VSTGUI;
    ASSERT_TRUE(platformInitialize());
    NoEdits editor;
    HostWindow host(SIZE{400, 300});
    auto open = [&](CKnob** knob) {
        auto frame = std::make_unique<CFrame>(CRect(0, 0, 200, 150), host.handle(), &editor, 2.0);
        frame->setBackgroundColor(CColor{22, 112, 150, 255});
        auto* label = new CTextLabel(CRect(20, 20, 90, 32), "Resonance");
        label->setFontColor(CColor{228, 189, 31, 255});
        frame->addView(label);
        *knob = new CKnob(CRect(50, 50, 80, 80), nullptr, 16, nullptr, nullptr);
        frame->addView(*knob);
        return frame;
    };
    {
        CKnob* knob = nullptr;
        const std::unique_ptr<CFrame> frame = open(&knob);
        ASSERT_TRUE(frame->isOpen());
        RECT client{};
        GetClientRect(host.editor(), &client);
        EXPECT_EQ(client.right, 400);
        EXPECT_EQ(client.bottom, 300);
        const float before = knob->getValue();
        SendMessageA(host.editor(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(130, 150));
        for (int y = 130; y >= 70; y -= 20) SendMessageA(host.editor(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(130, y));
        SendMessageA(host.editor(), WM_LBUTTONUP, 0, MAKELPARAM(130, 70));
        EXPECT_NEAR(knob->getValue() - before, 40.f / 200.f, 1e-5);
        frame->setScale(1.5);
        GetClientRect(host.editor(), &client);
        EXPECT_EQ(client.right, 300);
        EXPECT_EQ(client.bottom, 225);
    }
    auto cycle = [&] {
        CKnob* knob = nullptr;
        const std::unique_ptr<CFrame> frame = open(&knob);
        if (!frame->isOpen()) return false;
        UpdateWindow(host.editor());  // paints through the back buffer
        frame->idle();
        pump(nullptr, 0);
        return true;
    };
    const auto [gdiBefore, gdiAfter] = gdiObjectsAround200Cycles(cycle);
    std::printf("200 open/close cycles of a frame at scale 2: GDI objects %d before, %d after\n", gdiBefore, gdiAfter);
    EXPECT_EQ(gdiAfter, gdiBefore);
    platformUninitialize();
}

TEST_F(EditorUnderWine, BadParentWindowsOpenNothingAndLeaveNoWindowClass) {
    Plugin plugin;
    const SIZE size = plugin.editorSize();
    std::string className;
    {
        HostWindow host(size);
        ASSERT_EQ(plugin.dispatch(vst2::effEditOpen, 0, 0, host.handle()), 1);
        className = classNameOf(host.editor());
        EXPECT_EQ(className.rfind("Plugin", 0), 0u) << className;
        EXPECT_TRUE(classRegistered(className));
        EXPECT_EQ(plugin.dispatch(vst2::effEditOpen, 0, 0, host.handle()), 0) << "already open";
        plugin.dispatch(vst2::effEditClose);
        EXPECT_FALSE(classRegistered(className));
    }
    HWND destroyed = nullptr;
    {
        HostWindow gone(size);
        destroyed = gone.handle();
    }
    const int gdiBefore = gdiObjects();
    for (void* parent : {static_cast<void*>(nullptr), reinterpret_cast<void*>(0x1234), static_cast<void*>(destroyed)}) {
        EXPECT_EQ(plugin.dispatch(vst2::effEditOpen, 0, 0, parent), 0) << parent;
        EXPECT_FALSE(classRegistered(className)) << parent;
    }
    EXPECT_EQ(gdiObjects(), gdiBefore);
}

// OLE is initialised by the editor's open and uninitialised with the editor (effClose):
// OleInitialize answers S_FALSE while someone else holds it on this thread, S_OK otherwise.
HRESULT probeOle() {
    const HRESULT result = OleInitialize(nullptr);
    if (SUCCEEDED(result)) OleUninitialize();
    return result;
}

TEST_F(EditorUnderWine, TheWindowIsADropTargetThatAcceptsNothingWhileOleLastsAsLongAsTheEditor) {
    ASSERT_EQ(probeOle(), S_OK);
    {
        OpenEditor e;
        ASSERT_TRUE(e.opened);
        EXPECT_EQ(probeOle(), S_FALSE);
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        auto* probe = new VSTGUI::CDropTarget;
        EXPECT_EQ(RegisterDragDrop(e.editor, probe), DRAGDROP_E_ALREADYREGISTERED);
        probe->Release();
        OleUninitialize();
        e.plugin.dispatch(vst2::effEditClose);
        EXPECT_EQ(probeOle(), S_FALSE) << "a closed window keeps the editor's OLE";
    }
    EXPECT_EQ(probeOle(), S_OK) << "effClose ended it";
}

TEST_F(EditorUnderWine, TwoInstancesHaveTheirOwnClassesAndTimers) {
    OpenEditor a, b;
    ASSERT_TRUE(a.opened);
    ASSERT_TRUE(b.opened);
    const std::string classA = classNameOf(a.editor), classB = classNameOf(b.editor);
    EXPECT_NE(classA, classB);
    a.plugin.dispatch(vst2::effEditClose);
    EXPECT_FALSE(classRegistered(classA));
    EXPECT_TRUE(classRegistered(classB));

    // b's own timer (no host idle here) brings its tooltip up after the mouse rests 1.5 s.
    b.send(WM_MOUSEMOVE, 0, kMixKnob.x, kMixKnob.y);
    EXPECT_TRUE(pumpUntil(nullptr, 2500, [&] { return topLevelWindowsOfClass(classB) == 1; }));
    b.drag(kMixKnob.x, kMixKnob.y, 20);
    EXPECT_FALSE(gAutomations.empty());
}

TEST_F(EditorUnderWine, ClosingWithATooltipOrAMenuUpLeavesNothingBehind) {
    const int gdiBefore = gdiObjects();
    std::string className;
    {
        OpenEditor e;
        ASSERT_TRUE(e.opened);
        className = classNameOf(e.editor);
        e.send(WM_MOUSEMOVE, 0, kMixKnob.x, kMixKnob.y);
        ASSERT_TRUE(pumpUntil(&e.plugin, 2500, [&] { return topLevelWindowsOfClass(className) == 1; }));
        e.plugin.dispatch(vst2::effEditClose);
        EXPECT_EQ(topLevelWindowsOfClass(className), 0);
        EXPECT_FALSE(classRegistered(className));

        ASSERT_EQ(e.plugin.dispatch(vst2::effEditOpen, 0, 0, e.host.handle()), 1);
        e.editor = e.host.editor();
        className = classNameOf(e.editor);
        gCloseDuringMenu = &e.plugin;
        clickMenu(e, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON, kCompressorMenu.x, kCompressorMenu.y, {});
        gCloseDuringMenu = nullptr;
        EXPECT_TRUE(gMenuSeen.open);
        EXPECT_FALSE(IsWindow(e.editor));
        EXPECT_FALSE(classRegistered(className));
        HWND menuWindow = FindWindowA("#32768", nullptr);
        EXPECT_TRUE(!menuWindow || !IsWindowVisible(menuWindow)) << "the menu is gone";
        EXPECT_TRUE(gAutomations.empty());
        // And the editor opens again as usual.
        ASSERT_EQ(e.plugin.dispatch(vst2::effEditOpen, 0, 0, e.host.handle()), 1);
        e.plugin.dispatch(vst2::effEditClose);
    }
    pump(nullptr, 50);
    EXPECT_EQ(gdiObjects(), gdiBefore);
}

// The keyboard path: a double click opens the value field, which takes the focus and
// every key (WM_GETDLGCODE) until Return applies the typed text or Escape cancels.
TEST_F(EditorUnderWine, ATypedValueArrivesThroughTheKeyboardMessages) {
    constexpr int kDelay = 16;
    constexpr POINT kDelayReadout{469, 82};
    OpenEditor e;
    ASSERT_TRUE(e.opened);
    const auto openField = [&] {
        e.send(WM_LBUTTONDOWN, MK_LBUTTON, kDelayReadout.x, kDelayReadout.y);
        e.send(WM_LBUTTONUP, 0, kDelayReadout.x, kDelayReadout.y);
        e.send(WM_LBUTTONDBLCLK, MK_LBUTTON, kDelayReadout.x, kDelayReadout.y);
        e.send(WM_LBUTTONUP, 0, kDelayReadout.x, kDelayReadout.y);
    };
    const auto type = [&](const char* text) {
        for (const char* c = text; *c; ++c) SendMessageA(e.editor, WM_CHAR, static_cast<WPARAM>(*c), 0);
    };
    const auto wantsAllKeys = [&] { return (SendMessageA(e.editor, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS) != 0; };
    EXPECT_FALSE(wantsAllKeys()) << "without the field the dialog keys stay the host's";

    openField();
    EXPECT_EQ(GetFocus(), e.editor);
    EXPECT_TRUE(wantsAllKeys());
    gAutomations.clear();
    type("x");
    SendMessageA(e.editor, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(gAutomations.empty()) << "text that does not parse sends nothing";
    EXPECT_EQ(GetFocus(), e.editor) << "and the field stays open";
    SendMessageA(e.editor, WM_KEYDOWN, VK_BACK, 0);
    type("0.25");
    SendMessageA(e.editor, WM_KEYDOWN, VK_RETURN, 0);
    ASSERT_EQ(gAutomations.size(), 1u);
    EXPECT_EQ(gAutomations[0].index, kDelay);
    EXPECT_EQ(gAutomations[0].value, 0.25f);
    EXPECT_EQ(gOpenGestures, 0);
    EXPECT_NE(GetFocus(), e.editor) << "the focus goes back";
    EXPECT_FALSE(wantsAllKeys());

    openField();
    type("0.5");
    SendMessageA(e.editor, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(gAutomations.size(), 1u);
    EXPECT_NE(GetFocus(), e.editor);
    EXPECT_EQ(e.plugin.getParameter(kDelay), 0.25f);
}

}  // namespace
