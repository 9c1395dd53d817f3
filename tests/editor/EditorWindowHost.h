// A VST 2.4 host's side of the module's editor in a real X window: the module
// loaded through the host library, and the host's open, idle and close calls.
#pragma once

#include "tests/XServer.h"  // first: it orders gtest before Xlib

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "host/PluginHost.h"

namespace editortest {

class EditorWindowHost : public xtest::HostWindowTest {
protected:
    void loadPlugin() {
        std::string error;
        plugin = kovalith::host::PluginInstance::load(KOVALITH_PLUGIN, &error);
        ASSERT_NE(plugin, nullptr) << error;
    }
    void TearDown() override {
        if (plugin) plugin->dispatch(vst2::effEditClose);
        plugin.reset();
        HostWindowTest::TearDown();
    }

    // The editor's own connection to the test server can fail now and then like
    // ours (see openTestDisplay); a refusal that holds on every try is real.
    intptr_t openEditor(void* parent) {
        intptr_t answer = 0;
        for (int attempt = 0; attempt < 5 && answer == 0; ++attempt) {
            answer = plugin->dispatch(vst2::effEditOpen, 0, 0, parent);
            if (answer == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return answer;
    }

    // The host's idle loop until `done` holds or the time passes.
    bool idleUntil(const std::function<bool()>& done, int milliseconds = 2000) {
        return xtest::stepUntil([&] { plugin->dispatch(vst2::effEditIdle); }, done,
                                std::chrono::milliseconds(milliseconds));
    }

    std::unique_ptr<kovalith::host::PluginInstance> plugin;
};

}  // namespace editortest
