// The toolkit's GDI layer under Wine where the editor's pictures cannot show it: the
// drawing of transparent bitmaps with and without msimg32, and the drop target's COM
// contract.
#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"
#include "gui/PngDecoder.h"
#include "gui/platform/win32/CDropTarget.h"
#include "gui/platform/win32/Msimg32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace VSTGUI;

// A bitmap of 8 x 8 pixels of one colour whose alpha runs through `alphas`, made as the
// toolkit makes every bitmap: from PNG data.
CBitmap* makeBitmap(const std::vector<uint32_t>& alphas) {
    std::vector<uint32_t> pixels(64);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint32_t a = alphas[i % alphas.size()];
        const uint32_t r = 250 * a / 255, g = 40 * a / 255, b = 90 * a / 255;  // premultiplied
        pixels[i] = (a << 24) | (r << 16) | (g << 8) | b;
    }
    char directory[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, directory);
    GetTempFileNameA(directory, "kvb", 0, path);
    EXPECT_TRUE(encodePngFile(pixels.data(), 8, 8, 32, path));
    std::ifstream file(path, std::ios::binary);
    const std::vector<unsigned char> png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    DeleteFileA(path);
    return new CBitmap(png.data(), png.size());
}

// The bitmap drawn at (3, 2) of a grey picture, read back.
std::vector<CColor> drawOnGrey(CBitmap* bitmap) {
    COffscreenContext context(16, 12);
    context.setFillColor(CColor{100, 110, 120, 255});
    context.fillRect(CRect(0, 0, 16, 12));
    context.drawBitmap(bitmap, CRect(3, 2, 11, 10));
    std::vector<CColor> pixels;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) pixels.push_back(context.getPixel(x, y));
    return pixels;
}

void expectAlike(const std::vector<CColor>& a, const std::vector<CColor>& b, int tolerance) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_LE(std::abs(a[i].red - b[i].red), tolerance) << "pixel " << i;
        EXPECT_LE(std::abs(a[i].green - b[i].green), tolerance) << "pixel " << i;
        EXPECT_LE(std::abs(a[i].blue - b[i].blue), tolerance) << "pixel " << i;
    }
}

class GdiBitmaps : public ::testing::Test {
protected:
    void TearDown() override { Msimg32::restore(); }
};

TEST_F(GdiBitmaps, PartlyTransparentBitmapsBlendTheSameWithoutMsimg32) {
    ASSERT_NE(Msimg32::get().alphaBlend, nullptr) << "Wine ships msimg32.dll";
    CBitmap* bitmap = makeBitmap({0, 64, 128, 255, 200, 1});
    ASSERT_TRUE(bitmap->isLoaded());
    const std::vector<CColor> alphaBlended = drawOnGrey(bitmap);
    // Half-transparent red over the grey: 250 * 128 / 255 + 100 * 127 / 255.
    EXPECT_NEAR(alphaBlended[size_t(2 * 16 + 5)].red, 175, 1);
    EXPECT_EQ(alphaBlended[size_t(2 * 16 + 3)], (CColor{100, 110, 120, 255})) << "alpha 0 leaves the ground";
    EXPECT_EQ(alphaBlended[0], (CColor{100, 110, 120, 255})) << "outside the bitmap";

    Msimg32::overrideForTesting(nullptr, nullptr);
    expectAlike(drawOnGrey(bitmap), alphaBlended, 1);
    bitmap->forget();
}

TEST_F(GdiBitmaps, MaskedBitmapsDrawAlikeThroughAlphaBlendTransparentBltAndTheFallback) {
    CBitmap* bitmap = makeBitmap({0, 255, 255, 0, 255});
    const std::vector<CColor> alphaBlended = drawOnGrey(bitmap);
    Msimg32::overrideForTesting(nullptr, Msimg32::get().transparentBlt);
    ASSERT_NE(Msimg32::get().transparentBlt, nullptr);
    expectAlike(drawOnGrey(bitmap), alphaBlended, 0);
    Msimg32::overrideForTesting(nullptr, nullptr);
    expectAlike(drawOnGrey(bitmap), alphaBlended, 0);
    bitmap->forget();
}

TEST(GdiDropTarget, AcceptsNothingAndCountsItsReferences) {
    auto* target = new CDropTarget;
    IUnknown* unknown = nullptr;
    ASSERT_EQ(target->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(target));
    IDropTarget* asTarget = nullptr;
    ASSERT_EQ(target->QueryInterface(IID_IDropTarget, reinterpret_cast<void**>(&asTarget)), S_OK);
    void* other = target;
    EXPECT_EQ(target->QueryInterface(IID_IDataObject, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(target->QueryInterface(IID_IDropTarget, nullptr), E_POINTER);

    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    EXPECT_EQ(target->DragEnter(nullptr, MK_LBUTTON, POINTL{10, 10}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
    effect = DROPEFFECT_LINK;
    EXPECT_EQ(target->DragOver(MK_LBUTTON, POINTL{12, 10}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
    effect = DROPEFFECT_COPY;
    EXPECT_EQ(target->Drop(nullptr, 0, POINTL{12, 10}, &effect), S_OK);
    EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
    EXPECT_EQ(target->DragLeave(), S_OK);
    EXPECT_EQ(target->DragEnter(nullptr, 0, POINTL{}, nullptr), E_INVALIDARG);

    // Created with one reference, two more from QueryInterface.
    EXPECT_EQ(target->AddRef(), 4u);
    EXPECT_EQ(asTarget->Release(), 3u);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(target->Release(), 1u);
    EXPECT_EQ(target->Release(), 0u);
}

}  // namespace
