// The LV2 UI module through its own interface, as a host drives it: opened in
// the host's X11 window on a private Xvfb, it asks the plug-in for its values,
// and a knob dragged with XTEST reaches the parameter's port inside touch
// gestures. (The sanitizer build runs it too, which jalv cannot.)
// gtest and the LV2 headers first: Xlib defines macros (None, Bool) that clash with their names.
#include <gtest/gtest.h>

#include "tests/lv2/Lv2TestHost.h"

#include "tests/XServer.h"

#include <dlfcn.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <utility>
#include <thread>
#include <vector>

#include "effect/Parameters.h"
#include "lv2/Lv2Ports.h"
#include "lv2/Lv2Uris.h"

namespace {

const auto* const gXServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

struct Written {
    uint32_t port, format;
    std::vector<uint8_t> bytes;
};

class Lv2Ui : public xtest::HostWindowTest {
protected:
    void SetUp() override {
        openHostWindow(659, 479);
        if (IsSkipped() || HasFatalFailure()) return;
        module_ = dlopen(KOVALITH_LV2_BUNDLE "/KovalithUI.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr) << dlerror();
        auto entry = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(module_, "lv2ui_descriptor"));
        ASSERT_NE(entry, nullptr);
        descriptor_ = entry(0);
        ASSERT_NE(descriptor_, nullptr);
        EXPECT_STREQ(descriptor_->URI, kovalith::lv2::kUiUri);
        idle_ = static_cast<const LV2UI_Idle_Interface*>(descriptor_->extension_data(LV2_UI__idleInterface));
        ASSERT_NE(idle_, nullptr);
    }
    void TearDown() override {
        if (ui_) descriptor_->cleanup(ui_);
        HostWindowTest::TearDown();
    }

    // Instantiates with urid:map, ui:resize, ui:touch, when `withParent` ui:parent, and
    // with a `scaleFactor` above 0 the options feature holding it.
    LV2UI_Handle instantiate(bool withParent, float scaleFactor = 0.0f) {
        resize_ = {this, [](LV2UI_Feature_Handle self, int w, int h) {
                       static_cast<Lv2Ui*>(self)->size_ = {w, h};
                       return 0;
                   }};
        touch_ = {this, [](LV2UI_Feature_Handle self, uint32_t port, bool grabbed) {
                      static_cast<Lv2Ui*>(self)->touches_.push_back({port, grabbed});
                  }};
        parentFeature_ = {LV2_UI__parent, parentHandle()};
        resizeFeature_ = {LV2_UI__resize, &resize_};
        touchFeature_ = {LV2_UI__touch, &touch_};
        scaleFactor_ = scaleFactor;
        options_[0] = {LV2_OPTIONS_INSTANCE, 0, urids_.map(LV2_UI__scaleFactor), sizeof(float),
                       urids_.map(LV2_ATOM__Float), &scaleFactor_};
        options_[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        optionsFeature_ = {LV2_OPTIONS__options, options_};
        const LV2_Feature* features[] = {urids_.features()[0], &resizeFeature_, &touchFeature_,
                                         scaleFactor > 0.0f ? &optionsFeature_ : nullptr,
                                         withParent ? &parentFeature_ : nullptr, nullptr};
        if (!features[3]) std::swap(features[3], features[4]);
        auto write = [](LV2UI_Controller self, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
            const auto* bytes = static_cast<const uint8_t*>(buffer);
            static_cast<Lv2Ui*>(self)->written_.push_back({port, format, std::vector<uint8_t>(bytes, bytes + size)});
        };
        return descriptor_->instantiate(descriptor_, kovalith::lv2::kPluginUri, KOVALITH_LV2_BUNDLE, write, this,
                                        &widget_, features);
    }

    // The host's idle loop until `done` holds or two seconds pass.
    bool idleUntil(const std::function<bool()>& done) { return xtest::stepUntil([&] { idle_->idle(ui_); }, done); }
    std::vector<float> valuesWritten(uint32_t port) const {
        std::vector<float> values;
        for (const Written& w : written_)
            if (w.port == port && w.format == 0 && w.bytes.size() == sizeof(float)) {
                float value;
                std::memcpy(&value, w.bytes.data(), sizeof value);
                values.push_back(value);
            }
        return values;
    }

    void* module_ = nullptr;
    const LV2UI_Descriptor* descriptor_ = nullptr;
    const LV2UI_Idle_Interface* idle_ = nullptr;
    lv2test::UridMap urids_;
    LV2UI_Resize resize_{};
    LV2UI_Touch touch_{};
    LV2_Feature parentFeature_{}, resizeFeature_{}, touchFeature_{}, optionsFeature_{};
    float scaleFactor_ = 0.0f;
    LV2_Options_Option options_[2]{};
    LV2UI_Widget widget_ = nullptr;
    LV2UI_Handle ui_ = nullptr;
    std::pair<int, int> size_{0, 0};
    std::vector<std::pair<uint32_t, bool>> touches_;
    std::vector<Written> written_;
};

TEST_F(Lv2Ui, ScaleFactorOptionSizesTheWindowAndAChangeAsksForAResize) {
    ui_ = instantiate(true, 1.5f);
    ASSERT_NE(ui_, nullptr);
    EXPECT_EQ(size_, std::make_pair(989, 719));  // 659 x 479 at 150 %, rounded
    EXPECT_NE(widget_, nullptr);

    // Later through the options interface: 200 %, and below 1 counts as 1.
    const auto* options = static_cast<const LV2_Options_Interface*>(descriptor_->extension_data(LV2_OPTIONS__interface));
    ASSERT_NE(options, nullptr);
    float factor = 2.0f;
    const LV2_Options_Option change[] = {
        {LV2_OPTIONS_INSTANCE, 0, urids_.map(LV2_UI__scaleFactor), sizeof(float), urids_.map(LV2_ATOM__Float), &factor},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    EXPECT_EQ(options->set(ui_, change), static_cast<uint32_t>(LV2_OPTIONS_SUCCESS));
    EXPECT_EQ(size_, std::make_pair(1318, 958));
    factor = 0.5f;
    options->set(ui_, change);
    EXPECT_EQ(size_, std::make_pair(659, 479));
    idle_->idle(ui_);
}

TEST_F(Lv2Ui, OpensInTheHostsWindowAndAsksThePluginForItsValues) {
    EXPECT_EQ(instantiate(false), nullptr);  // nowhere to embed it
    ui_ = instantiate(true);
    ASSERT_NE(ui_, nullptr);
    const auto window = static_cast<Window>(reinterpret_cast<uintptr_t>(widget_));
    ASSERT_EQ(sizeOf(window), std::make_pair(659, 479));  // a real window at its size
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(display_, window, &root, &parent, &children, &count);
    if (children) XFree(children);
    EXPECT_EQ(parent, parent_);
    EXPECT_EQ(size_, std::make_pair(659, 479));

    ASSERT_FALSE(written_.empty());
    const Written& request = written_.front();
    EXPECT_EQ(request.port, kovalith::lv2::kControlPort);
    EXPECT_EQ(request.format, urids_.map(LV2_ATOM__eventTransfer));
    ASSERT_GE(request.bytes.size(), sizeof(LV2_Atom_Object));
    LV2_Atom_Object object;
    std::memcpy(&object, request.bytes.data(), sizeof object);
    EXPECT_EQ(object.atom.type, urids_.map(LV2_ATOM__Object));
    EXPECT_EQ(object.body.otype, urids_.map(kovalith::lv2::kValuesRequest));

    descriptor_->cleanup(ui_);
    ui_ = nullptr;
    XSync(display_, False);
    XQueryTree(display_, parent_, &root, &parent, &children, &count);
    if (children) XFree(children);
    EXPECT_EQ(count, 0u) << "the editor's window outlived the UI";
}

TEST_F(Lv2Ui, AKnobDragReachesItsPortInsideATouchGesture) {
    ui_ = instantiate(true);
    ASSERT_NE(ui_, nullptr);
    const uint32_t feedback = kovalith::lv2::portOfParameter(kovalith::kFeedback);
    const float quarter = 0.25f;
    descriptor_->port_event(ui_, feedback, sizeof quarter, 0, &quarter);
    for (int i = 0; i < 10; ++i) idle_->idle(ui_);
    written_.clear();

    // The Feedback knob's centre is (520, 59): drag up 40 pixels.
    pointerTo(520, 59);
    button(1, true);
    for (int y = 54; y >= 19; y -= 5) pointerTo(520, y);
    ASSERT_TRUE(idleUntil([&] { return !valuesWritten(feedback).empty() && valuesWritten(feedback).back() >= 0.45f - 1e-6f; }));
    button(1, false);
    ASSERT_TRUE(idleUntil([&] { return !touches_.empty() && !touches_.back().second; }));
    for (const Written& w : written_) EXPECT_EQ(w.port, feedback);
    EXPECT_NEAR(valuesWritten(feedback).back(), 0.45f, 1e-5);
    ASSERT_EQ(touches_.size(), 2u);
    EXPECT_EQ(touches_.front(), std::make_pair(feedback, true));
    EXPECT_EQ(touches_.back(), std::make_pair(feedback, false));
}

}  // namespace
