// Off-screen drawing and PNG decoding, without any display.
#include "TestSupport.h"

#include "gui/PngDecoder.h"

#include <png.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace guitest {
namespace {

constexpr CColor kPanel{22, 112, 150, 64};  // alpha 64 must still draw solid
constexpr CColor kText{228, 189, 31, 64};

TEST(DrawContext, FillAndStrokeCoverExactPixelsAndIgnoreColourAlpha) {
    COffscreenContext c(20, 20);
    c.setFillColor(kPanel);
    c.fillRect(CRect(2, 3, 8, 9));
    expectRGB(c.getPixel(2, 3), kPanel, "fill top-left");
    expectRGB(c.getPixel(7, 8), kPanel, "fill bottom-right");
    EXPECT_EQ(c.getPixel(5, 5).alpha, 255);
    EXPECT_EQ(c.getPixel(8, 5).alpha, 0) << "right edge is exclusive";
    EXPECT_EQ(c.getPixel(5, 9).alpha, 0) << "bottom edge is exclusive";

    c.setFrameColor(kText);
    c.drawRect(CRect(10, 10, 18, 18));
    expectRGB(c.getPixel(10, 10), kText, "frame corner");
    expectRGB(c.getPixel(17, 14), kText, "frame right side");
    expectRGB(c.getPixel(14, 17), kText, "frame bottom side");
    EXPECT_EQ(c.getPixel(14, 14).alpha, 0) << "a stroked rectangle is hollow";
    EXPECT_EQ(c.getPixel(18, 14).alpha, 0) << "the stroke stays inside the rectangle";
}

TEST(DrawContext, LinesCoverTheirEndPointsOnly) {
    COffscreenContext c(20, 20);
    c.setFrameColor(kRedCColor);
    c.moveTo(CPoint(2, 5));
    c.lineTo(CPoint(10, 5));
    for (int x = 2; x <= 10; ++x) expectRGB(c.getPixel(x, 5), kRedCColor, "on the line");
    EXPECT_EQ(c.getPixel(5, 4).alpha, 0);
    EXPECT_EQ(c.getPixel(5, 6).alpha, 0);
    EXPECT_EQ(c.getPixel(12, 5).alpha, 0);
    EXPECT_EQ(c.getPenPosition(), CPoint(10, 5));

    const CPoint pts[3] = {CPoint(1, 15), CPoint(5, 15), CPoint(5, 19)};
    c.polyline(pts, 3);
    expectRGB(c.getPixel(3, 15), kRedCColor, "first segment");
    expectRGB(c.getPixel(5, 18), kRedCColor, "second segment");
}

TEST(DrawContext, OffsetAndClipApplyToEveryOperation) {
    COffscreenContext c(30, 30);
    c.setOffset(CPoint(10, 10));
    c.setClipRect(CRect(0, 0, 4, 4));
    c.setFillColor(kBlueCColor);
    c.fillRect(CRect(0, 0, 8, 8));
    expectRGB(c.getPixel(10, 10), kBlueCColor, "offset origin");
    expectRGB(c.getPixel(13, 13), kBlueCColor, "inside clip");
    EXPECT_EQ(c.getPixel(14, 14).alpha, 0) << "outside clip";
    EXPECT_EQ(c.getClipRect(), CRect(0, 0, 4, 4));
    c.saveGlobalState();
    c.setOffset(CPoint(0, 0));
    c.resetClipRect();
    c.fillRect(CRect(0, 0, 2, 2));
    c.restoreGlobalState();
    expectRGB(c.getPixel(0, 0), kBlueCColor, "after reset");
    EXPECT_EQ(c.getOffset(), CPoint(10, 10));
    EXPECT_EQ(c.getClipRect(), CRect(0, 0, 4, 4));
}

int countPixels(COffscreenContext& c, const CRect& r, const CColor& color) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (c.getPixel(x, y).alpha > 0 && c.getPixel(x, y).sameRGB(color)) ++n;
    return n;
}

// Pixels that text (or anything else) changed away from the back colour.
int countNot(COffscreenContext& c, const CRect& r, const CColor& back) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (!c.getPixel(x, y).sameRGB(back)) ++n;
    return n;
}

int countInk(COffscreenContext& c, const CRect& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (c.getPixel(x, y).alpha > 0) ++n;
    return n;
}

TEST(DrawContext, TextIsDrawnInsideItsRectAndMeasured) {
    COffscreenContext c(100, 40);
    c.setFont("Arial", 11);
    c.setFontColor(kWhiteCColor);
    const double wide = c.getStringWidth("WWWW");
    EXPECT_GT(wide, c.getStringWidth("iiii"));
    EXPECT_GT(wide, 20.0);
    EXPECT_EQ(c.getStringWidth(""), 0.0);

    const CRect box(10, 10, 60, 22);
    c.drawString("Lowpass", box, kLeftText, true);
    EXPECT_GT(countPixels(c, box, kWhiteCColor), 10) << "glyphs with full coverage in the box";
    EXPECT_EQ(countInk(c, CRect(0, 0, 100, 10)), 0) << "nothing above the box";
    EXPECT_EQ(countInk(c, CRect(0, 22, 100, 40)), 0) << "nothing below the box";
    EXPECT_EQ(countInk(c, CRect(0, 0, 10, 40)), 0) << "left aligned starts at the box";

    COffscreenContext clipped(100, 40);
    clipped.setFontColor(kWhiteCColor);
    clipped.drawString("A long caption that cannot fit", CRect(0, 0, 30, 12), kLeftText, true);
    EXPECT_EQ(countInk(clipped, CRect(30, 0, 100, 40)), 0) << "clipped to its rectangle";
}

TEST(DrawContext, EllipseAndArcStayInTheirRectangle) {
    COffscreenContext c(40, 40);
    c.setFillColor(kGreenCColor);
    c.drawEllipse(CRect(10, 10, 30, 30), kDrawFilled);
    expectRGB(c.getPixel(20, 20), kGreenCColor, "centre");
    EXPECT_EQ(c.getPixel(10, 10).alpha, 0) << "corner outside the circle";
    EXPECT_EQ(countInk(c, CRect(0, 0, 40, 10)), 0);
    // A quarter pie from 0 to pi/2 fills the upper right quadrant only.
    COffscreenContext q(40, 40);
    q.setFillColor(kGreenCColor);
    q.drawArc(CRect(0, 0, 40, 40), 0.0, 3.14159265 / 2, kDrawFilled);
    EXPECT_GT(q.getPixel(28, 12).alpha, 0);
    EXPECT_EQ(q.getPixel(12, 12).alpha, 0);
    EXPECT_EQ(q.getPixel(28, 28).alpha, 0);
}

TEST(Offscreen, CopiesReplacePixelsAndPngRoundTrips) {
    COffscreenContext a(10, 10), b(10, 10);
    a.setFillColor(kRedCColor);
    a.fillRect(CRect(0, 0, 10, 10));
    b.setFillColor(kBlueCColor);
    b.fillRect(CRect(0, 0, 10, 10));
    b.copyFrom(a, CRect(2, 2, 5, 5));
    expectRGB(b.getPixel(2, 2), kRedCColor, "copied");
    expectRGB(b.getPixel(5, 5), kBlueCColor, "outside the copy");
    COffscreenContext t(10, 10);  // transparent source replaces, not blends
    t.copyTo(b, CRect(0, 0, 1, 1));
    EXPECT_EQ(b.getPixel(0, 0).alpha, 0);

    const std::string path = ::testing::TempDir() + "kovalith_gui_roundtrip.png";
    ASSERT_TRUE(b.writePNG(path.c_str()));
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    Owned<CBitmap> bitmap(new CBitmap(bytes.data(), bytes.size()));
    ASSERT_TRUE(bitmap->isLoaded());
    EXPECT_EQ(bitmap->getWidth(), 10);
    COffscreenContext back(10, 10);
    back.drawBitmap(bitmap.get(), CRect(0, 0, 10, 10));
    expectRGB(back.getPixel(3, 3), kRedCColor, "decoded copy");
    expectRGB(back.getPixel(8, 8), kBlueCColor, "decoded background");
    EXPECT_FALSE(b.writePNG("/nonexistent-dir/x.png"));
}

// The encoder the GDI layer writes its pictures with (cairo writes its own).
TEST(Png, EncodedPixelsDecodeToThemselves) {
    const uint32_t pixels[6] = {0xff102030u, 0x80402010u, 0x00000000u, 0xffffffffu, 0x01010000u, 0xc0c00060u};
    const std::string path = ::testing::TempDir() + "kovalith_gui_encoded.png";
    ASSERT_TRUE(encodePngFile(pixels, 3, 2, 3 * 4, path.c_str()));
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    DecodedImage image;
    ASSERT_TRUE(decodePng(bytes.data(), bytes.size(), image));
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    for (int i = 0; i < 6; ++i)
        for (int shift : {0, 8, 16, 24})  // premultiplied colour survives within a rounding step
            EXPECT_NEAR(double((image.pixels[size_t(i)] >> shift) & 0xff), double((pixels[i] >> shift) & 0xff), 1.0)
                << "pixel " << i << ", shift " << shift;
    EXPECT_FALSE(encodePngFile(pixels, 3, 2, 3 * 4, "/nonexistent-dir/x.png"));
    EXPECT_FALSE(encodePngFile(pixels, 3, 2, 2 * 4, path.c_str())) << "a stride shorter than a row";
}

TEST(Bitmap, DecodesAlphaAndBlendsIt) {
    const auto png = makeSolidPng(6, 4, CColor{255, 0, 0, 128});
    Owned<CBitmap> bitmap(new CBitmap(png.data(), png.size()));
    ASSERT_TRUE(bitmap->isLoaded());
    EXPECT_EQ(bitmap->getWidth(), 6);
    EXPECT_EQ(bitmap->getHeight(), 4);
    COffscreenContext c(6, 4);
    c.setFillColor(kWhiteCColor);
    c.fillRect(CRect(0, 0, 6, 4));
    bitmap->draw(&c, CRect(0, 0, 6, 4));
    const CColor p = c.getPixel(2, 2);
    EXPECT_EQ(p.red, 255);
    EXPECT_NEAR(p.green, 127, 2);
    EXPECT_NEAR(p.blue, 127, 2);
}

TEST(Bitmap, DecodesGrayAndPaletteImages) {
    // Gray with alpha, written by libpng itself.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 1;
    image.format = PNG_FORMAT_GA;
    const unsigned char gray[4] = {200, 255, 50, 0};
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, gray, 0, nullptr));
    std::vector<unsigned char> png(size);
    ASSERT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, gray, 0, nullptr));
    Owned<CBitmap> bitmap(new CBitmap(png.data(), size));
    ASSERT_TRUE(bitmap->isLoaded());
    COffscreenContext c(2, 1);
    bitmap->draw(&c, CRect(0, 0, 2, 1));
    const CColor p = c.getPixel(0, 0);
    EXPECT_EQ(p.alpha, 255);
    EXPECT_NEAR(p.red, 200, 1);
    EXPECT_EQ(p.red, p.green);
    EXPECT_EQ(c.getPixel(1, 0).alpha, 0) << "fully transparent pixel";

    // An 8-bit colour-mapped image.
    png_image mapped{};
    mapped.version = PNG_IMAGE_VERSION;
    mapped.width = 2;
    mapped.height = 1;
    mapped.format = PNG_FORMAT_RGB_COLORMAP;
    mapped.colormap_entries = 2;
    const unsigned char colormap[6] = {0, 0, 255, 0, 255, 0};
    const unsigned char indices[2] = {1, 0};
    size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&mapped, nullptr, &size, 0, indices, 0, colormap));
    png.resize(size);
    ASSERT_TRUE(png_image_write_to_memory(&mapped, png.data(), &size, 0, indices, 0, colormap));
    Owned<CBitmap> palette(new CBitmap(png.data(), size));
    ASSERT_TRUE(palette->isLoaded());
    COffscreenContext d(2, 1);
    palette->draw(&d, CRect(0, 0, 2, 1));
    expectRGB(d.getPixel(0, 0), kGreenCColor, "palette entry 1");
    expectRGB(d.getPixel(1, 0), kBlueCColor, "palette entry 0");
}

TEST(Bitmap, GarbageTruncatedAndMissingDataFailCleanly) {
    const unsigned char garbage[64] = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8};
    const auto good = makeSolidPng(16, 16, kRedCColor);
    std::vector<Owned<CBitmap>*> bitmaps;
    Owned<CBitmap> a(new CBitmap(garbage, sizeof garbage));
    Owned<CBitmap> b(new CBitmap(good.data(), good.size() / 2));
    Owned<CBitmap> c(new CBitmap(nullptr, 0));
    Owned<CBitmap> d(new CBitmap(987654));
    Owned<CBitmap> e(new CBitmap("no-such-resource.png"));
    std::vector<unsigned char> corrupt = good;
    for (size_t i = 40; i < corrupt.size() - 12; ++i) corrupt[i] ^= 0x5a;
    Owned<CBitmap> f(new CBitmap(corrupt.data(), corrupt.size()));
    COffscreenContext ctx(16, 16);
    for (CBitmap* bmp : {a.get(), b.get(), c.get(), d.get(), e.get(), f.get()}) {
        EXPECT_FALSE(bmp->isLoaded());
        EXPECT_EQ(bmp->getWidth(), 0);
        EXPECT_EQ(bmp->getHeight(), 0);
        bmp->draw(&ctx, CRect(0, 0, 16, 16));
    }
    EXPECT_EQ(countInk(ctx, CRect(0, 0, 16, 16)), 0) << "unloaded bitmaps draw nothing";
}

std::vector<unsigned char>& providedPng() {
    static std::vector<unsigned char> png = makeSolidPng(3, 5, kGreenCColor);
    return png;
}

bool provideName(int, const char* name, const unsigned char** data, size_t* size) {
    if (!name || std::string(name) != "Provided.png") return false;
    *data = providedPng().data();
    *size = providedPng().size();
    return true;
}

// A bitmap of two stacked frames with a larger drawing for scale 2 (other colours, so the
// pixels tell which drawing was used) and a broken one for 3 of the wrong size.
TEST(Bitmap, LargerDrawingsServeTheirScaleAndTheScalesBetweenWithoutBleedingAcrossFrames) {
    const CColor yellow{228, 189, 31, 255};
    static const auto one = makeTwoFramePng(4, 8, kRedCColor, kBlueCColor);
    static const auto two = makeTwoFramePng(8, 16, kGreenCColor, yellow);
    static const auto wrong = makeSolidPng(10, 10, kWhiteCColor);
    static const CResourceEntry table[] = {
        {0, "Frames.png", one.data(), one.size()},
        {0, "Frames_2x.png", two.data(), two.size()},
        {0, "Frames_3x.png", wrong.data(), wrong.size()},
    };
    CBitmap::setResourceTable(table, 3);
    Owned<CBitmap> bitmap(new CBitmap("Frames.png"));
    EXPECT_TRUE(bitmap->addScaledResource("Frames_2x.png", 2));
    EXPECT_TRUE(bitmap->addScaledResource("Frames_3x.png", 3));
    EXPECT_FALSE(bitmap->addScaledResource("Frames_4x.png", 4));
    CBitmap::setResourceTable(nullptr, 0);

    // Every device pixel of the bottom frame drawn at `scale`, which must all be `colour`.
    auto expectBottomFrame = [&](double scale, const CColor& colour) {
        COffscreenContext context(4, 4, scale);
        bitmap->draw(&context, CRect(0, 0, 4, 4), CPoint(0, 4));
        int wrongPixels = 0;
        for (int y = 0; y < context.getPixelHeight(); ++y)
            for (int x = 0; x < context.getPixelWidth(); ++x)
                if (!context.getPixel(x, y).sameRGB(colour)) ++wrongPixels;
        EXPECT_EQ(wrongPixels, 0) << "scale " << scale;
    };
    expectBottomFrame(1.0, kBlueCColor);
    expectBottomFrame(2.0, yellow);   // the 2x drawing, pixel for pixel
    expectBottomFrame(1.5, yellow);   // shrunk from it, the top frame's green kept out
    expectBottomFrame(1.25, yellow);
    expectBottomFrame(3.0, yellow);   // the 3x drawing has the wrong size: enlarged from 2x
}

TEST(Bitmap, ResourcesAreFoundByIdAndByName) {
    static const auto png101 = makeSolidPng(7, 9, kBlueCColor);
    static const auto knob = makeSolidPng(30, 30, kRedCColor);
    static const CResourceEntry table[] = {
        {101, nullptr, png101.data(), png101.size()},
        {0, "Kovalith_KnobBody.png", knob.data(), knob.size()},
    };
    CBitmap::setResourceTable(table, 2);
    CBitmap::setResourceProvider(provideName);
    Owned<CBitmap> byId(new CBitmap(101));
    Owned<CBitmap> byName(new CBitmap("Kovalith_KnobBody.png"));
    Owned<CBitmap> provided(new CBitmap("Provided.png"));
    Owned<CBitmap> missing(new CBitmap(102));
    Owned<CBitmap> nullName(new CBitmap(static_cast<const char*>(nullptr)));
    CBitmap::setResourceTable(nullptr, 0);
    CBitmap::setResourceProvider(nullptr);
    EXPECT_EQ(byId->getWidth(), 7);
    EXPECT_EQ(byId->getHeight(), 9);
    EXPECT_EQ(byName->getWidth(), 30);
    EXPECT_EQ(provided->getHeight(), 5);
    EXPECT_FALSE(missing->isLoaded());
    EXPECT_FALSE(nullName->isLoaded());
}

TEST(Bitmap, ReferencesAreCounted) {
    const auto png = makeSolidPng(2, 2, kRedCColor);
    CBitmap* bitmap = new CBitmap(png.data(), png.size());
    EXPECT_EQ(bitmap->getNbReference(), 1);
    {
        COnOffButton button(CRect(0, 0, 2, 1), nullptr, 0, bitmap);
        EXPECT_EQ(bitmap->getNbReference(), 2);
    }
    EXPECT_EQ(bitmap->getNbReference(), 1);
    bitmap->forget();  // ASan reports a leak or a double free if counting is wrong
}

TEST(Knob, HandleFollowsTheValueAroundTheBody) {
    const auto body = makeSolidPng(30, 30, kBlueCColor);
    const auto handle = makeSolidPng(4, 4, kRedCColor);
    Owned<CBitmap> bodyBitmap(new CBitmap(body.data(), body.size()));
    Owned<CBitmap> handleBitmap(new CBitmap(handle.data(), handle.size()));
    CKnob knob(CRect(0, 0, 30, 30), nullptr, 0, bodyBitmap.get(), handleBitmap.get());
    knob.setInsetValue(8);
    // Radius 15 - 8 = 7 around (15, 15): lower left at 0, top at 0.5, lower right at 1.
    const struct { float value; CPoint centre; } cases[] = {
        {0.f, CPoint(10, 20)}, {0.5f, CPoint(15, 8)}, {1.f, CPoint(20, 20)}};
    for (const auto& c : cases) {
        knob.setValue(c.value);
        EXPECT_EQ(knob.handleCentre(knob.getValueNormalized()), c.centre) << c.value;
        COffscreenContext ctx(30, 30);
        knob.draw(&ctx);
        expectRGB(ctx.getPixel(c.centre.x, c.centre.y), kRedCColor, "handle");
        for (const auto& other : cases)
            if (other.value != c.value) expectRGB(ctx.getPixel(other.centre.x, other.centre.y), kBlueCColor, "body");
    }
}

TEST(Knob, DrawsPlainWithoutBitmaps) {
    CKnob knob(CRect(0, 0, 30, 30), nullptr, 0, nullptr, nullptr);
    knob.setFrameColor(kBlackCColor);
    knob.setBackColor(kGreenCColor);
    knob.setFontColor(kRedCColor);
    knob.setValue(0.5f);
    COffscreenContext ctx(30, 30);
    knob.draw(&ctx);
    expectRGB(ctx.getPixel(20, 20), kGreenCColor, "disc");
    expectRGB(ctx.getPixel(15, 10), kRedCColor, "pointer towards the top");
    EXPECT_EQ(ctx.getPixel(1, 1).alpha, 0);
}

TEST(OnOffButton, ShowsTopFrameForOffAndBottomFrameForOn) {
    const auto png = makeTwoFramePng(22, 28, kRedCColor, kGreenCColor);
    Owned<CBitmap> bitmap(new CBitmap(png.data(), png.size()));
    COnOffButton button(CRect(5, 5, 27, 19), nullptr, 0, bitmap.get());
    COffscreenContext ctx(40, 40);
    button.draw(&ctx);
    expectRGB(ctx.getPixel(5, 5), kRedCColor, "off, top row");
    expectRGB(ctx.getPixel(26, 18), kRedCColor, "off, bottom row");
    EXPECT_EQ(ctx.getPixel(10, 19).alpha, 0) << "only the rectangle is drawn";
    button.setValue(1.f);
    button.draw(&ctx);
    expectRGB(ctx.getPixel(5, 5), kGreenCColor, "on, top row");
    expectRGB(ctx.getPixel(26, 18), kGreenCColor, "on, bottom row");

    COnOffButton plain(CRect(0, 0, 10, 10), nullptr, 0, nullptr);
    plain.setFontColor(kYellowCColor);
    plain.setValue(1.f);
    COffscreenContext p(10, 10);
    plain.draw(&p);
    expectRGB(p.getPixel(5, 5), kYellowCColor, "plain on");
}

void formatMilliseconds(float value, char* text) { std::snprintf(text, 256, "%0.1f ms", value * 1000); }

TEST(ParamDisplay, TextComesFromTheConvertFunctionOrTwoDecimals) {
    CParamDisplay display(CRect(0, 0, 50, 12));
    display.setValue(0.25f);
    EXPECT_EQ(display.getDisplayText(), "0.25");
    display.setStringConvert(formatMilliseconds);
    display.setValue(0.0464f);
    EXPECT_EQ(display.getDisplayText(), "46.4 ms");

    display.setBackColor(kPanel);
    display.setFrameColor(kText);
    display.setFontColor(kWhiteCColor);
    COffscreenContext ctx(50, 12);
    display.draw(&ctx);
    expectRGB(ctx.getPixel(0, 0), kText, "frame");
    expectRGB(ctx.getPixel(2, 1), kPanel, "back colour");
    EXPECT_GT(countNot(ctx, CRect(1, 1, 49, 11), kPanel), 20) << "text";

    CTextLabel label(CRect(0, 0, 50, 12), "Stages");
    EXPECT_STREQ(label.getText(), "Stages");
    EXPECT_EQ(label.getDisplayText(), "Stages");
}

TEST(OptionMenu, ShowsItsCurrentEntryUnlessNotDrawn) {
    COptionMenu menu(CRect(0, 0, 50, 12), nullptr, 0);
    menu.addEntry("off");
    menu.addEntry("weak");
    menu.setCurrent(1);
    EXPECT_EQ(menu.getDisplayText(), "weak");
    menu.setFontColor(kWhiteCColor);
    menu.setBackColor(kBlackCColor);
    COffscreenContext ctx(50, 12);
    menu.draw(&ctx);
    EXPECT_GT(countNot(ctx, CRect(1, 1, 49, 11), kBlackCColor), 20);
    COptionMenu hidden(CRect(0, 0, 50, 12), nullptr, 0, nullptr, nullptr, kNoDrawStyle);
    hidden.addEntry("Learn Midi");
    COffscreenContext empty(50, 12);
    hidden.draw(&empty);
    EXPECT_EQ(countInk(empty, CRect(0, 0, 50, 12)), 0);
}

TEST(Frame, DrawsBackgroundAndViewsInOrderAndRedrawsOnlyDirtyOnes) {
    const auto png = makeSolidPng(40, 30, kBlueCColor);
    Owned<CBitmap> background(new CBitmap(png.data(), png.size()));
    CFrame frame(CRect(0, 0, 40, 30), nullptr, nullptr);
    EXPECT_FALSE(frame.isOpen());
    frame.setBackground(background.get());
    auto* lower = new COnOffButton(CRect(0, 0, 20, 20), nullptr, 1, nullptr);
    lower->setBackColor(kRedCColor);
    auto* upper = new COnOffButton(CRect(10, 10, 30, 30), nullptr, 2, nullptr);
    upper->setBackColor(kGreenCColor);
    frame.addView(lower);
    frame.addView(upper);
    COffscreenContext ctx(40, 30);
    frame.draw(&ctx);
    expectRGB(ctx.getPixel(35, 5), kBlueCColor, "background");
    expectRGB(ctx.getPixel(5, 5), kRedCColor, "lower view");
    expectRGB(ctx.getPixel(15, 15), kGreenCColor, "later view on top");

    frame.drawDirtyViews(&ctx);  // takes the marks left from construction
    COffscreenContext second(40, 30);
    frame.draw(&second);
    lower->setBackColor(kYellowCColor);  // marks it dirty
    ctx.setFillColor(kBlackCColor);
    ctx.fillRect(CRect(30, 0, 40, 10));  // outside every dirty view: must stay untouched
    const auto drawn = frame.drawDirtyViews(&ctx);
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0], CRect(0, 0, 20, 20));
    expectRGB(ctx.getPixel(5, 5), kYellowCColor, "redrawn");
    expectRGB(ctx.getPixel(15, 15), kGreenCColor, "the view above stays above");
    expectRGB(ctx.getPixel(35, 5), kBlackCColor, "clean area not redrawn");
    EXPECT_TRUE(frame.drawDirtyViews(&ctx).empty());
}

}  // namespace
}  // namespace guitest
