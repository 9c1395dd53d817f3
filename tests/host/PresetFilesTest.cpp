// .fxp / .fxb: the byte layout we write, and files that lie about themselves.
#include "host/PresetFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace kovalith {
namespace host {
namespace {

const std::string kFixture = std::string(FIXTURE_DIR) + "/fixture_normal.so";

int32_t readBE(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<int32_t>(uint32_t(bytes[offset]) << 24 | uint32_t(bytes[offset + 1]) << 16 |
                                uint32_t(bytes[offset + 2]) << 8 | uint32_t(bytes[offset + 3]));
}

void writeBE(std::vector<uint8_t>& bytes, size_t offset, int32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (24 - 8 * i));
}

FxProgram paramProgram() {
    FxProgram p;
    p.fxID = vst2::fourCC('A', 'b', 'c', 'd');
    p.fxVersion = 5;
    p.name = "A name longer than the twenty-seven bytes";
    p.params = {0.0f, 0.25f, 1.0f, 3.0f};
    p.numParams = 4;
    return p;
}

FxProgram chunkProgram() {
    FxProgram p = paramProgram();
    p.isChunk = true;
    p.params.clear();
    p.chunk = {9, 8, 7, 6, 5, 4, 3};
    return p;
}

FxBank paramBank() {
    FxBank b;
    b.fxID = vst2::fourCC('A', 'b', 'c', 'd');
    b.fxVersion = 5;
    b.currentProgram = 1;
    b.programs = {paramProgram(), paramProgram()};
    b.programs[1].name = "Second";
    b.programs[1].params[1] = 0.5f;
    b.numPrograms = 2;
    return b;
}

FxBank chunkBank() {
    FxBank b = paramBank();
    b.isChunk = true;
    b.programs.clear();
    b.chunk = std::vector<uint8_t>(300, 0xA5);
    return b;
}

TEST(PresetLayout, ProgramsAreBigEndianRecords) {
    const std::vector<uint8_t> params = serializeFxp(paramProgram());
    ASSERT_EQ(params.size(), 56u + 4 * 4);
    EXPECT_EQ(std::memcmp(params.data(), "CcnK", 4), 0);
    EXPECT_EQ(readBE(params, 4), static_cast<int32_t>(params.size() - 8));
    EXPECT_EQ(std::memcmp(&params[8], "FxCk", 4), 0);
    EXPECT_EQ(readBE(params, 12), 1);
    EXPECT_EQ(std::memcmp(&params[16], "Abcd", 4), 0);
    EXPECT_EQ(readBE(params, 20), 5);
    EXPECT_EQ(readBE(params, 24), 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&params[28])), "A name longer than the twen");
    EXPECT_EQ(readBE(params, 56 + 3 * 4), 0x40400000) << "3.0f, big-endian";

    const std::vector<uint8_t> chunk = serializeFxp(chunkProgram());
    ASSERT_EQ(chunk.size(), 60u + 7);
    EXPECT_EQ(std::memcmp(&chunk[8], "FPCh", 4), 0);
    EXPECT_EQ(readBE(chunk, 56), 7);
    EXPECT_EQ(chunk[60], 9);
}

TEST(PresetLayout, BanksAreVersionTwoWithTheCurrentProgram) {
    const std::vector<uint8_t> chunk = serializeFxb(chunkBank());
    ASSERT_EQ(chunk.size(), 160u + 300);
    EXPECT_EQ(std::memcmp(&chunk[8], "FBCh", 4), 0);
    EXPECT_EQ(readBE(chunk, 4), static_cast<int32_t>(chunk.size() - 8));
    EXPECT_EQ(readBE(chunk, 12), 2);
    EXPECT_EQ(readBE(chunk, 24), 2);
    EXPECT_EQ(readBE(chunk, 28), 1);
    EXPECT_EQ(readBE(chunk, 156), 300);

    const std::vector<uint8_t> params = serializeFxb(paramBank());
    EXPECT_EQ(std::memcmp(&params[8], "FxBk", 4), 0);
    EXPECT_EQ(params.size(), 156u + 2 * (56 + 16));
    EXPECT_EQ(std::memcmp(&params[156], "CcnK", 4), 0);
}

TEST(PresetLayout, EveryFormRoundTrips) {
    std::string error;
    const auto p = parseFxp(serializeFxp(paramProgram()), &error);
    ASSERT_TRUE(p) << error;
    EXPECT_EQ(p->params, paramProgram().params);
    EXPECT_EQ(p->name, "A name longer than the twen");
    const auto c = parseFxp(serializeFxp(chunkProgram()), &error);
    ASSERT_TRUE(c) << error;
    EXPECT_TRUE(c->isChunk);
    EXPECT_EQ(c->chunk, chunkProgram().chunk);

    const auto b = parseFxb(serializeFxb(paramBank()), &error);
    ASSERT_TRUE(b) << error;
    ASSERT_EQ(b->programs.size(), 2u);
    EXPECT_EQ(b->programs[1].name, "Second");
    EXPECT_FLOAT_EQ(b->programs[1].params[1], 0.5f);
    EXPECT_EQ(b->currentProgram, 1);
    const auto cb = parseFxb(serializeFxb(chunkBank()), &error);
    ASSERT_TRUE(cb) << error;
    EXPECT_EQ(cb->chunk, chunkBank().chunk);
}

TEST(PresetLayout, VersionOneBanksAreRead) {
    std::vector<uint8_t> bytes = serializeFxb(chunkBank());
    writeBE(bytes, 12, 1);  // version 1: future[128] where version 2 has currentProgram
    writeBE(bytes, 28, 0);
    std::string error;
    const auto bank = parseFxb(bytes, &error);
    ASSERT_TRUE(bank) << error;
    EXPECT_EQ(bank->version, 1);
    EXPECT_EQ(bank->chunk.size(), 300u);
}

TEST(HostilePresets, EveryTruncationIsRefused) {
    const std::vector<std::vector<uint8_t>> files = {serializeFxp(paramProgram()), serializeFxp(chunkProgram())};
    for (const auto& file : files) {
        for (size_t n = 0; n < file.size(); ++n) {
            std::string error;
            EXPECT_FALSE(parseFxp(std::vector<uint8_t>(file.begin(), file.begin() + n), &error)) << n;
            EXPECT_FALSE(error.empty());
        }
    }
    for (const auto& file : {serializeFxb(paramBank()), serializeFxb(chunkBank())}) {
        for (size_t n = 0; n < file.size(); ++n) {
            std::string error;
            EXPECT_FALSE(parseFxb(std::vector<uint8_t>(file.begin(), file.begin() + n), &error)) << n;
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(HostilePresets, WrongMagicsAreNamed) {
    std::string error;
    std::vector<uint8_t> bytes = serializeFxp(paramProgram());
    bytes[0] = 'X';
    EXPECT_FALSE(parseFxp(bytes, &error));
    EXPECT_NE(error.find("CcnK"), std::string::npos) << error;

    bytes = serializeFxp(paramProgram());
    std::memcpy(&bytes[8], "FxBk", 4);
    EXPECT_FALSE(parseFxp(bytes, &error)) << "a bank is not a program";
    EXPECT_NE(error.find("FxCk"), std::string::npos) << error;

    bytes = serializeFxb(chunkBank());
    std::memcpy(&bytes[8], "FPCh", 4);
    EXPECT_FALSE(parseFxb(bytes, &error));
    EXPECT_NE(error.find("FBCh"), std::string::npos) << error;

    bytes = serializeFxb(chunkBank());
    writeBE(bytes, 12, 3);
    EXPECT_FALSE(parseFxb(bytes, &error));
    EXPECT_NE(error.find("version"), std::string::npos) << error;
}

TEST(HostilePresets, HugeDeclaredSizesAreRefusedWithoutAllocating) {
    std::string error;
    std::vector<uint8_t> bytes = serializeFxp(chunkProgram());
    writeBE(bytes, 4, 0x7FFFFFFF);
    EXPECT_FALSE(parseFxp(bytes, &error));
    EXPECT_NE(error.find("declares"), std::string::npos) << error;

    bytes = serializeFxp(chunkProgram());
    writeBE(bytes, 56, 0x7FFFFFF0);
    EXPECT_FALSE(parseFxp(bytes, &error)) << "chunk size past the end";
    writeBE(bytes, 56, -1);
    EXPECT_FALSE(parseFxp(bytes, &error)) << "negative chunk size";

    bytes = serializeFxp(paramProgram());
    writeBE(bytes, 24, 0x7FFFFFFF);
    EXPECT_FALSE(parseFxp(bytes, &error)) << "parameter count past the end";
    writeBE(bytes, 24, -3);
    EXPECT_FALSE(parseFxp(bytes, &error)) << "negative parameter count";

    bytes = serializeFxb(paramBank());
    writeBE(bytes, 24, 0x40000000);
    EXPECT_FALSE(parseFxb(bytes, &error)) << "program count past the end";
    writeBE(bytes, 24, -1);
    EXPECT_FALSE(parseFxb(bytes, &error));

    bytes = serializeFxb(paramBank());
    writeBE(bytes, 156 + 4, 1000);  // the first inner program claims more than the bank holds
    EXPECT_FALSE(parseFxb(bytes, &error));
    EXPECT_NE(error.find("program 0"), std::string::npos) << error;
}

TEST(HostilePresets, NonFiniteParametersAreRefused) {
    FxProgram program = paramProgram();
    program.params[2] = std::nanf("");
    std::string error;
    EXPECT_FALSE(parseFxp(serializeFxp(program), &error));
    EXPECT_NE(error.find("parameter 2"), std::string::npos) << error;
    program.params[2] = INFINITY;
    EXPECT_FALSE(parseFxp(serializeFxp(program), &error));
}

TEST(HostilePresets, RandomCorruptionNeverCrashes) {
    std::mt19937 random(20240611);
    const std::vector<std::vector<uint8_t>> seeds = {serializeFxp(paramProgram()), serializeFxp(chunkProgram()),
                                                     serializeFxb(paramBank()), serializeFxb(chunkBank())};
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = seeds[static_cast<size_t>(round) % seeds.size()];
        const int flips = 1 + static_cast<int>(random() % 6);
        for (int f = 0; f < flips; ++f) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
        std::string error;
        const auto program = parseFxp(bytes, &error);
        const auto bank = parseFxb(bytes, &error);
        if (program && !program->isChunk) {
            EXPECT_EQ(program->params.size(), static_cast<size_t>(program->numParams));
        }
        if (bank && !bank->isChunk) {
            EXPECT_EQ(bank->programs.size(), static_cast<size_t>(bank->numPrograms));
        }
    }
}

class PresetFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        plugin = PluginInstance::load(kFixture, &error);
        ASSERT_TRUE(plugin) << error;
    }
    std::string tempPath(const char* name) { return std::string(TEST_TMP_DIR) + "/" + name; }
    std::unique_ptr<PluginInstance> plugin;
};

TEST_F(PresetFileTest, ChunkFilesRoundTripThroughDisk) {
    ASSERT_TRUE(plugin->setChunk({'b', 'a', 'n', 'k'}, false));
    std::string error;
    ASSERT_TRUE(savePresetFile(*plugin, tempPath("fixture.fxb"), &error)) << error;
    ASSERT_TRUE(savePresetFile(*plugin, tempPath("fixture.FXP"), &error)) << error;
    EXPECT_FALSE(savePresetFile(*plugin, tempPath("fixture.txt"), &error));

    ASSERT_TRUE(plugin->setChunk({'x'}, false));
    ASSERT_TRUE(loadPresetFile(*plugin, tempPath("fixture.fxb"), &error)) << error;
    EXPECT_EQ(plugin->getChunk(false), (std::vector<uint8_t>{'b', 'a', 'n', 'k'}));
}

TEST_F(PresetFileTest, LoadingReportsUnreadableAndForeignFiles) {
    std::string error;
    EXPECT_FALSE(loadPresetFile(*plugin, tempPath("does-not-exist.fxp"), &error));
    EXPECT_NE(error.find("does-not-exist.fxp"), std::string::npos) << error;

    ASSERT_TRUE(writeFileBytes(tempPath("empty.fxp"), {}, &error));
    EXPECT_FALSE(loadPresetFile(*plugin, tempPath("empty.fxp"), &error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;

    ASSERT_TRUE(writeFileBytes(tempPath("foreign.fxp"), serializeFxp(chunkProgram()), &error));
    EXPECT_FALSE(loadPresetFile(*plugin, tempPath("foreign.fxp"), &error));
    EXPECT_NE(error.find("'Abcd'"), std::string::npos) << error;
}

TEST_F(PresetFileTest, ParameterBanksAreAppliedProgramByProgram) {
    FxBank bank = paramBank();
    bank.fxID = plugin->uniqueID();
    for (FxProgram& p : bank.programs) p.params.resize(3);
    bank.programs[0].name = "Renamed";
    std::string error;
    ASSERT_TRUE(applyBank(*plugin, bank, &error)) << error;
    EXPECT_EQ(plugin->programNames(), (std::vector<std::string>{"Renamed", "Second"}));
    EXPECT_EQ(plugin->currentProgram(), 1);
    EXPECT_FLOAT_EQ(plugin->getParameter(1), 0.5f);

    bank.programs.push_back(bank.programs[0]);
    EXPECT_FALSE(applyBank(*plugin, bank, &error)) << "three programs for a plug-in with two";
    bank.programs.pop_back();
    bank.programs[0].params.resize(4);
    EXPECT_FALSE(applyBank(*plugin, bank, &error)) << "four parameters for a plug-in with three";
}

}  // namespace
}  // namespace host
}  // namespace kovalith
