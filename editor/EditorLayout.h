// Where every control of the window lies, in the background picture's pixels. The editor
// builds its controls here, the artwork generator keeps its printed text clear of them,
// and the tests check the editor against them: one table for all three.
// Plain integers and the parameter indices only, so the generator needs nothing else.
#pragma once

#include "engine/ParameterIds.h"

namespace kovalith::layout {

struct Box {
    int left, top, right, bottom;
};

constexpr int kWindowWidth = 659;
constexpr int kWindowHeight = 479;
// The knob body's size; the knob's rectangle takes it from the bitmap when it loads.
constexpr int kKnobSize = 30;

// A knob group hangs from its knob's top-left corner (the anchor): the caption above,
// the knob, then the read-out below it.
struct KnobAnchor {
    int param;
    int x, y;
};

constexpr Box captionBox(int x, int y) { return {x - 6, y, x + 44, y + 12}; }
constexpr Box knobBox(int x, int y, int width = kKnobSize, int height = kKnobSize) {
    return {x, y + 14, x + width, y + 14 + height};
}
constexpr Box readoutBox(int x, int y) { return {x - 6, y + 46, x + 44, y + 58}; }

// The three modulation rows (LFO 1, LFO 2, envelope) share their columns: the
// destinations A Warp, Dec, BufRate, S Warp, S Res, Gain, Fb Cut, left to right.
constexpr int kMatrixColumns = 7;
constexpr int kMatrixX[kMatrixColumns] = {240, 295, 350, 405, 460, 515, 570};
constexpr int kLfo1RowY = 260;
constexpr int kLfo2RowY = 330;
constexpr int kEnvRowY = 400;

constexpr KnobAnchor kKnobAnchors[] = {
    // analysis and playback
    {kNumStages, 30, 30},
    {kBlockSize, 85, 30},
    {kSmoothing, 30, 100},
    {kAWarp, 170, 30},
    {kARes, 225, 30},
    {kSaturation, 170, 100},
    {kBufferRate, 225, 100},
    {kDecimation, 170, 170},
    {kARotate, 225, 170},
    // resynthesis
    {kSWarp, 310, 30},
    {kSRes, 365, 30},
    {kSRotate, 310, 100},
    // delay and output
    {kDelay, 450, 30},
    {kFeedback, 505, 30},
    {kMix, 590, 30},
    {kOut, 590, 100},
    // modulation sources
    {kLfo1Freq, 145, kLfo1RowY},
    {kLfo2Freq, 145, kLfo2RowY},
    {kEnvAttack, 90, kEnvRowY},
    {kEnvRelease, 145, kEnvRowY},
    // the modulation matrix
    {kLfo1ToAWarp, kMatrixX[0], kLfo1RowY},
    {kLfo1ToDec, kMatrixX[1], kLfo1RowY},
    {kLfo1ToBufRate, kMatrixX[2], kLfo1RowY},
    {kLfo1ToSWarp, kMatrixX[3], kLfo1RowY},
    {kLfo1ToSRes, kMatrixX[4], kLfo1RowY},
    {kLfo1ToGain, kMatrixX[5], kLfo1RowY},
    {kLfo1ToFbCutoff, kMatrixX[6], kLfo1RowY},
    {kLfo2ToAWarp, kMatrixX[0], kLfo2RowY},
    {kLfo2ToDec, kMatrixX[1], kLfo2RowY},
    {kLfo2ToBufRate, kMatrixX[2], kLfo2RowY},
    {kLfo2ToSWarp, kMatrixX[3], kLfo2RowY},
    {kLfo2ToSRes, kMatrixX[4], kLfo2RowY},
    {kLfo2ToGain, kMatrixX[5], kLfo2RowY},
    {kLfo2ToFbCutoff, kMatrixX[6], kLfo2RowY},
    {kEnvToAWarp, kMatrixX[0], kEnvRowY},
    {kEnvToDec, kMatrixX[1], kEnvRowY},
    {kEnvToBufRate, kMatrixX[2], kEnvRowY},
    {kEnvToSWarp, kMatrixX[3], kEnvRowY},
    {kEnvToSRes, kMatrixX[4], kEnvRowY},
    {kEnvToGain, kMatrixX[5], kEnvRowY},
    {kEnvToFbCutoff, kMatrixX[6], kEnvRowY},
};

// Option menus and two-state buttons: one rectangle each.
struct ControlBox {
    int param;
    Box box;
};

constexpr ControlBox kMenuBoxes[] = {
    {kDelayStereoMult, {500, 184, 550, 196}},
    {kDelaySync, {500, 199, 550, 211}},
    {kLfo1Shape, {85, 275, 135, 287}},
    {kLfo1Sync, {85, 306, 135, 318}},
    {kLfo2Shape, {85, 345, 135, 357}},
    {kLfo2Sync, {85, 376, 135, 388}},
    {kCompressorType, {340, 6, 410, 18}},
};

constexpr ControlBox kButtonBoxes[] = {
    {kPingPong, {500, 214, 550, 231}},
    {kLfo1Stereo, {200, 281, 222, 295}},
    {kLfo2Stereo, {200, 351, 222, 365}},
};

// The feedback filter's display, which stands for "Filter Type", "Cutoff" and "Resonance".
constexpr Box kFilterDisplayBox = {445, 100, 550, 175};

// The anchor of `param`'s knob group; {-1, 0, 0} for a parameter without one.
constexpr KnobAnchor knobAnchorOf(int param) {
    for (const KnobAnchor& k : kKnobAnchors)
        if (k.param == param) return k;
    return {-1, 0, 0};
}

// The rectangle of `param`'s menu or button; all zero for a parameter without one.
constexpr Box controlBoxOf(int param) {
    for (const ControlBox& c : kMenuBoxes)
        if (c.param == param) return c.box;
    for (const ControlBox& c : kButtonBoxes)
        if (c.param == param) return c.box;
    return {0, 0, 0, 0};
}

}  // namespace kovalith::layout
