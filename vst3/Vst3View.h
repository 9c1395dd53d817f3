// The editor in the host's window: IPlugView around KovalithEditor, a child
// of the X11 window (Linux) or HWND (Windows) the host attaches it to, idled
// ~30 times a second by a timer of the host's run loop (Linux) or a Win32
// timer. At each tick the editor is given the values that changed since the
// last, whoever changed them (host, automation, a learned controller, a
// program or state): the user-interface thread reads them, so no other
// thread calls into the editor.
#pragma once

#include <array>
#include <memory>

#include "engine/ParameterIds.h"
#include "vst3/Vst3Com.h"
#include "vst3/Vst3Controller.h"

namespace kovalith {
class KovalithEditor;
}

namespace kovalith::vst3 {

// A new view with one reference for the host, or null without an editor.
v3_plugin_view** createEditorView(Vst3Controller& controller);

class Vst3View : public RefCounted, private IEditorEcho {
public:
    explicit Vst3View(Vst3Controller& controller);
    ~Vst3View() override;

    v3_result queryInterface(const v3_tuid iid, void** out);
    v3_plugin_view** view() { return reinterpret_cast<v3_plugin_view**>(&viewFace_); }

    // IPlugView
    v3_result isPlatformTypeSupported(const char* type);
    v3_result attached(void* parent, const char* type);
    v3_result removed();
    v3_result onWheel(float) { return kResultFalse; }
    v3_result onKeyDown(int16_t, int16_t, int16_t) { return kResultFalse; }
    v3_result onKeyUp(int16_t, int16_t, int16_t) { return kResultFalse; }
    v3_result getSize(v3_view_rect* rect);
    v3_result onSize(v3_view_rect* rect);
    v3_result onFocus(v3_bool) { return kResultOk; }
    v3_result setFrame(v3_plugin_frame** frame);
    v3_result canResize() { return kResultFalse; }
    v3_result checkSizeConstraint(v3_view_rect* rect);

    // IPlugViewContentScaleSupport: the host's scale factor for the window.
    v3_result setContentScaleFactor(float factor);

    // ITimerHandler: the host's run loop calls it on the user-interface thread.
    void onTimer();

private:
    void echo(int index, float value) override;
    bool startTimer();
    void stopTimer();
    void showChangedValues();

    bool askFrameToResize(int width, int height);
    v3_view_rect scaledRect();

    Face viewFace_;
    Face timerFace_;
    Face scaleFace_;
    Vst3Controller& controller_;
    // From the view's creation to its end, so a scale factor given before the window
    // opens counts; its window exists between attached and removed.
    std::unique_ptr<KovalithEditor> editor_;
    // The host's frame, valid while it is set; not referenced, as hosts expect.
    v3_plugin_frame** frame_ = nullptr;
    v3_run_loop** runLoop_ = nullptr;
    uintptr_t win32Timer_ = 0;
    std::array<float, kNumParams> shown_{};
};

}  // namespace kovalith::vst3
