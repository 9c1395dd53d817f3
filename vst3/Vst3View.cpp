#include "vst3/Vst3View.h"

#include <cmath>
#include <cstring>

#ifdef KOVALITH_NO_EDITOR

namespace kovalith::vst3 {
v3_plugin_view** createEditorView(Vst3Controller&) { return nullptr; }
}  // namespace kovalith::vst3

#else

#include "editor/KovalithEditor.h"

#ifdef _WIN32
#include <windows.h>

#include <map>
#endif

namespace kovalith::vst3 {
namespace {

using V = Vst3View;

constexpr v3_plugin_view_cpp kViewTable{
    unknownTable<V>(),
    {Thunk<&V::isPlatformTypeSupported>::call, Thunk<&V::attached>::call, Thunk<&V::removed>::call,
     Thunk<&V::onWheel>::call, Thunk<&V::onKeyDown>::call, Thunk<&V::onKeyUp>::call, Thunk<&V::getSize>::call,
     Thunk<&V::onSize>::call, Thunk<&V::onFocus>::call, Thunk<&V::setFrame>::call, Thunk<&V::canResize>::call,
     Thunk<&V::checkSizeConstraint>::call}};

constexpr v3_timer_handler_cpp kTimerTable{unknownTable<V>(), {Thunk<&V::onTimer>::call}};

constexpr v3_plugin_view_content_scale_cpp kScaleTable{unknownTable<V>(), {Thunk<&V::setContentScaleFactor>::call}};

constexpr uint64_t kIdleMilliseconds = 33;

#ifdef _WIN32
// Win32 timers without a window of their own call back with their id only.
std::map<UINT_PTR, Vst3View*>& timerViews() {
    static std::map<UINT_PTR, Vst3View*> views;
    return views;
}
void CALLBACK onWin32Timer(HWND, UINT, UINT_PTR id, DWORD) {
    const auto found = timerViews().find(id);
    if (found != timerViews().end()) found->second->onTimer();
}
#endif

}  // namespace

v3_plugin_view** createEditorView(Vst3Controller& controller) { return (new Vst3View(controller))->view(); }

Vst3View::Vst3View(Vst3Controller& controller)
    : viewFace_{&kViewTable, this},
      timerFace_{&kTimerTable, this},
      scaleFace_{&kScaleTable, this},
      controller_(controller),
      editor_(std::make_unique<KovalithEditor>(&controller_.editorController())) {
    controller_.addRef();
    editor_->setResizeRequest([this](int width, int height) { return askFrameToResize(width, height); });
}

Vst3View::~Vst3View() {
    removed();
    editor_.reset();
    controller_.release();
}

v3_result Vst3View::queryInterface(const v3_tuid iid, void** out) {
    if (!out) return kInvalidArgument;
    if (offer(this, iid, v3_funknown_iid, viewFace_, out) || offer(this, iid, v3_plugin_view_iid, viewFace_, out) ||
        offer(this, iid, v3_timer_handler_iid, timerFace_, out) ||
        offer(this, iid, v3_plugin_view_content_scale_iid, scaleFace_, out))
        return kResultOk;
    *out = nullptr;
    return kNoInterface;
}

v3_result Vst3View::isPlatformTypeSupported(const char* type) {
    return type && std::strcmp(type, V3_VIEW_PLATFORM_TYPE_NATIVE) == 0 ? kResultTrue : kResultFalse;
}

v3_result Vst3View::attached(void* parent, const char* type) {
    if (editor_->isOpen() || !parent || isPlatformTypeSupported(type) != kResultTrue) return kResultFalse;
    if (!editor_->open(parent)) return kResultFalse;
    shown_.fill(std::nanf(""));  // nothing shown yet: every value goes to the editor
    showChangedValues();
    controller_.setEditorEcho(this);
    startTimer();
    return kResultOk;
}

v3_result Vst3View::removed() {
    if (!editor_->isOpen()) return kResultFalse;
    stopTimer();
    controller_.setEditorEcho(nullptr);
    editor_->close();
    return kResultOk;
}

v3_result Vst3View::getSize(v3_view_rect* rect) {
    if (!rect) return kInvalidArgument;
    *rect = scaledRect();
    return kResultOk;
}

// The size at the scale of now: the user's choice, the host's factor, the system's.
v3_view_rect Vst3View::scaledRect() {
    editor_->refreshScale();
    return {0, 0, editor_->width(), editor_->height()};
}

v3_result Vst3View::setContentScaleFactor(float factor) {
    if (!std::isfinite(factor) || factor <= 0.0f) return kInvalidArgument;
    editor_->setHostScale(factor);
    return kResultOk;
}

// The host answers by resizing its window and calling onSize.
bool Vst3View::askFrameToResize(int width, int height) {
    if (!frame_) return false;
    v3_view_rect rect{0, 0, width, height};
    return entries<v3_plugin_frame>(frame_)->resize_view(frame_, view(), &rect) == kResultOk;
}

v3_result Vst3View::onSize(v3_view_rect* rect) { return rect ? kResultOk : kInvalidArgument; }

v3_result Vst3View::setFrame(v3_plugin_frame** frame) {
    frame_ = frame;
    return kResultOk;
}

// The window has one size at each scale; the user can't drag it larger.
v3_result Vst3View::checkSizeConstraint(v3_view_rect* rect) {
    if (!rect) return kInvalidArgument;
    const v3_view_rect size = scaledRect();
    rect->right = rect->left + size.right;
    rect->bottom = rect->top + size.bottom;
    return kResultTrue;
}

void Vst3View::onTimer() {
    controller_.onIdle();
    if (!editor_->isOpen()) return;
    showChangedValues();
    editor_->idle();
}

void Vst3View::echo(int index, float value) {
    if (!editor_->isOpen() || !isParameterIndex(index)) return;
    shown_[static_cast<std::size_t>(index)] = value;
    editor_->setParameter(index, value);
}

void Vst3View::showChangedValues() {
    const std::shared_ptr<KovalithEffect> effect = controller_.model();
    for (int i = 0; i < kNumParams; ++i) {
        const float value = effect->getParameter(i);
        float& shown = shown_[static_cast<std::size_t>(i)];
        if (value == shown) continue;
        shown = value;
        editor_->setParameter(i, value);
    }
}

#ifdef _WIN32

bool Vst3View::startTimer() {
    win32Timer_ = SetTimer(nullptr, 0, kIdleMilliseconds, onWin32Timer);
    if (win32Timer_) timerViews()[win32Timer_] = this;
    return win32Timer_ != 0;
}

void Vst3View::stopTimer() {
    if (!win32Timer_) return;
    KillTimer(nullptr, win32Timer_);
    timerViews().erase(win32Timer_);
    win32Timer_ = 0;
}

#else

// Linux hosts offer their run loop through the frame.
bool Vst3View::startTimer() {
    if (!frame_) return false;
    void* loop = nullptr;
    if (unknown(frame_)->query_interface(frame_, v3_run_loop_iid, &loop) != kResultOk || !loop) return false;
    runLoop_ = static_cast<v3_run_loop**>(loop);
    auto* handler = reinterpret_cast<v3_timer_handler**>(&timerFace_);
    if (entries<v3_run_loop>(runLoop_)->register_timer(runLoop_, handler, kIdleMilliseconds) != kResultOk) {
        releaseInterface(runLoop_);
        runLoop_ = nullptr;
        return false;
    }
    return true;
}

void Vst3View::stopTimer() {
    if (!runLoop_) return;
    entries<v3_run_loop>(runLoop_)->unregister_timer(runLoop_, reinterpret_cast<v3_timer_handler**>(&timerFace_));
    releaseInterface(runLoop_);
    runLoop_ = nullptr;
}

#endif

}  // namespace kovalith::vst3

#endif
