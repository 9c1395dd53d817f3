// The state the new formats save: the bank and the current program, taken
// back whole or refused whole.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "effect/KovalithEffect.h"

namespace {

using namespace kovalith;

TEST(EffectState, SaveLoadSaveGivesTheSameBytesAndProgram) {
    auto effect = std::make_unique<KovalithEffect>();
    effect->setProgram(3);
    effect->setParameter(kMix, 0.25f);
    effect->setProgramName("Mine");
    const std::vector<uint8_t> saved = effect->saveState();
    ASSERT_EQ(saved.size(), kStateSize);

    auto other = std::make_unique<KovalithEffect>();
    ASSERT_TRUE(other->loadState(saved.data(), saved.size()));
    EXPECT_EQ(other->program(), 3);
    EXPECT_EQ(other->getParameter(kMix), 0.25f);
    char name[kProgramNameSize];
    other->getProgramName(name);
    EXPECT_STREQ(name, "Mine");
    EXPECT_EQ(other->saveState(), saved);

    // A bare bank chunk (as the VST 2.4 plug-in saves it) keeps the current program.
    void* bank = nullptr;
    const int32_t size = effect->getChunk(&bank, false);
    auto fresh = std::make_unique<KovalithEffect>();
    fresh->setProgram(1);
    ASSERT_TRUE(fresh->loadState(bank, static_cast<std::size_t>(size)));
    EXPECT_EQ(fresh->program(), 1);
    EXPECT_EQ(std::memcmp(fresh->saveState().data(), saved.data(), sizeof(ProgramBank)), 0);
}

TEST(EffectState, DamagedOrForeignStatesAreRefusedWithNothingLost) {
    auto effect = std::make_unique<KovalithEffect>();
    effect->setProgram(2);
    effect->setParameter(kFeedback, 0.5f);
    const std::vector<uint8_t> before = effect->saveState();

    std::vector<uint8_t> state = before;
    state.back() = 0x7F;  // program 2130706434
    std::vector<uint8_t> wrongTag = before;
    wrongTag[sizeof(ProgramBank)] ^= 1;
    std::vector<uint8_t> shorter(before.begin(), before.end() - 1);
    std::vector<uint8_t> foreign(kStateSize, 0xAB);
    for (const std::vector<uint8_t>* bad : {&state, &wrongTag, &shorter, &foreign})
        EXPECT_FALSE(effect->loadState(bad->data(), bad->size()));
    EXPECT_FALSE(effect->loadState(nullptr, kStateSize));
    EXPECT_EQ(effect->saveState(), before);
    EXPECT_EQ(effect->getParameter(kFeedback), 0.5f);
}

TEST(EffectState, ProgramNamesByIndex) {
    KovalithEffect effect;
    char name[kProgramNameSize];
    ASSERT_TRUE(effect.getProgramNameIndexed(4, name));
    EXPECT_STREQ(name, "Skaro Defence Force");
    ASSERT_TRUE(effect.getProgramNameIndexed(31, name));
    EXPECT_STREQ(name, "Default");
    EXPECT_FALSE(effect.getProgramNameIndexed(32, name));
    EXPECT_FALSE(effect.getProgramNameIndexed(-1, name));
}

}  // namespace
