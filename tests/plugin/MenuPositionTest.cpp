// The menus of more than two items as a VST 2.4 host moves them: in 0..1, as
// the item's position item / (items - 1), through build/Kovalith.so loaded with
// dlopen. Inside (records, chunks) they stay item numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "host/PluginHost.h"

namespace {

using kovalith::host::PluginInstance;

struct Menu {
    int index;
    int items;
};
// "Delay Stereo Multiplier", "Delay Sync", the LFO shapes and syncs, "Compressor Types".
constexpr Menu kMenus[] = {{21, 13}, {22, 15}, {26, 8}, {30, 15}, {31, 8}, {35, 15}, {65, 5}};

bool isMenu(int index) {
    for (const Menu& m : kMenus)
        if (m.index == index) return true;
    return false;
}

float position(int item, int items) { return static_cast<float>(item) / static_cast<float>(items - 1); }

std::unique_ptr<PluginInstance> loadPlugin() {
    std::string error;
    auto plugin = PluginInstance::load(KOVALITH_PLUGIN_PATH, &error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

// The value the current program record stores for `index`.
float stored(PluginInstance& plugin, int index) {
    const std::vector<uint8_t> record = plugin.getChunk(true);
    float value;
    std::memcpy(&value, record.data() + 4 * index, sizeof value);
    return value;
}

// Two seconds of two tones with pulses, in blocks of 512 with the transport at 120 bpm.
std::vector<float> render(PluginInstance& plugin) {
    constexpr int kBlock = 512, kBlocks = 172;
    constexpr double kTwoPi = 6.283185307179586;
    plugin.setBlockSize(kBlock);
    plugin.setTransport(kovalith::host::Transport{});
    plugin.resume();
    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock), all;
    float* in[] = {inL.data(), inR.data()};
    float* out[] = {outL.data(), outR.data()};
    for (int b = 0; b < kBlocks; ++b) {
        for (int n = 0; n < kBlock; ++n) {
            const double t = (b * kBlock + n) / 44100.0;
            const double pulse = n % 200 == 0 ? 0.8 : 0.0;
            inL[static_cast<size_t>(n)] = static_cast<float>(0.3 * std::sin(kTwoPi * 220 * t) + pulse);
            inR[static_cast<size_t>(n)] = static_cast<float>(0.3 * std::sin(kTwoPi * 331 * t));
        }
        EXPECT_TRUE(plugin.process(in, out, kBlock));
        plugin.advance(kBlock);
        all.insert(all.end(), outL.begin(), outL.end());
        all.insert(all.end(), outR.begin(), outR.end());
    }
    return all;
}

TEST(MenuPositions, HostValuesSelectTheNearestItemOfEveryMenu) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (const Menu& m : kMenus) {
        SCOPED_TRACE("parameter " + std::to_string(m.index));
        for (int item = 0; item < m.items; ++item) {
            plugin->setParameter(m.index, position(item, m.items));
            EXPECT_EQ(stored(*plugin, m.index), static_cast<float>(item));
            EXPECT_EQ(plugin->getParameter(m.index), position(item, m.items));
            if (item + 1 == m.items) break;
            // Either side of the midpoint to the next item.
            const float middle = (static_cast<float>(item) + 0.5f) / static_cast<float>(m.items - 1);
            plugin->setParameter(m.index, middle - 1e-4f);
            EXPECT_EQ(stored(*plugin, m.index), static_cast<float>(item));
            plugin->setParameter(m.index, middle + 1e-4f);
            EXPECT_EQ(stored(*plugin, m.index), static_cast<float>(item + 1));
        }
        // Beyond the ends: the end items. Values that are not finite are refused.
        plugin->setParameter(m.index, -0.5f);
        EXPECT_EQ(stored(*plugin, m.index), 0.0f);
        plugin->setParameter(m.index, 7.0f);
        EXPECT_EQ(stored(*plugin, m.index), static_cast<float>(m.items - 1));
        constexpr float kInf = std::numeric_limits<float>::infinity();
        for (float bad : {std::nanf(""), kInf, -kInf}) {
            plugin->setParameter(m.index, bad);
            EXPECT_EQ(stored(*plugin, m.index), static_cast<float>(m.items - 1));
        }
    }
}

// Switches, "Filter Type" (item / 10) and the continuous parameters keep their values.
TEST(MenuPositions, EveryOtherParameterTravelsAsStored) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (int i = 0; i < 67; ++i) {
        if (isMenu(i)) continue;
        for (float v : {0.0f, 0.37f, 1.0f, 3.0f}) {
            plugin->setParameter(i, v);
            EXPECT_EQ(plugin->getParameter(i), v) << "parameter " << i;
            EXPECT_EQ(stored(*plugin, i), v) << "parameter " << i;
        }
    }
}

// A record as the effect has always saved it: menus as item numbers, and
// "Rubber Boots"' non-whole stereo multiplier 0.48, which selects item 0. (No
// random LFO shape: every choice of one draws a new table.)
TEST(MenuPositions, AChunkWithItemNumbersLoadsToTheSameSound) {
    auto source = loadPlugin();
    ASSERT_TRUE(source);
    std::vector<uint8_t> record = source->getChunk(true);
    const struct {
        int index;
        float item;
    } items[] = {{22, 6.0f}, {26, 3.0f}, {30, 14.0f}, {31, 2.0f}, {35, 1.0f}, {65, 4.0f}};
    for (const auto& it : items) std::memcpy(record.data() + 4 * it.index, &it.item, 4);
    float multiplier;
    std::memcpy(&multiplier, record.data() + 4 * 21, 4);
    ASSERT_EQ(multiplier, 0.48f);

    auto loaded = loadPlugin();
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(loaded->setChunk(record, true));
    EXPECT_EQ(loaded->getChunk(true), record) << "nothing stored is rewritten";
    const struct {
        int index;
        float host;
    } expected[] = {{21, 0.0f}, {22, 6.0f / 14.0f}, {26, 3.0f / 7.0f}, {30, 1.0f}, {31, 2.0f / 7.0f},
                    {35, 1.0f / 14.0f}, {65, 1.0f}};
    for (const auto& e : expected) EXPECT_EQ(loaded->getParameter(e.index), e.host) << "parameter " << e.index;

    // A host that saves its parameter list beside the chunk, kept to 0..1, and
    // sets it again after the chunk on reopening.
    std::vector<float> hostList;
    for (int i = 0; i < 67; ++i) hostList.push_back(std::min(1.0f, std::max(0.0f, loaded->getParameter(i))));
    auto reopened = loadPlugin();
    ASSERT_TRUE(reopened);
    ASSERT_TRUE(reopened->setChunk(record, true));
    for (int i = 0; i < 67; ++i) reopened->setParameter(i, hostList[static_cast<size_t>(i)]);
    for (int i = 0; i < 67; ++i)
        if (i != 21) {
            EXPECT_EQ(stored(*reopened, i), stored(*loaded, i)) << "parameter " << i;
        }
    EXPECT_EQ(stored(*reopened, 21), 0.0f) << "0.48's item";

    const std::vector<float> sound = render(*loaded);
    EXPECT_EQ(render(*reopened), sound);
    // The program's own values set one by one, menus as positions, sound the same.
    auto automated = loadPlugin();
    ASSERT_TRUE(automated);
    for (int i = 0; i < 67; ++i) automated->setParameter(i, hostList[static_cast<size_t>(i)]);
    EXPECT_EQ(render(*automated), sound);
}

TEST(MenuPositions, MidiLearnOnAMenuReachesEveryItem) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    for (const Menu& m : kMenus) {
        SCOPED_TRACE("parameter " + std::to_string(m.index));
        const uint8_t controller = static_cast<uint8_t>(m.index);
        // The learn commands keep their indices and values: 68 + p, 0 arms.
        plugin->setParameter(68 + m.index, 0.0f);
        plugin->sendMidi(0xB0, controller, 64);
        plugin->sendMidi(0xB0, controller, 0);
        EXPECT_EQ(stored(*plugin, m.index), 0.0f);
        plugin->sendMidi(0xB0, controller, 127);
        EXPECT_EQ(stored(*plugin, m.index), static_cast<float>(m.items - 1));
        EXPECT_EQ(plugin->getParameter(m.index), 1.0f);
        std::set<float> reached;
        for (int value = 0; value < 128; ++value) {
            plugin->sendMidi(0xB0, controller, static_cast<uint8_t>(value));
            const float item = stored(*plugin, m.index);
            EXPECT_EQ(item, std::round(static_cast<float>(value) / 127.0f * static_cast<float>(m.items - 1))) << value;
            reached.insert(item);
        }
        EXPECT_EQ(reached.size(), static_cast<size_t>(m.items));
        // 1 forgets: the controller no longer drives the menu.
        plugin->setParameter(68 + m.index, 1.0f);
        plugin->sendMidi(0xB0, controller, 0);
        EXPECT_EQ(stored(*plugin, m.index), static_cast<float>(m.items - 1));
    }
}

}  // namespace
