// Where the editor's scale comes from: the order of the user's choice, the host's
// factor and the system's; the settings file that remembers the user's choice; the
// X resources and GDK_SCALE; the VST 2.4 host's 'PreS' request and effEditGetRect.
#include "tests/editor/EditorTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "editor/ScaleSettings.h"
#include "gui/SystemScale.h"

namespace editortest {
namespace {

namespace fs = std::filesystem;

TEST(ScaleResolution, UserBeforeHostBeforeSystemBeforeOne) {
    EXPECT_EQ(resolveScale(1.25, 2.0, 1.5), 1.25);
    EXPECT_EQ(resolveScale(0.0, 2.0, 1.5), 2.0);
    EXPECT_EQ(resolveScale(0.0, 0.0, 1.5), 1.5);
    EXPECT_EQ(resolveScale(0.0, 0.0, 0.0), 1.0);
    // Limited to 1..3; what is not a factor counts as not given.
    EXPECT_EQ(resolveScale(0.0, 0.5, 2.0), 1.0);
    EXPECT_EQ(resolveScale(0.0, 7.0, 0.0), 3.0);
    EXPECT_EQ(resolveScale(NAN, -2.0, INFINITY), 1.0);
    EXPECT_EQ(resolveScale(-1.0, NAN, 1.75), 1.75);
}

TEST(SystemScale, XResourcesAndGdkScale) {
    EXPECT_EQ(scaleFromXResources("Xft.dpi:\t144\n"), 1.5);
    EXPECT_EQ(scaleFromXResources("Xft.antialias:\t1\nXft.dpi: 192.0\nXft.hinting:\t1\n"), 2.0);
    EXPECT_EQ(scaleFromXResources("Xft.dpi:\t120"), 1.25);  // no newline at the end
    EXPECT_EQ(scaleFromXResources("Xft.dpiX:\t144\n*dpi:\t144\n"), 0.0);
    EXPECT_EQ(scaleFromXResources("Xft.dpi:\tlarge\n"), 0.0);
    EXPECT_EQ(scaleFromXResources("Xft.dpi:\t1e999\n"), 0.0);
    EXPECT_EQ(scaleFromXResources(""), 0.0);
    EXPECT_EQ(scaleFromXResources(nullptr), 0.0);
    EXPECT_EQ(scaleFromGdkScale("2"), 2.0);
    EXPECT_EQ(scaleFromGdkScale("1.5"), 0.0);  // GDK takes whole factors only
    EXPECT_EQ(scaleFromGdkScale("0"), 0.0);
    EXPECT_EQ(scaleFromGdkScale("two"), 0.0);
    EXPECT_EQ(scaleFromGdkScale(nullptr), 0.0);
}

// A settings folder of the test's own (XDG_CONFIG_HOME), the previous one back after.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        const char* previous = std::getenv("XDG_CONFIG_HOME");
        ASSERT_NE(previous, nullptr) << "the test program's settings sandbox is missing";
        previous_ = previous;
        home_ = fs::path(previous) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home_);
        fs::create_directories(home_);
        setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
        path_ = home_ / "kovalith" / "editor.conf";
    }
    void TearDown() override {
        setenv("XDG_CONFIG_HOME", previous_.c_str(), 1);
        std::error_code ignored;
        fs::permissions(home_, fs::perms::owner_all, ignored);
        if (fs::exists(home_ / "kovalith")) fs::permissions(home_ / "kovalith", fs::perms::owner_all, ignored);
        fs::remove_all(home_, ignored);
    }
    void write(const std::string& text) {
        fs::create_directories(path_.parent_path());
        std::ofstream(path_, std::ios::binary) << text;
    }
    std::string read() {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string previous_;
    fs::path home_, path_;
};

TEST_F(SettingsFile, RoundTripOfEveryChoiceInTheNamedFolder) {
    EXPECT_EQ(editorSettingsPath(), path_.string());
    EXPECT_EQ(loadUserScale(), kFollowHostOrSystem);  // no file yet
    for (double choice : kUserScaleChoices) {
        ASSERT_TRUE(saveUserScale(choice));
        EXPECT_EQ(loadUserScale(), choice);
    }
    ASSERT_TRUE(saveUserScale(kFollowHostOrSystem));
    EXPECT_EQ(loadUserScale(), kFollowHostOrSystem);
    // Nothing of the writing is left beside the file.
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(path_.parent_path())) entries += entry.path() == path_ ? 1 : 100;
    EXPECT_EQ(entries, 1);
}

TEST_F(SettingsFile, DamagedOrStrangeFilesMeanFollow) {
    const std::string damaged[] = {
        std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),  // not text
        "scale=137\n",                                      // not a choice of the menu
        "scale=1.5\n",                                      // not per cent
        "scale=-150\n",
        "scale=1500000000000000000000\n",
        "scale\n",
        std::string(5000, '#') + "\nscale=150\n",  // far larger than a settings file
    };
    for (const std::string& text : damaged) {
        write(text);
        EXPECT_EQ(loadUserScale(), kFollowHostOrSystem) << text;
    }
    // Comments, spaces, CR LF and a later version's keys are fine.
    write("# mine\r\n  theme = dark \r\nscale = 175\r\n");
    EXPECT_EQ(loadUserScale(), 1.75);

    // A fifo would block a reader until someone writes: it is not read at all.
    fs::remove(path_);
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(loadUserScale(), kFollowHostOrSystem);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SettingsFile, UnwritableFolderLeavesTheFileAsItWas) {
    ASSERT_TRUE(saveUserScale(1.5));
    // A folder that can't be made: a file stands where it should be.
    setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    EXPECT_FALSE(saveUserScale(2.0));
    EXPECT_EQ(loadUserScale(), kFollowHostOrSystem);
    setenv("XDG_CONFIG_HOME", home_.c_str(), 1);
    EXPECT_EQ(loadUserScale(), 1.5);

    if (geteuid() == 0) GTEST_SKIP() << "running as root, which writes into read-only folders";
    fs::permissions(path_.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(saveUserScale(2.0));
    EXPECT_EQ(loadUserScale(), 1.5);
    EXPECT_NE(read().find("scale=150"), std::string::npos);
}

TEST_F(SettingsFile, WithoutXdgConfigHomeTheHomeFolderIsUsed) {
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", home_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/not/allowed", 1);
    EXPECT_EQ(editorSettingsPath(), (home_ / ".config" / "kovalith" / "editor.conf").string());
    EXPECT_TRUE(saveUserScale(1.25));
    EXPECT_EQ(loadUserScale(), 1.25);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(loadUserScale(), 1.25);
    if (home) setenv("HOME", savedHome.c_str(), 1);
}

// The effect through its dispatcher, as a VST 2.4 host sees the editor's size.
class HostScale : public SettingsFile {
protected:
    void SetUp() override {
        SettingsFile::SetUp();
        effect = std::make_unique<KovalithEdit>(hostCallback);
        editor = effect->getKovalithEditor();
        ASSERT_NE(editor, nullptr);
    }
    intptr_t dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
        return effect->dispatcher(opcode, index, value, ptr, opt);
    }
    std::pair<int, int> rectSize() {
        vst2::ERect* rect = nullptr;
        EXPECT_EQ(dispatch(vst2::effEditGetRect, 0, 0, &rect, 0.0f), 1);
        if (!rect) return {0, 0};
        return {rect->right - rect->left, rect->bottom - rect->top};
    }
    intptr_t sendHostScale(float factor) {
        return dispatch(vst2::effVendorSpecific, vst2::fourCC('P', 'r', 'e', 'S'), vst2::fourCC('A', 'e', 'C', 's'),
                        nullptr, factor);
    }
    static std::pair<int, int> scaled(double factor) {
        return {static_cast<int>(std::lround(kEditorWidth * factor)),
                static_cast<int>(std::lround(kEditorHeight * factor))};
    }

    std::unique_ptr<KovalithEdit> effect;
    KovalithEditor* editor = nullptr;
};

TEST_F(HostScale, HostFactorSizesTheRectUnlessTheUserChose) {
    // Without a host factor or a choice, the system decides (1 on a server without Xft.dpi).
    EXPECT_EQ(rectSize(), scaled(resolveScale(0.0, 0.0, editor->systemScaleFactor())));

    EXPECT_EQ(sendHostScale(1.5f), 1);
    EXPECT_EQ(editor->hostScale(), 1.5);
    EXPECT_EQ(rectSize(), scaled(1.5));
    EXPECT_EQ(sendHostScale(0.5f), 1);  // below 1 counts as 1
    EXPECT_EQ(rectSize(), scaled(1.0));
    EXPECT_EQ(sendHostScale(2.0f), 1);
    EXPECT_EQ(rectSize(), scaled(2.0));

    // Other vendor requests are not this one.
    EXPECT_EQ(dispatch(vst2::effVendorSpecific, vst2::fourCC('P', 'r', 'e', 'S'), 0, nullptr, 3.0f), 0);
    EXPECT_EQ(dispatch(vst2::effVendorSpecific, 0, vst2::fourCC('A', 'e', 'C', 's'), nullptr, 3.0f), 0);
    EXPECT_EQ(rectSize(), scaled(2.0));

    // The user's choice wins, and is what every new instance starts with.
    editor->setUserScale(1.25);
    EXPECT_EQ(rectSize(), scaled(1.25));
    KovalithEdit another(hostCallback);
    vst2::ERect* rect = nullptr;
    ASSERT_EQ(another.dispatcher(vst2::effEditGetRect, 0, 0, &rect, 0.0f), 1);
    EXPECT_EQ(std::make_pair(rect->right - rect->left, rect->bottom - rect->top), scaled(1.25));

    // Following the host again.
    editor->setUserScale(kFollowHostOrSystem);
    EXPECT_EQ(rectSize(), scaled(2.0));
    EXPECT_EQ(loadUserScale(), kFollowHostOrSystem);
    // No window, so no host was asked to resize one.
    EXPECT_TRUE(HostLog::get().of(vst2::audioMasterSizeWindow).empty());
}

TEST_F(HostScale, DamagedSettingsStillLetTheHostDecide) {
    write("scale=");
    EXPECT_EQ(sendHostScale(1.75f), 1);
    EXPECT_EQ(rectSize(), scaled(1.75));
    // The menu can't say more than its list: other values fall back to following.
    editor->setUserScale(2.5);
    EXPECT_EQ(editor->userScale(), kFollowHostOrSystem);
    EXPECT_EQ(rectSize(), scaled(1.75));
}

}  // namespace
}  // namespace editortest
