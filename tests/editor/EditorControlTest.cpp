// The controls driven through the toolkit's event entry points, and what the
// host and the effect receive; the effect's changes mirrored back.
#include "EditorTestSupport.h"
#include "tests/ControllerEvent.h"

#include <atomic>
#include <cmath>
#include <string>
#include <thread>

namespace editortest {
namespace {

const char* convertName(CParamDisplayStringConvert convert) {
    if (convert == formatHertz) return "formatHertz";
    if (convert == formatSyncUnits) return "formatSyncUnits";
    return "other";
}

TEST_F(EditorFixture, KnobDragIsAutomatedBetweenBeginAndEndEdit) {
    effect->setParameter(kFeedback, 0.25f);
    editor->idle();
    HostLog::get().clear();
    CKnob* knob = editor->controlGroup(kFeedback).knob;
    const CPoint centre = centreOf(knob->getViewSize());
    press(centre);
    move(CPoint(centre.x, centre.y - 20));
    move(CPoint(centre.x, centre.y - 40));  // 40 of 200 pixels: a fifth of the range
    release(CPoint(centre.x, centre.y - 40));

    const std::vector<HostCall> automate = automations();
    ASSERT_EQ(automate.size(), 2u);
    for (const HostCall& c : automate) EXPECT_EQ(c.index, kFeedback);
    EXPECT_NEAR(automate[0].opt, 0.35f, 1e-6);
    EXPECT_NEAR(automate[1].opt, 0.45f, 1e-6);
    EXPECT_FLOAT_EQ(effect->getParameter(kFeedback), automate[1].opt);
    EXPECT_FLOAT_EQ(knob->getValue(), automate[1].opt);
    // The read-out follows in the same pass, before any idle.
    EXPECT_FLOAT_EQ(editor->controlGroup(kFeedback).readout->getValue(), effect->getSyncedValue(kFeedback));

    const std::vector<HostCall> all = HostLog::get().all();
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all.front().opcode, vst2::audioMasterBeginEdit);
    EXPECT_EQ(all.front().index, kFeedback);
    EXPECT_EQ(all.back().opcode, vst2::audioMasterEndEdit);
    EXPECT_EQ(all.back().index, kFeedback);
}

// Shift moves a knob a tenth as far, by drag and by wheel.
TEST_F(EditorFixture, ShiftDragAndWheelMoveATenth) {
    CKnob* knob = editor->controlGroup(kMix).knob;
    const CPoint centre = centreOf(knob->getViewSize());
    const auto dragged = [&](int modifiers) {
        effect->setParameter(kMix, 0.5f);
        editor->idle();
        press(centre, kLButton | modifiers);
        move(CPoint(centre.x, centre.y - 40), kLButton | modifiers);  // 40 of 200 pixels
        release(CPoint(centre.x, centre.y - 40), modifiers);
        return effect->getParameter(kMix) - 0.5f;
    };
    EXPECT_NEAR(dragged(0), 0.2f, 1e-6);
    EXPECT_NEAR(dragged(kShift), 0.02f, 1e-6);
    const auto wheeled = [&](int modifiers) {
        effect->setParameter(kMix, 0.5f);
        editor->idle();
        frame->onWheel(centre, 1.0f, CButtonState(modifiers));
        return effect->getParameter(kMix) - 0.5f;
    };
    EXPECT_NEAR(wheeled(kShift), wheeled(0) / 10.0f, 1e-6);
    EXPECT_GT(wheeled(kShift), 0.0f);
    EXPECT_EQ(automations().back().index, kMix);
}

TEST_F(EditorFixture, ButtonClickToggles) {
    COnOffButton* button = editor->getButton(kPingPong);
    const float before = effect->getParameter(kPingPong);
    press(centreOf(button->getViewSize()));
    release(centreOf(button->getViewSize()));
    const std::vector<HostCall> automate = automations();
    ASSERT_EQ(automate.size(), 1u);
    EXPECT_EQ(automate[0].index, kPingPong);
    EXPECT_FLOAT_EQ(automate[0].opt, before > 0.5f ? 0.0f : 1.0f);
    EXPECT_FLOAT_EQ(effect->getParameter(kPingPong), automate[0].opt);

    press(centreOf(editor->getButton(kLfo2Stereo)->getViewSize()));
    ASSERT_EQ(automations().size(), 2u);
    EXPECT_EQ(automations()[1].index, kLfo2Stereo);
}

// The host records the entry's position in 0..1; the effect stores the entry.
TEST_F(EditorFixture, MenuChoiceSendsTheEntrysPosition) {
    auto* compressor = static_cast<COptionMenu*>(editor->controlFor(kCompressorType));
    ASSERT_TRUE(compressor->chooseEntry(3));
    ASSERT_EQ(automations().size(), 1u);
    EXPECT_EQ(automations()[0].index, kCompressorType);
    EXPECT_EQ(automations()[0].opt, 0.75f);
    EXPECT_EQ(effect->getParameter(kCompressorType), 0.75f);
    EXPECT_EQ(effect->effect().getParameter(kCompressorType), 3.0f);
    EXPECT_EQ(compressor->getDisplayText(), "strong");
    auto* delaySync = static_cast<COptionMenu*>(editor->controlFor(kDelaySync));
    ASSERT_TRUE(delaySync->chooseEntry(6));
    ASSERT_EQ(automations().size(), 2u);
    EXPECT_EQ(automations()[1].opt, 6.0f / 14.0f);
    EXPECT_EQ(effect->effect().getParameter(kDelaySync), 6.0f);
    EXPECT_EQ(delaySync->getDisplayText(), "1/16");
}

TEST_F(EditorFixture, LearnAndForgetChoicesAreCommandsNotAutomation) {
    const KovalithEditor::ControlGroup& delay = editor->controlGroup(kDelay);
    ASSERT_TRUE(delay.learnMenu->chooseEntry(0));  // "Learn Midi"
    EXPECT_TRUE(effect->isLearnArmed());
    EXPECT_EQ(effect->learnParameter(), kDelay);

    // A controller arrives and is bound to "Delay".
    testevents::ControllerEvent cc(0xB0, 21, 64);
    effect->processEvents(cc.events());
    EXPECT_EQ(effect->controllerOf(kDelay), 21);

    ASSERT_TRUE(delay.learnMenu->chooseEntry(1));  // "Forget Midi": setParameter(84, 1)
    EXPECT_EQ(effect->controllerOf(kDelay), -1);
    EXPECT_TRUE(automations().empty()) << "learn commands are not automation";
    EXPECT_TRUE(HostLog::get().of(vst2::audioMasterBeginEdit).empty());
}

TEST_F(EditorFixture, EffectChangesShowAtTheNextIdle) {
    CKnob* knob = editor->controlGroup(kFeedback).knob;
    knob->takeDirty();
    effect->setParameter(kFeedback, 0.7f);
    // Only noted so far: the control changes on the user-interface thread.
    EXPECT_NE(knob->getValue(), 0.7f);
    editor->idle();
    EXPECT_FLOAT_EQ(knob->getValue(), 0.7f);
    EXPECT_TRUE(knob->isDirty());
    EXPECT_FLOAT_EQ(editor->controlGroup(kFeedback).readout->getValue(), effect->getSyncedValue(kFeedback));
    EXPECT_TRUE(automations().empty()) << "mirroring a change does not echo it to the host";

    // Menus and buttons take the stored value (the host sends item 6 of 8 as 6/7).
    effect->setParameter(kLfo2Shape, 6.0f / 7.0f);
    effect->setParameter(kLfo1Stereo, 1.0f);
    editor->idle();
    EXPECT_EQ(static_cast<COptionMenu*>(editor->controlFor(kLfo2Shape))->getDisplayText(), "s & h");
    EXPECT_TRUE(editor->getButton(kLfo1Stereo)->isOn());

    // Indices outside the parameters are ignored.
    editor->setParameter(-1, 0.5f);
    editor->setParameter(67, 0.5f);
    editor->setParameter(kLearnCommandBase + kFeedback, 1.0f);
    editor->idle();
    EXPECT_FLOAT_EQ(knob->getValue(), 0.7f);
}

TEST_F(EditorFixture, HostFilterTypeSelectsTheDisplaysType) {
    effect->setParameter(kFilterType, 0.5f);
    editor->idle();
    float cutoff, q;
    int type;
    editor->getFilterDisplay()->getFilter(&cutoff, &q, &type);
    EXPECT_EQ(type, 5);
    EXPECT_EQ(editor->getFilterDisplay()->getTypeMenu()->getCurrent(), 5);
    effect->setParameter(kCutoff, 0.125f);
    effect->setParameter(kResonance, 0.75f);
    editor->idle();
    editor->getFilterDisplay()->getFilter(&cutoff, &q, &type);
    EXPECT_FLOAT_EQ(cutoff, 0.125f);
    EXPECT_FLOAT_EQ(q, 0.75f);
    EXPECT_EQ(type, 5);
    // A type stored beyond the list marks its last entry.
    effect->setParameter(kFilterType, 0.9f);
    editor->idle();
    editor->getFilterDisplay()->getFilter(&cutoff, &q, &type);
    EXPECT_EQ(type, 9);
    EXPECT_EQ(editor->getFilterDisplay()->getTypeMenu()->getCurrent(), 7);
    // Huge stored values don't make the type conversion undefined.
    effect->setParameter(kFilterType, 3e38f);
    editor->idle();
    editor->getFilterDisplay()->getFilter(&cutoff, &q, &type);
    EXPECT_EQ(type, 1000);
}

TEST_F(EditorFixture, LfoSyncSwitchesTheFrequencyReadOut) {
    effect->setParameter(kLfo1Sync, 0.0f);
    effect->setParameter(kLfo1Freq, 0.5f);  // 20 v^2 = 5 Hz
    editor->idle();
    CParamDisplay* readout = editor->controlGroup(kLfo1Freq).readout;
    EXPECT_STREQ(convertName(readout->getStringConvert()), "formatHertz");
    EXPECT_EQ(readout->getDisplayText(), "5.00 Hz");

    // "off" to "1/4" through the menu: whole sync units, or "--".
    ASSERT_TRUE(static_cast<COptionMenu*>(editor->controlFor(kLfo1Sync))->chooseEntry(4));
    EXPECT_STREQ(convertName(readout->getStringConvert()), "formatSyncUnits");
    const std::string text = readout->getDisplayText();
    EXPECT_EQ(readout->getValue(), effect->getSyncedValue(kLfo1Freq)) << "the read-out counts units at once";
    EXPECT_TRUE(text == "--" || text.find_first_not_of("0123456789") == std::string::npos) << text;
    EXPECT_NE(text, "0") << "a synced LFO runs at least one unit per cycle";

    // LFO 2 has its own read-out, and the same rule from the effect's side.
    effect->setParameter(kLfo2Sync, 5.0f / 14.0f);
    editor->idle();
    EXPECT_STREQ(convertName(editor->controlGroup(kLfo2Freq).readout->getStringConvert()), "formatSyncUnits");
    effect->setParameter(kLfo2Sync, 0.0f);
    editor->idle();
    EXPECT_STREQ(convertName(editor->controlGroup(kLfo2Freq).readout->getStringConvert()), "formatHertz");
    EXPECT_STREQ(convertName(readout->getStringConvert()), "formatSyncUnits");
}

TEST_F(EditorFixture, DelaySyncChangesWhatTheDelayReadOutCounts) {
    effect->setParameter(kDelaySync, 0.0f);
    effect->setParameter(kDelay, 0.5f);
    editor->idle();
    CParamDisplay* readout = editor->controlGroup(kDelay).readout;
    EXPECT_FLOAT_EQ(readout->getValue(), effect->getSyncedValue(kDelay));
    effect->setParameter(kDelaySync, 4.0f / 14.0f);
    editor->idle();
    EXPECT_FLOAT_EQ(readout->getValue(), effect->getSyncedValue(kDelay));
}

TEST_F(EditorFixture, ReopeningShowsTheCurrentValues) {
    const int views = editor->controlCount();
    editor->close();
    EXPECT_EQ(editor->getFrame(), nullptr);
    effect->setParameter(kFeedback, 0.9f);  // while closed: ignored by the editor
    effect->setParameter(kCompressorType, 0.5f);
    editor->idle();  // nothing to idle
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(editor->openWithoutWindow());
        EXPECT_FALSE(editor->openWithoutWindow()) << "a second open while open";
        EXPECT_EQ(editor->controlCount(), views);
        EXPECT_FLOAT_EQ(editor->controlGroup(kFeedback).knob->getValue(), 0.9f);
        EXPECT_EQ(static_cast<COptionMenu*>(editor->controlFor(kCompressorType))->getDisplayText(), "medium");
        editor->close();
        editor->close();  // a second close does nothing
    }
    frame = nullptr;
}

TEST_F(EditorFixture, ProgramChangeReachesEveryControl) {
    effect->setProgram(2);
    editor->idle();
    for (int p = 0; p < kNumParams; ++p) {
        CControl* control = editor->controlFor(p);
        if (!control || p == kFilterType || p == kCutoff || p == kResonance) continue;
        EXPECT_FLOAT_EQ(control->getValue(), effect->effect().getParameter(p)) << p;
    }
}

// setParameter arrives from other threads while the user-interface thread idles
// and draws; the controls must end with the last values (and ASan/UBSan see no
// race on freed controls).
TEST_F(EditorFixture, ChangesFromAnotherThreadWhileDrawing) {
    std::atomic<bool> stop{false};
    std::thread automation([&] {
        int n = 0;
        while (!stop.load()) {
            const float v = static_cast<float>(n % 100) / 100.0f;
            effect->setParameter(kFeedback, v);
            effect->setParameter(kLfo1Sync, static_cast<float>(n % 3) / 14.0f);
            effect->setParameter(kFilterType, static_cast<float>(n % 8) / 10.0f);
            ++n;
        }
    });
    COffscreenContext context(kEditorWidth, kEditorHeight);
    for (int i = 0; i < 30; ++i) {
        editor->idle();
        frame->drawDirtyViews(&context);
        if (i % 10 == 9) {
            editor->close();
            ASSERT_TRUE(editor->openWithoutWindow());
            frame = editor->getFrame();
        }
    }
    stop = true;
    automation.join();
    editor->idle();
    EXPECT_FLOAT_EQ(editor->controlGroup(kFeedback).knob->getValue(), effect->getParameter(kFeedback));
    float cutoff, q;
    int type;
    editor->getFilterDisplay()->getFilter(&cutoff, &q, &type);
    EXPECT_EQ(type, static_cast<int>(effect->getParameter(kFilterType) * 10.0f + 0.5f));
}

TEST_F(EditorFixture, KnobModeFromTheHost) {
    effect->setParameter(kOut, 0.2f);
    editor->idle();
    HostLog::get().clear();
    EXPECT_EQ(effect->dispatcher(vst2::effSetEditKnobMode, 0, kCircularMode, nullptr, 0.0f), 1);
    EXPECT_EQ(editor->getKnobMode(), kCircularMode);
    // In circular mode the knob follows the pointer's direction: straight up is the middle.
    CKnob* knob = editor->controlGroup(kOut).knob;
    const CPoint centre = centreOf(knob->getViewSize());
    press(CPoint(centre.x, centre.y - 12));
    release(CPoint(centre.x, centre.y - 12));
    ASSERT_FALSE(automations().empty());
    EXPECT_NEAR(automations().back().opt, 0.5f, 0.02f);
    EXPECT_EQ(effect->dispatcher(vst2::effSetEditKnobMode, 0, 9, nullptr, 0.0f), 0);
    EXPECT_EQ(editor->getKnobMode(), kCircularMode);
}

}  // namespace
}  // namespace editortest
