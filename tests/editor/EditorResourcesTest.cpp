// The artwork as the editor uses it, the window without it, and the offscreen
// snapshot through the effect's dispatcher.
#include "EditorTestSupport.h"

#include <cairo.h>

#include <cstring>

#include "plugin/SnapshotRequest.h"

namespace editortest {
namespace {

// The colour of a bitmap's pixel, drawn on its own.
CColor bitmapPixel(CBitmap* bitmap, int x, int y) {
    COffscreenContext context(bitmap->getWidth(), bitmap->getHeight());
    bitmap->draw(&context, CRect(0, 0, bitmap->getWidth(), bitmap->getHeight()));
    return context.getPixel(x, y);
}

TEST_F(EditorFixture, KnobHandleMovesWithItsValue) {
    CKnob* knob = editor->controlGroup(kFeedback).knob;
    CBitmap* handle = knob->getHandleBitmap();
    ASSERT_TRUE(handle && handle->isLoaded());
    const CColor handleColour = bitmapPixel(handle, handle->getWidth() / 2, handle->getHeight() / 2);

    effect->setParameter(kFeedback, 0.0f);
    auto atZero = render();
    effect->setParameter(kFeedback, 1.0f);
    auto atOne = render();
    const CPoint low = knob->handleCentre(0.0f);
    const CPoint high = knob->handleCentre(1.0f);
    // Lower left for 0, lower right for 1, seven pixels from the centre (inset 8 of a 30 pixel body).
    EXPECT_EQ(low, CPoint(520 - 5, 59 + 5));
    EXPECT_EQ(high, CPoint(520 + 5, 59 + 5));
    EXPECT_LT(colourDistance(atZero->getPixel(low.x, low.y), handleColour), 30);
    EXPECT_GT(colourDistance(atZero->getPixel(high.x, high.y), handleColour), 60);
    EXPECT_LT(colourDistance(atOne->getPixel(high.x, high.y), handleColour), 30);
    EXPECT_GT(colourDistance(atOne->getPixel(low.x, low.y), handleColour), 60);
}

TEST_F(EditorFixture, BackgroundAndButtonFramesInTheSnapshot) {
    auto picture = render();
    // Away from every control the window shows the background picture.
    CBitmap* background = new CBitmap(101);
    ASSERT_TRUE(background->isLoaded());
    for (CPoint p : {CPoint(5, 470), CPoint(150, 120), CPoint(600, 250), CPoint(420, 230)})
        EXPECT_TRUE(picture->getPixel(p.x, p.y).sameRGB(bitmapPixel(background, p.x, p.y))) << p.x << "," << p.y;
    // Read-outs are filled with the panel colour.
    EXPECT_TRUE(picture->getPixel(505 - 4, 30 + 48).sameRGB(kPanelColour));

    // The ping-pong button shows the frame of its value over the background.
    CBitmap* path = new CBitmap(105);
    ASSERT_TRUE(path->isLoaded());
    for (float value : {0.0f, 1.0f}) {
        effect->setParameter(kPingPong, value);
        auto shown = render();
        COffscreenContext expected(50, 17);
        background->draw(&expected, CRect(0, 0, 50, 17), CPoint(500, 214));
        path->draw(&expected, CRect(0, 0, 50, 17), CPoint(0, value > 0.5f ? 17 : 0));
        int differing = 0;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 50; ++x)
                if (colourDistance(shown->getPixel(500 + x, 214 + y), expected.getPixel(x, y)) > 3) ++differing;
        EXPECT_EQ(differing, 0) << "value " << value;
    }
    path->forget();
    background->forget();
}

TEST_F(EditorFixture, SnapshotThroughTheDispatcher) {
    const int stride = 659 * 4 + 16;
    std::vector<uint32_t> pixels(static_cast<size_t>(stride / 4) * 479, 0u);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotRequest, stride, pixels.data(), 0.0f), 1);
    auto picture = render();
    for (CPoint p : {CPoint(0, 0), CPoint(520, 59), CPoint(497, 137), CPoint(658, 478)}) {
        const uint32_t word = pixels[static_cast<size_t>(p.y) * (stride / 4) + static_cast<size_t>(p.x)];
        const CColor c{static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word),
                       static_cast<uint8_t>(word >> 24)};
        EXPECT_TRUE(c.sameRGB(picture->getPixel(p.x, p.y))) << p.x << "," << p.y;
        EXPECT_EQ(c.alpha, 255);
    }
    // Bad buffers are refused.
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotRequest, stride, nullptr, 0.0f), 0);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotRequest, 659 * 4 - 4, pixels.data(), 0.0f), 0);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotRequest, -8, pixels.data(), 0.0f), 0);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, 0, stride, pixels.data(), 0.0f), 0);
}

TEST(EditorSnapshot, DrawsWhileClosedAndLeavesItClosed) {
    KovalithEdit effect(hostCallback);
    KovalithEditor* editor = effect.getKovalithEditor();
    std::vector<uint32_t> pixels(659 * 479, 0u);
    EXPECT_EQ(effect.dispatcher(vst2::effVendorSpecific, kSnapshotRequest, 659 * 4, pixels.data(), 0.0f), 1);
    EXPECT_EQ(editor->getFrame(), nullptr);
    EXPECT_FALSE(editor->isOpen());
    EXPECT_NE(pixels[100 * 659 + 100], 0u);
}

// ---- without the artwork --------------------------------------------------------------

bool noResources(int, const char*, const unsigned char**, size_t*) { return false; }

const unsigned char kGarbage[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 1, 2};
bool brokenResources(int, const char*, const unsigned char** data, size_t* size) {
    *data = kGarbage;
    *size = sizeof kGarbage;
    return true;
}

class WithoutArtwork : public ::testing::TestWithParam<CResourceProvider> {
protected:
    void SetUp() override {
        installEditorResources();
        CBitmap::setResourceProvider(GetParam());
    }
    void TearDown() override { CBitmap::setResourceProvider(editorResourceProvider); }
};

TEST_P(WithoutArtwork, EditorStillOpensWithPlainControls) {
    KovalithEdit effect(hostCallback);
    KovalithEditor* editor = effect.getKovalithEditor();
    EXPECT_FALSE(editor->hasBackground());
    vst2::ERect* rect = nullptr;
    ASSERT_EQ(effect.dispatcher(vst2::effEditGetRect, 0, 0, &rect, 0.0f), 1);
    EXPECT_EQ(rect->right, 659);
    EXPECT_EQ(rect->bottom, 479);

    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(editor->openWithoutWindow());
        EXPECT_EQ(editor->controlCount(), 41 * 4 + 11);
        CKnob* knob = editor->controlGroup(kFeedback).knob;
        EXPECT_EQ(knob->getViewSize(), CRect(505, 44, 535, 74)) << "knobs keep the body's 30 x 30";
        editor->close();
    }
    COffscreenContext picture(659, 479);
    ASSERT_TRUE(editor->renderSnapshot(picture));
    // A plain ground, plain discs for the knobs, boxes for the buttons, text on the panels.
    EXPECT_EQ(picture.getPixel(5, 470).alpha, 255);
    EXPECT_TRUE(picture.getPixel(520, 52).sameRGB(kGreyCColor)) << "knob disc";
    EXPECT_TRUE(picture.getPixel(505 - 4, 30 + 48).sameRGB(kPanelColour)) << "read-out";
    const CColor button = picture.getPixel(500, 214);
    EXPECT_TRUE(button.sameRGB(kBlackCColor)) << "button frame";
}

INSTANTIATE_TEST_SUITE_P(MissingOrBroken, WithoutArtwork, ::testing::Values(&noResources, &brokenResources));

}  // namespace
}  // namespace editortest
