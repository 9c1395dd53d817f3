// An effect with its editor built into a frame without a window, a host
// callback that records what the effect tells the host, and pixel helpers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "editor/CBiquadControl.h"
#include "editor/KovalithEditor.h"
#include "gui/vstgui.h"
#include "plugin/AEffEditor.h"
#include "plugin/KovalithEdit.h"

namespace editortest {

using namespace kovalith;
using namespace VSTGUI;

struct HostCall {
    int32_t opcode;
    int32_t index;
    float opt;
};

// Requests that reach the host, from every effect of the test program.
class HostLog {
public:
    static HostLog& get() {
        static HostLog log;
        return log;
    }
    void add(const HostCall& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }
    std::vector<HostCall> of(int32_t opcode) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<HostCall> out;
        for (const HostCall& c : calls_)
            if (c.opcode == opcode) out.push_back(c);
        return out;
    }
    std::vector<HostCall> all() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<HostCall> calls_;
};

inline intptr_t hostCallback(vst2::AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt) {
    if (opcode == vst2::audioMasterVersion) return 2400;
    if (opcode == vst2::audioMasterGetTime) return 0;
    HostLog::get().add({opcode, index, opt});
    return 0;
}

inline std::vector<HostCall> automations() { return HostLog::get().of(vst2::audioMasterAutomate); }

// The effect and its editor with every control built, drawn offscreen.
class EditorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        effect = std::make_unique<KovalithEdit>(hostCallback);
        editor = effect->getKovalithEditor();
        ASSERT_NE(editor, nullptr);
        ASSERT_TRUE(editor->openWithoutWindow());
        frame = editor->getFrame();
        ASSERT_NE(frame, nullptr);
        HostLog::get().clear();
    }
    void TearDown() override {
        if (editor) editor->close();
    }

    std::unique_ptr<COffscreenContext> render() {
        auto context = std::make_unique<COffscreenContext>(kEditorWidth, kEditorHeight);
        EXPECT_TRUE(editor->renderSnapshot(*context));
        return context;
    }

    // The user's gestures through the frame's entry points, in window coordinates.
    void press(CPoint where, int buttons = kLButton) { frame->onMouseDown(where, CButtonState(buttons)); }
    void move(CPoint where, int buttons = kLButton) { frame->onMouseMoved(where, CButtonState(buttons)); }
    void release(CPoint where, int buttons = kLButton) { frame->onMouseUp(where, CButtonState(buttons)); }

    std::unique_ptr<KovalithEdit> effect;
    KovalithEditor* editor = nullptr;
    CFrame* frame = nullptr;
};

inline CPoint centreOf(const CRect& r) { return CPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

inline int colourDistance(const CColor& a, const CColor& b) {
    return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
}

}  // namespace editortest
