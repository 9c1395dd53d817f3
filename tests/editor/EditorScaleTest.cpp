// The editor drawn at scales above 1: the same picture as at 1 when shrunk back, drawn
// sharp at the device resolution (not a 1x picture stretched or its pixels doubled), and
// the filter display's curve in the same place at every scale.
#include "EditorTestSupport.h"

#include <cmath>
#include <string>

#include "editor/EditorLayout.h"
#include "plugin/SnapshotRequest.h"

namespace editortest {
namespace {

constexpr double kScales[] = {1.25, 1.5, 2.0, 3.0};

// One drawing of the whole window at a scale, as opaque RGB.
struct Picture {
    double scale = 1;
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB

    uint32_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    static int channel(uint32_t p, int c) { return static_cast<int>((p >> (16 - 8 * c)) & 0xff); }
    // Luminance-like brightness, 0..765.
    int brightness(int x, int y) const {
        const uint32_t p = at(x, y);
        return channel(p, 0) + channel(p, 1) + channel(p, 2);
    }
    // The device pixel where frame coordinate `c` begins.
    int device(double c) const { return static_cast<int>(std::lround(c * scale)); }
};

class EditorScale : public EditorFixture {
protected:
    Picture picture(double scale) {
        Picture p;
        p.scale = scale;
        p.width = editor->pixelWidthAt(scale);
        p.height = editor->pixelHeightAt(scale);
        p.pixels.assign(size_t(p.width) * size_t(p.height), 0);
        EXPECT_TRUE(editor->renderSnapshot(p.pixels.data(), p.width * 4, scale)) << scale;
        for (uint32_t& px : p.pixels) px &= 0xffffffu;
        return p;
    }
};

// The picture shrunk to the window's 659 x 479 by averaging each window pixel's area.
std::vector<double> shrunk(const Picture& p) {
    std::vector<double> out(size_t(kEditorWidth) * kEditorHeight * 3, 0.0);
    const double s = p.scale;
    for (int y = 0; y < kEditorHeight; ++y)
        for (int x = 0; x < kEditorWidth; ++x) {
            double sum[3] = {0, 0, 0}, area = 0;
            for (int dy = static_cast<int>(std::floor(y * s)); dy < std::ceil((y + 1) * s) && dy < p.height; ++dy)
                for (int dx = static_cast<int>(std::floor(x * s)); dx < std::ceil((x + 1) * s) && dx < p.width; ++dx) {
                    const double w = (std::min<double>(dx + 1, (x + 1) * s) - std::max<double>(dx, x * s)) *
                                     (std::min<double>(dy + 1, (y + 1) * s) - std::max<double>(dy, y * s));
                    for (int c = 0; c < 3; ++c) sum[c] += w * Picture::channel(p.at(dx, dy), c);
                    area += w;
                }
            for (int c = 0; c < 3; ++c) out[(size_t(y) * kEditorWidth + size_t(x)) * 3 + size_t(c)] = sum[c] / area;
        }
    return out;
}

TEST_F(EditorScale, ScaleIsLimitedAndTheSizesFollowIt) {
    EXPECT_EQ(editor->scale(), 1.0);
    EXPECT_EQ(editor->width(), 659);
    EXPECT_EQ(editor->height(), 479);
    editor->setScale(1.5);
    EXPECT_EQ(editor->width(), 989);  // 988.5 rounds up
    EXPECT_EQ(editor->height(), 719);
    EXPECT_EQ(frame->getScale(), 1.5) << "an open frame takes the scale at once";
    EXPECT_EQ(frame->getViewSize(), CRect(0, 0, 659, 479)) << "frame units stay the picture's";
    vst2::ERect* rect = nullptr;
    ASSERT_TRUE(effect->getEditor()->getRect(&rect));
    EXPECT_EQ(rect->right - rect->left, 989);
    EXPECT_EQ(rect->bottom - rect->top, 719);
    for (double wild : {0.5, -1.0, std::nan("")}) {
        editor->setScale(wild);
        EXPECT_EQ(editor->scale(), 1.0) << wild;
    }
    editor->setScale(7.0);
    EXPECT_EQ(editor->scale(), 3.0);
    EXPECT_EQ(editor->width(), 1977);

    std::vector<uint32_t> buffer(size_t(1977) * 1437);
    EXPECT_FALSE(editor->renderSnapshot(buffer.data(), 1976 * 4, 3.0)) << "stride too small for the scale";
    EXPECT_FALSE(editor->renderSnapshot(buffer.data(), 1977 * 4, 3.5));
    EXPECT_FALSE(editor->renderSnapshot(buffer.data(), 1977 * 4, 0.0));
    EXPECT_TRUE(editor->renderSnapshot(buffer.data(), 1977 * 4));  // the editor's own scale

    // The vendor requests: the size at a scale, then the pixels at it.
    int32_t size[2] = {0, 0};
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotSizeRequest, 0, size, 1.25f), 1);
    EXPECT_EQ(size[0], 824);
    EXPECT_EQ(size[1], 599);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotSizeRequest, 0, size, 3.5f), 0);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotSizeRequest, 0, nullptr, 2.0f), 0);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotRequest, 824 * 4, buffer.data(), 1.25f), 1);
    EXPECT_EQ(effect->dispatcher(vst2::effVendorSpecific, kSnapshotRequest, 1977 * 4, buffer.data(), 0.5f), 0);
}

TEST_F(EditorScale, ShrunkBackEveryScaleShowsTheOneTimesPicture) {
    const Picture one = picture(1.0);
    for (double scale : kScales) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        const Picture big = picture(scale);
        ASSERT_EQ(big.width, static_cast<int>(std::lround(659 * scale)));
        ASSERT_EQ(big.height, static_cast<int>(std::lround(479 * scale)));
        const std::vector<double> small = shrunk(big);
        double total = 0;
        size_t far = 0;
        for (int y = 0; y < kEditorHeight; ++y)
            for (int x = 0; x < kEditorWidth; ++x) {
                double d = 0;
                for (int c = 0; c < 3; ++c)
                    d += std::fabs(small[(size_t(y) * kEditorWidth + size_t(x)) * 3 + size_t(c)] -
                                   Picture::channel(one.at(x, y), c));
                total += d;
                if (d > 150) ++far;
            }
        const double pixels = double(kEditorWidth) * kEditorHeight;
        // Text is laid out again at each size, so glyph edges move by a fraction of a
        // pixel; between the artwork's own scales it is resampled, which softens a little.
        const bool artworkScale = scale == 2.0 || scale == 3.0;
        EXPECT_LT(total / pixels / 3, artworkScale ? 3.0 : 6.0) << "mean difference per channel";
        EXPECT_LT(far / pixels, 0.02) << "share of clearly different pixels";
    }
}

// The steepest change of brightness between neighbouring device pixels along the rows
// of `area` (frame coordinates): a sharp edge changes within one device pixel at any scale.
int steepestStep(const Picture& p, const CRect& area) {
    int steepest = 0;
    for (int y = p.device(area.top); y < p.device(area.bottom); ++y)
        for (int x = p.device(area.left); x + 1 < p.device(area.right); ++x)
            steepest = std::max(steepest, std::abs(p.brightness(x + 1, y) - p.brightness(x, y)));
    return steepest;
}

// The share of the 2 x 2 device blocks of one frame pixel each that are not one colour.
// A 1x picture with its pixels doubled has none.
double shareOfMixedBlocks(const Picture& p, const CRect& area) {
    int mixed = 0, blocks = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            const uint32_t a = p.at(2 * x, 2 * y);
            ++blocks;
            if (p.at(2 * x + 1, 2 * y) != a || p.at(2 * x, 2 * y + 1) != a || p.at(2 * x + 1, 2 * y + 1) != a) ++mixed;
        }
    return double(mixed) / blocks;
}

TEST_F(EditorScale, EdgesAndTextAreDrawnAtTheDeviceResolution) {
    const layout::KnobAnchor stages = layout::knobAnchorOf(kNumStages);
    const layout::Box knob = layout::knobBox(stages.x, stages.y);
    const layout::Box readout = layout::readoutBox(stages.x, stages.y);
    const CRect knobRect(knob.left, knob.top, knob.right, knob.bottom);
    // The read-out's text, inside its frame.
    const CRect textRect(readout.left + 2, readout.top + 1, readout.right - 2, readout.bottom - 1);

    const Picture one = picture(1.0);
    const Picture two = picture(2.0);
    const Picture three = picture(3.0);
    for (const CRect& area : {knobRect, textRect}) {
        SCOPED_TRACE(area.left == knobRect.left ? "knob ring" : "read-out glyphs");
        const int at1 = steepestStep(one, area);
        ASSERT_GT(at1, 100) << "the area has an edge to measure";
        // Stretched, an edge would spread over two or three device pixels and its steepest
        // step shrink to a half or a third.
        EXPECT_GT(steepestStep(two, area), at1 * 7 / 10);
        EXPECT_GT(steepestStep(three, area), at1 * 7 / 10);
        EXPECT_GT(shareOfMixedBlocks(two, area), 0.05) << "pixel blocks doubled from a 1x picture";
    }
}

// The logical column where the lowpass curve leaves its pass band, and the curve's
// height there, read from the filter display's pixels in the line colour.
struct Knee {
    double x = -1;
    double passBand = -1;
};

Knee kneeOf(const Picture& p) {
    const layout::Box box = layout::kFilterDisplayBox;
    const int height = box.bottom - box.top;
    Knee knee;
    for (int column = 0; column < box.right - box.left; ++column) {
        // Between the type's name at the top and the cutoff text at the bottom.
        double sum = 0;
        int count = 0;
        for (int y = p.device(box.top + 20); y < p.device(box.bottom - 12); ++y)
            for (int x = p.device(box.left + column); x < p.device(box.left + column + 1); ++x)
                if (colourDistance(CColor{uint8_t(Picture::channel(p.at(x, y), 0)),
                                          uint8_t(Picture::channel(p.at(x, y), 1)),
                                          uint8_t(Picture::channel(p.at(x, y), 2)), 255},
                                   kTextColour) < 40) {
                    sum += (y + 0.5) / p.scale - box.top;
                    ++count;
                }
        if (count == 0) continue;
        const double curve = sum / count;
        if (knee.passBand < 0) knee.passBand = curve;
        if (curve > knee.passBand + 6 && curve < height) {
            knee.x = column;
            break;
        }
    }
    return knee;
}

TEST_F(EditorScale, FilterCurveFollowsTheSameCutoffAtEveryScale) {
    effect->setParameter(kFilterType, 0.0f);
    effect->setParameter(kResonance, 0.3f);
    for (float cutoff : {0.25f, 0.6f}) {
        SCOPED_TRACE("cutoff " + std::to_string(cutoff));
        effect->setParameter(kCutoff, cutoff);
        editor->applyPendingChanges();
        const Knee reference = kneeOf(picture(1.0));
        ASSERT_GT(reference.x, 5) << "the curve has a knee to find";
        for (double scale : kScales) {
            const Knee knee = kneeOf(picture(scale));
            EXPECT_NEAR(knee.x, reference.x, 1.0) << "scale " << scale;
            EXPECT_NEAR(knee.passBand, reference.passBand, 1.0) << "scale " << scale;
        }
    }
}

}  // namespace
}  // namespace editortest
