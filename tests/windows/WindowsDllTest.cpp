// What only the Windows DLL can get wrong: its exports, its resources, its
// unloading, the x87 precision around the LPC recursion, and its answers next
// to the Linux library's. Also the program's main and its WAV files.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

// With the order and lag constants of the test inlined, GCC 12 for mingw
// reports an overflow on a path the order rules out (-Waggressive-loop-optimizations).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Waggressive-loop-optimizations"
#include "dsp/WarpedLPC.h"
#pragma GCC diagnostic pop
#include "gui/PngDecoder.h"
#include "host/PluginHost.h"
#include "plugin/vst2.h"
#include "tests/windows/WindowsTestSupport.h"

namespace kovalith::wintest {

// ---- WAV files ---------------------------------------------------------------

namespace {

constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

template <typename T>
void put(std::ofstream& out, T value) {
    out.write(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T get(const std::vector<char>& bytes, size_t at) {
    T value{};
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

}  // namespace

bool writeWav(const std::string& path, const StereoAudio& audio) {
    std::ofstream out(path, std::ios::binary);
    const uint32_t dataBytes = static_cast<uint32_t>(audio.samples.size() * sizeof(float));
    out.write("RIFF", 4);
    put<uint32_t>(out, 4 + 8 + 16 + 8 + dataBytes);
    out.write("WAVEfmt ", 8);
    put<uint32_t>(out, 16);
    put<uint16_t>(out, kFormatFloat);
    put<uint16_t>(out, 2);
    put<uint32_t>(out, static_cast<uint32_t>(audio.sampleRate));
    put<uint32_t>(out, static_cast<uint32_t>(audio.sampleRate) * 8);
    put<uint16_t>(out, 8);
    put<uint16_t>(out, 32);
    out.write("data", 4);
    put<uint32_t>(out, dataBytes);
    out.write(reinterpret_cast<const char*>(audio.samples.data()), dataBytes);
    return static_cast<bool>(out);
}

bool readWav(const std::string& path, StereoAudio& audio, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        *error = path + " is not a WAV file";
        return false;
    }
    bool formatOk = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint32_t size = get<uint32_t>(bytes, at + 4);
        const size_t body = at + 8;
        if (body + size > bytes.size()) break;
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16) {
            uint16_t tag = get<uint16_t>(bytes, body);
            if (tag == kFormatExtensible && size >= 26) tag = get<uint16_t>(bytes, body + 24);
            formatOk = tag == kFormatFloat && get<uint16_t>(bytes, body + 2) == 2 && get<uint16_t>(bytes, body + 14) == 32;
            audio.sampleRate = static_cast<int>(get<uint32_t>(bytes, body + 4));
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0 && formatOk) {
            audio.samples.resize(size / sizeof(float));
            std::memcpy(audio.samples.data(), bytes.data() + body, audio.samples.size() * sizeof(float));
            return true;
        }
        at = body + size + (size & 1);
    }
    *error = path + " holds no 32-bit float stereo data";
    return false;
}

namespace {

intptr_t silentHost(vst2::AEffect*, int32_t, int32_t, intptr_t, void*, float) { return 0; }

// ---- exports and unloading ------------------------------------------------------

int threadsOfThisProcess() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    CloseHandle(snapshot);
    return count;
}

TEST(WindowsEntry, ExportsOneEntryUnderTwoNamesAndRefusesHostsWithoutVersion) {
    const HMODULE module = LoadLibraryA(pluginPath());
    ASSERT_NE(module, nullptr) << "LoadLibrary error " << GetLastError();
    const FARPROC entry = GetProcAddress(module, "VSTPluginMain");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry, GetProcAddress(module, "main"));
    const auto main = reinterpret_cast<vst2::VSTPluginMainProc>(reinterpret_cast<void (*)()>(entry));
    EXPECT_EQ(main(nullptr), nullptr);
    EXPECT_EQ(main(silentHost), nullptr);
    FreeLibrary(module);
}

// A host that opens and closes instances without ever opening the editor and
// then frees the library leaves nothing behind: the module goes away and no
// thread of it stays.
TEST(WindowsEntry, FreeLibraryAfterInstancesWithoutEditorLeavesNothing) {
    const int threadsBefore = threadsOfThisProcess();
    for (int round = 0; round < 3; ++round) {
        std::string error;
        auto first = host::PluginInstance::load(pluginPath(), &error);
        ASSERT_TRUE(first) << error;
        auto second = host::PluginInstance::load(pluginPath(), &error);
        ASSERT_TRUE(second) << error;
        float silence[64] = {}, outL[64], outR[64];
        float* in[2] = {silence, silence};
        float* out[2] = {outL, outR};
        EXPECT_TRUE(first->process(in, out, 64));
    }
    HMODULE stillThere = nullptr;
    EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, "Kovalith.dll", &stillThere));
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
}

// ---- resources --------------------------------------------------------------------

TEST(WindowsResources, TheArtworkIsPngResourcesOfTheDll) {
    const HMODULE module = LoadLibraryA(pluginPath());
    ASSERT_NE(module, nullptr);
    const struct {
        int id;
        const char* name;
        int width, height;
    } expected[] = {{101, nullptr, 659, 479},
                    {104, nullptr, 22, 28},
                    {105, nullptr, 50, 34},
                    {0, "Kovalith_KnobBody.png", 30, 30},
                    {0, "Kovalith_KnobHandle.png", 8, 8}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name ? e.name : std::to_string(e.id));
        const HRSRC info = FindResourceA(module, e.id ? MAKEINTRESOURCEA(e.id) : e.name, "PNG");
        ASSERT_NE(info, nullptr);
        // Only the DLL carries them, not the program that loads it.
        EXPECT_EQ(FindResourceA(nullptr, e.id ? MAKEINTRESOURCEA(e.id) : e.name, "PNG"), nullptr);
        const auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(module, info)));
        ASSERT_NE(data, nullptr);
        VSTGUI::DecodedImage image;
        ASSERT_TRUE(VSTGUI::decodePng(data, SizeofResource(module, info), image));
        EXPECT_EQ(image.width, e.width);
        EXPECT_EQ(image.height, e.height);
    }
    FreeLibrary(module);
}

// ---- precision ------------------------------------------------------------------------

// The SSE modes (exception masks, rounding, flush-to-zero, denormals-are-zero)
// without the sticky exception flags that any arithmetic sets.
constexpr unsigned kMxcsrModes = ~0x3Fu;

// Renders two seconds of a pulse train through "Scratchy" (many LPC blocks)
// with the x87 unit set to `controlWord` on entry, as the host thread has it.
std::vector<float> renderFrom(uint16_t controlWord, uint16_t* wordAfter, unsigned* mxcsrAfter) {
    std::string error;
    auto plugin = host::PluginInstance::load(pluginPath(), &error);
    EXPECT_TRUE(plugin) << error;
    if (!plugin) return {};
    plugin->setProgram(2);
    std::vector<float> inL(512), inR(512), outL(512), outR(512), all;
    float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    setX87ControlWord(controlWord);
    for (int block = 0; block < 172; ++block) {
        for (int n = 0; n < 512; ++n) {
            const int i = block * 512 + n;
            inL[n] = (i % 401 == 0 ? 0.9f : 0.0f) + 0.1f * std::sin(0.01f * static_cast<float>(i));
            inR[n] = 0.5f * inL[n];
        }
        plugin->process(in, out, 512);
        all.insert(all.end(), outL.begin(), outL.end());
        all.insert(all.end(), outR.begin(), outR.end());
    }
    *wordAfter = x87ControlWord();
    *mxcsrAfter = _mm_getcsr() & kMxcsrModes;
    setX87ControlWord(kX87Windows53Bit);
    return all;
}

// Windows starts threads with 53-bit x87 precision, Linux with 64: the effect
// selects 64 bits around its extended-precision LPC arithmetic, so the sound
// does not depend on the host thread's setting, and puts the setting back.
TEST(WindowsPrecision, LpcIsExtendedWhateverTheHostThreadsPrecisionAndTheModesAreRestored) {
    const unsigned mxcsrBefore = _mm_getcsr() & kMxcsrModes;
    uint16_t after53 = 0, after64 = 0;
    unsigned mxcsr53 = 0, mxcsr64 = 0;
    const std::vector<float> from53 = renderFrom(kX87Windows53Bit, &after53, &mxcsr53);
    const std::vector<float> from64 = renderFrom(kX87Extended64Bit, &after64, &mxcsr64);
    EXPECT_EQ(after53, kX87Windows53Bit);
    EXPECT_EQ(after64, kX87Extended64Bit);
    EXPECT_EQ(mxcsr53, mxcsrBefore);
    EXPECT_EQ(mxcsr64, mxcsrBefore);
    ASSERT_EQ(from53.size(), from64.size());
    ASSERT_FALSE(from53.empty());
    EXPECT_EQ(std::memcmp(from53.data(), from64.data(), from53.size() * sizeof(float)), 0)
        << "the output depends on the x87 precision the host thread starts with";
}

// A frame whose order-48 plain LPC differs in coefficients 40 to 47 when the
// recursion runs at 53 bits (found by search: two sines and faint noise).
TEST(WindowsPrecision, TheLpcRecursionGivesItsExtendedResultFromA53BitThread) {
    std::vector<float> frame(1024);
    uint32_t seed = 2769526785u;
    for (int i = 0; i < 1024; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        frame[i] = static_cast<float>(std::sin(0.25 * i) + 0.3 * std::sin(0.31 * i) + 1e-3 * noise);
    }
    auto extractFrom = [&](uint16_t controlWord, std::vector<float>& out) {
        static CWarpedLPCExtraction<float> lpc;
        out.assign(48, 0.0f);
        setX87ControlWord(controlWord);
        lpc.extract(frame.data(), 1024, out.data(), 48, 0.0f);
        const uint16_t after = x87ControlWord();
        setX87ControlWord(kX87Windows53Bit);
        return after;
    };
    std::vector<float> extended, from53;
    EXPECT_EQ(extractFrom(kX87Extended64Bit, extended), kX87Extended64Bit);
    EXPECT_EQ(extractFrom(kX87Windows53Bit, from53), kX87Windows53Bit);
    EXPECT_EQ(from53, extended);
}

// ---- the Linux library's answers --------------------------------------------------

// The parameter and program names from `kovalith info` of the Linux library
// (parity-references.sh writes it): index, tab, name.
std::map<int, std::string> linuxNames(const std::string& section) {
    std::map<int, std::string> names;
    std::ifstream info(parityFile("info.txt"));
    bool inSection = false;
    for (std::string line; std::getline(info, line);) {
        if (line.compare(0, section.size(), section) == 0) {
            inSection = true;
            continue;
        }
        if (!inSection) continue;
        if (line.size() < 3 || line[0] != ' ') break;
        std::istringstream fields(line);
        std::string index, name;
        std::getline(fields, index, '\t');
        std::getline(fields, name, '\t');
        names[std::stoi(index)] = name;
    }
    return names;
}

TEST(WindowsAnswers, IdentityAndNamesAreThoseOfTheLinuxLibrary) {
    std::ifstream why(parityFile("no-references.txt"));
    std::string reason;
    if (std::getline(why, reason)) GTEST_SKIP() << reason;
    std::string error;
    auto plugin = host::PluginInstance::load(pluginPath(), &error);
    ASSERT_TRUE(plugin) << error;
    EXPECT_EQ(plugin->flags(), 49);
    EXPECT_EQ(plugin->uniqueID(), vst2::fourCC('Q', 'Z', 'V', 'M'));
    EXPECT_EQ(plugin->effectName(), "Kovalith");
    EXPECT_EQ(plugin->vendorVersion(), 90);
    EXPECT_EQ(plugin->dispatch(vst2::effEditOpen), 0);  // no parent window

    const std::map<int, std::string> parameters = linuxNames("Parameters (67):");
    ASSERT_EQ(parameters.size(), 67u);
    for (const auto& [index, name] : parameters) EXPECT_EQ(plugin->parameterName(index), name) << index;
    const std::map<int, std::string> programs = linuxNames("Programs (32)");
    ASSERT_EQ(programs.size(), 32u);
    const std::vector<std::string> dllPrograms = plugin->programNames();
    ASSERT_EQ(dllPrograms.size(), 32u);
    for (const auto& [index, name] : programs) EXPECT_EQ(dllPrograms[static_cast<size_t>(index)], name) << index;
}

}  // namespace
}  // namespace kovalith::wintest

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--write-parity-input") == 0) {
        CreateDirectoryA(kovalith::wintest::parityFile("").c_str(), nullptr);
        return kovalith::wintest::writeParityInput() ? 0 : 1;
    }
    // Windows' own start value, whatever Wine gives the thread.
    kovalith::wintest::setX87ControlWord(kovalith::wintest::kX87Windows53Bit);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
