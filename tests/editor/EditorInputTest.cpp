// Typed values, resets and the keyboard, through the frame's entry points: what
// the effect stores and what the host is told.
#include "EditorTestSupport.h"

#include <string>

#include "effect/ParameterText.h"

namespace editortest {
namespace {

class ValueEntry : public EditorFixture {
protected:
    void doubleClick(CPoint where, int modifiers = 0) {
        press(where, kLButton | modifiers);
        release(where, modifiers);
        press(where, kLButton | kDoubleClick | modifiers);
        release(where, modifiers);
    }
    void type(const std::string& text) {
        for (char c : text) {
            CKeyEvent key;
            key.text = std::string(1, c);
            frame->onKeyDown(key);
        }
    }
    bool key(CVirtualKey which) {
        CKeyEvent key;
        key.key = which;
        return frame->onKeyDown(key);
    }
    CPoint readoutOf(int index) { return centreOf(editor->controlGroup(index).readout->getViewSize()); }
    CPoint knobOf(int index) { return centreOf(editor->controlGroup(index).knob->getViewSize()); }
    std::string shown(int index) { return editor->controlGroup(index).readout->getDisplayText(); }
    std::vector<int32_t> opcodes() {
        std::vector<int32_t> out;
        for (const HostCall& c : HostLog::get().all()) out.push_back(c.opcode);
        return out;
    }
    static constexpr int32_t kGesture[] = {vst2::audioMasterBeginEdit, vst2::audioMasterAutomate,
                                           vst2::audioMasterEndEdit};
};

TEST_F(ValueEntry, TypedValueIsOneGestureWithTheParsedValue) {
    effect->setParameter(kDelay, 0.1f);
    editor->idle();
    doubleClick(readoutOf(kDelay));
    CTextEdit* field = editor->getValueEntry();
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->getText(), shown(kDelay)) << "the field holds the read-out's text";
    EXPECT_EQ(frame->getFocusView(), field);

    type("250 ms");  // replaces the selected text
    EXPECT_EQ(field->getText(), "250 ms");
    HostLog::get().clear();
    EXPECT_TRUE(key(kKeyReturn));
    EXPECT_EQ(opcodes(), std::vector<int32_t>(std::begin(kGesture), std::end(kGesture)));
    EXPECT_EQ(automations()[0].index, kDelay);
    EXPECT_EQ(automations()[0].opt, *parseParameter(kDelay, "250 ms", effect->effect().displayContext()));
    EXPECT_EQ(effect->getParameter(kDelay), automations()[0].opt);
    EXPECT_EQ(editor->getValueEntry(), nullptr);
    EXPECT_EQ(frame->getFocusView(), nullptr);
    EXPECT_EQ(shown(kDelay), "0.25");

    // A double click on the knob opens it too; out of range is clamped.
    doubleClick(knobOf(kMix));
    ASSERT_NE(editor->getValueEntry(), nullptr);
    type("7");
    key(kKeyReturn);
    EXPECT_EQ(effect->getParameter(kMix), 1.0f);
    EXPECT_EQ(editor->getValueEntry(), nullptr);
}

TEST_F(ValueEntry, RefusedOrCancelledTextChangesNothing) {
    effect->setParameter(kBlockSize, 0.3f);
    editor->idle();
    const std::string before = shown(kBlockSize);
    doubleClick(readoutOf(kBlockSize));
    CTextEdit* field = editor->getValueEntry();
    ASSERT_NE(field, nullptr);
    HostLog::get().clear();
    for (const char* garbage : {"", "abc", "nan", "1e999", "inf", "250 parsecs"}) {
        key(kKeyBackspace);  // the whole selection, or one character
        while (!field->getText().empty()) key(kKeyBackspace);
        type(garbage);
        EXPECT_TRUE(key(kKeyReturn));
        EXPECT_EQ(editor->getValueEntry(), field) << "'" << garbage << "' stays open for correction";
        EXPECT_TRUE(field->isRefused()) << garbage;
    }
    // The refusal shows: the field's frame turns red, over the read-out's panel colour.
    const CRect box = field->getViewSize();
    EXPECT_LT(colourDistance(render()->getPixel(box.left, box.top), CTextEdit::kRefusedColor), 10);
    type("x");
    EXPECT_FALSE(field->isRefused()) << "an edit clears the mark";
    EXPECT_LT(colourDistance(render()->getPixel(box.left, box.top), kPanelColour), 10);
    // Escape, then a click elsewhere, close it without a change.
    key(kKeyEscape);
    EXPECT_EQ(editor->getValueEntry(), nullptr);
    doubleClick(readoutOf(kBlockSize));
    ASSERT_NE(editor->getValueEntry(), nullptr);
    type("0.5");
    HostLog::get().clear();
    press(CPoint(5, 470));
    release(CPoint(5, 470));
    EXPECT_EQ(editor->getValueEntry(), nullptr);
    EXPECT_TRUE(HostLog::get().all().empty());
    EXPECT_EQ(effect->getParameter(kBlockSize), 0.3f);
    EXPECT_EQ(shown(kBlockSize), before);
    // Without a field, Escape is nobody's key.
    EXPECT_FALSE(key(kKeyEscape));
}

// The field's editing: whole UTF-8 characters, a length bound, nothing that is not text.
TEST_F(ValueEntry, FieldEditsWholeCharacters) {
    doubleClick(readoutOf(kMix));
    CTextEdit* field = editor->getValueEntry();
    ASSERT_NE(field, nullptr);
    key(kKeyEnd);
    type("1");
    EXPECT_EQ(field->getText(), shown(kMix) + "1") << "End leaves the selection; typing appends";
    key(kKeyHome);
    type("-");
    key(kKeyDelete);
    EXPECT_EQ(field->getText(), "-" + shown(kMix).substr(1) + "1");
    CKeyEvent umlaut;
    umlaut.text = "\xc3\xa4";
    frame->onKeyDown(umlaut);
    key(kKeyLeft);
    key(kKeyRight);
    key(kKeyBackspace);
    EXPECT_EQ(field->getText(), "-" + shown(kMix).substr(1) + "1") << "the two bytes go together";
    CKeyEvent broken;
    broken.text = "\xff\xfe";
    EXPECT_FALSE(frame->onKeyDown(broken));
    CKeyEvent shortcut;
    shortcut.text = "s";
    shortcut.modifiers = kControl;
    EXPECT_FALSE(frame->onKeyDown(shortcut));
    type(std::string(10000, '1'));
    EXPECT_EQ(field->getText().size(), CTextEdit::kMaxTextBytes);
    EXPECT_NE(render(), nullptr);  // draws, open, long and all
}

// Ctrl-click takes the "Default" program's value, not the preset's, as one gesture.
TEST_F(ValueEntry, ControlClickResetsToTheDefault) {
    ASSERT_NE(effect->getParameter(kBlockSize), 0.5f) << "the first preset is not the default here";
    HostLog::get().clear();
    press(knobOf(kBlockSize), kLButton | kControl);
    release(knobOf(kBlockSize), kControl);
    EXPECT_EQ(opcodes(), std::vector<int32_t>(std::begin(kGesture), std::end(kGesture)));
    EXPECT_EQ(effect->getParameter(kBlockSize), 0.5f);

    effect->setParameter(kMix, 0.9f);
    press(readoutOf(kMix), kLButton | kControl);
    EXPECT_EQ(effect->getParameter(kMix), 0.5f);
    // The effect itself holds menus as item numbers ("3/4" is the default).
    effect->effect().setParameter(kDelayStereoMult, 5.0f);
    press(centreOf(editor->controlFor(kDelayStereoMult)->getViewSize()), kLButton | kControl);
    EXPECT_EQ(effect->effect().getParameter(kDelayStereoMult), 1.0f);
    EXPECT_FALSE(frame->isPopupMenuOpen());
    effect->setParameter(kPingPong, 1.0f);
    press(centreOf(editor->getButton(kPingPong)->getViewSize()), kLButton | kControl);
    EXPECT_EQ(effect->getParameter(kPingPong), 0.0f);
}

// Text -> value -> text through the editor: every knob's read-out, typed back as it
// stands, keeps its text over the knob's range.
TEST_F(ValueEntry, EveryReadoutTypedBackReadsTheSame) {
    for (int index = 0; index < kNumParams; ++index) {
        if (!editor->controlGroup(index).knob) continue;
        for (int step = 0; step <= 20; ++step) {
            effect->setParameter(index, static_cast<float>(step) / 20.0f);
            editor->idle();
            const std::string before = shown(index);
            ASSERT_TRUE(editor->openValueEntry(index));
            ASSERT_TRUE(key(kKeyReturn));
            ASSERT_EQ(editor->getValueEntry(), nullptr) << describeParameter(index).name << " '" << before << "'";
            EXPECT_EQ(shown(index), before) << describeParameter(index).name;
        }
    }
}

}  // namespace
}  // namespace editortest
