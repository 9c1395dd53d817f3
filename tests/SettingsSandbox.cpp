// Every test program that opens an editor links this: before main, it points the
// per-user settings folder (XDG_CONFIG_HOME) at a fresh temporary folder, so no test
// reads or writes the settings of the person running it, and child processes (our
// host, jalv) inherit the same folder. The folder goes at exit.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

class SettingsSandbox {
public:
    SettingsSandbox() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kovalith-settings-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            // No private folder: better no settings at all than the user's.
            setenv("XDG_CONFIG_HOME", "/nonexistent/kovalith-test-settings", 1);
            return;
        }
        folder_ = pattern;
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    }
    ~SettingsSandbox() {
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }

private:
    std::string folder_;
};

const SettingsSandbox sandbox;

}  // namespace
