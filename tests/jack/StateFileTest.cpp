// kovalith-jack's state file: banks and saved states round-trip, and damaged
// or foreign files are refused with the effect left as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "effect/KovalithEffect.h"
#include "jack/StateFile.h"

namespace kovalith {
namespace jack {
namespace {

std::string scratchFile(const std::string& name) {
    return std::string(TEST_TMP_DIR) + "/state-" + std::to_string(getpid()) + "-" + name;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// An effect away from its defaults: program 3 with one parameter moved.
std::unique_ptr<KovalithEffect> editedEffect() {
    auto effect = std::make_unique<KovalithEffect>();
    effect->setProgram(3);
    effect->setParameter(58, 0.25f);
    return effect;
}

TEST(JackStateFile, BankAndStateRoundTrip) {
    for (const char* name : {"bank.fxb", "saved.state"}) {
        const std::string path = scratchFile(name);
        auto source = editedEffect();
        const StateFileKind kind = kindFromName(path);
        ASSERT_TRUE(saveStateFile(*source, path, kind, nullptr)) << name;
        KovalithEffect loaded;
        StateFileKind found = StateFileKind::State;
        std::string error;
        ASSERT_TRUE(loadStateFile(loaded, path, found, &error)) << name << ": " << error;
        EXPECT_EQ(found, kind) << name;
        EXPECT_EQ(loaded.program(), 3) << name;
        EXPECT_EQ(loaded.saveState(), source->saveState()) << name;
        std::remove(path.c_str());
    }
}

TEST(JackStateFile, RefusesDamagedAndForeignFiles) {
    auto source = editedEffect();
    void* chunk = nullptr;
    const int32_t size = source->getChunk(&chunk, false);
    const std::vector<uint8_t> bank = bankFileImage(chunk, static_cast<std::size_t>(size), 3);
    const std::vector<uint8_t> state = source->saveState();

    using Edit = std::function<void(std::vector<uint8_t>&)>;
    const std::vector<std::pair<const char*, Edit>> damaged = {
        {"bank cut short", [](auto& b) { b.resize(b.size() - 1); }},
        {"bank header only", [](auto& b) { b.resize(160); }},
        {"bank of another plug-in", [](auto& b) { b[19] = 'X'; }},
        {"program file", [](auto& b) { b[8] = 'F', b[9] = 'P', b[10] = 'C', b[11] = 'h'; }},
        {"parameter bank", [](auto& b) { b[8] = 'F', b[9] = 'x', b[10] = 'B', b[11] = 'k'; }},
        {"unknown bank version", [](auto& b) { b[15] = 3; }},
        {"chunk size of a program", [](auto& b) { b[157] = 0, b[158] = 3, b[159] = 0; }},
        {"declared size past the end", [](auto& b) { b[4] = 0x7F; }},
    };
    KovalithEffect effect;
    effect.setProgram(2);
    const std::vector<uint8_t> before = effect.saveState();
    const std::string path = scratchFile("damaged");
    auto expectRefused = [&](const std::vector<uint8_t>& bytes, const std::string& what) {
        writeBytes(path, bytes);
        StateFileKind kind = StateFileKind::State;
        std::string error;
        EXPECT_FALSE(loadStateFile(effect, path, kind, &error)) << what;
        EXPECT_FALSE(error.empty()) << what;
        EXPECT_EQ(effect.saveState(), before) << what;
    };
    for (const auto& [what, edit] : damaged) {
        std::vector<uint8_t> bytes = bank;
        edit(bytes);
        expectRefused(bytes, what);
    }
    expectRefused({}, "empty file");
    expectRefused(std::vector<uint8_t>(state.begin(), state.end() - 4), "state cut short");
    expectRefused(std::vector<uint8_t>(30000, 0xA5), "noise");
    std::remove(path.c_str());

    StateFileKind kind = StateFileKind::State;
    std::string error;
    EXPECT_FALSE(loadStateFile(effect, scratchFile("missing"), kind, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

}  // namespace
}  // namespace jack
}  // namespace kovalith
