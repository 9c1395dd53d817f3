// The editor's scale in real windows, through the module's binary interface: a VST 2.4
// host's factor while the window is open (the host is asked to resize), and the X
// resources' Xft.dpi. The user's menu is driven with xdotool in edit-scale.sh.
#include "tests/editor/EditorWindowHost.h"

#include <X11/Xatom.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "host/PluginHost.h"

namespace editortest {
namespace {

using kovalith::host::HostRequest;
using kovalith::host::PluginInstance;

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

constexpr int kWidth = 659, kHeight = 479;

int scaled(int size, double factor) { return static_cast<int>(std::lround(size * factor)); }

class EditorScaleWindow : public EditorWindowHost {
protected:
    void SetUp() override {
        // The settings of this test alone, in the folder the program's sandbox gave it.
        const char* sandbox = std::getenv("XDG_CONFIG_HOME");
        ASSERT_NE(sandbox, nullptr);
        previousConfig_ = sandbox;
        config_ = std::filesystem::path(sandbox) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(config_);
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);

        openHostWindow(kWidth, kHeight);
        if (IsSkipped() || HasFatalFailure()) return;
        plugin = load();
        ASSERT_NE(plugin, nullptr);
    }
    void TearDown() override {
        EditorWindowHost::TearDown();
        setenv("XDG_CONFIG_HOME", previousConfig_.c_str(), 1);
    }

    std::unique_ptr<PluginInstance> load() {
        std::string error;
        std::unique_ptr<PluginInstance> instance = PluginInstance::load(KOVALITH_PLUGIN, &error);
        EXPECT_NE(instance, nullptr) << error;
        if (!instance) return nullptr;
        // The host follows the editor's requests with its own window.
        instance->setSizeWindowHandler([this](int width, int height) {
            XResizeWindow(display_, parent_, static_cast<unsigned>(width), static_cast<unsigned>(height));
            XSync(display_, False);
            return true;
        });
        return instance;
    }
    static intptr_t sendScale(PluginInstance& instance, float factor) {
        return instance.dispatch(vst2::effVendorSpecific, vst2::fourCC('P', 'r', 'e', 'S'),
                                 vst2::fourCC('A', 'e', 'C', 's'), nullptr, factor);
    }
    static std::pair<int, int> rectOf(PluginInstance& instance) {
        int width = 0, height = 0;
        EXPECT_TRUE(instance.editorSize(width, height));
        return {width, height};
    }
    std::vector<HostRequest> sizeRequests() {
        std::vector<HostRequest> out;
        for (const HostRequest& r : plugin->requests())
            if (r.opcode == vst2::audioMasterSizeWindow) out.push_back(r);
        return out;
    }

    std::string previousConfig_;
    std::filesystem::path config_;
};

TEST_F(EditorScaleWindow, HostFactorWhileOpenAsksForTheNewSize) {
    ASSERT_EQ(openEditor(parentHandle()), 1);
    plugin->dispatch(vst2::effEditIdle);
    plugin->clearRecord();
    EXPECT_EQ(sendScale(*plugin, 2.0f), 1);
    const std::vector<HostRequest> requests = sizeRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].index, 2 * kWidth);
    EXPECT_EQ(requests[0].value, 2 * kHeight);
    EXPECT_EQ(sizeOf(parent_), std::make_pair(2 * kWidth, 2 * kHeight));
    const std::vector<Window> kids = children();
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(sizeOf(kids[0]), std::make_pair(2 * kWidth, 2 * kHeight)) << "the editor's own window";
    // The same factor again changes nothing and asks nothing.
    plugin->clearRecord();
    EXPECT_EQ(sendScale(*plugin, 2.0f), 1);
    EXPECT_TRUE(sizeRequests().empty());
}

TEST_F(EditorScaleWindow, XftDpiOfTheXResourcesScalesTheWindow) {
    const Window root = DefaultRootWindow(display_);
    const char resources[] = "Xft.antialias:\t1\nXft.dpi:\t144\n";
    XChangeProperty(display_, root, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources), sizeof resources - 1);
    XSync(display_, False);
    const auto size = rectOf(*plugin);
    const intptr_t opened = openEditor(parentHandle());
    XDeleteProperty(display_, root, XA_RESOURCE_MANAGER);
    XSync(display_, False);
    EXPECT_EQ(size, std::make_pair(scaled(kWidth, 1.5), scaled(kHeight, 1.5)));
    EXPECT_EQ(opened, 1);
    // The host's factor comes before the system's.
    EXPECT_EQ(sendScale(*plugin, 1.0f), 1);
    EXPECT_EQ(rectOf(*plugin), std::make_pair(kWidth, kHeight));
}

}  // namespace
}  // namespace editortest
