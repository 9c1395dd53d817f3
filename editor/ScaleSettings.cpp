#include "editor/ScaleSettings.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define KOVALITH_GETPID _getpid
#else
#include <unistd.h>
#define KOVALITH_GETPID getpid
#endif

namespace kovalith {

namespace fs = std::filesystem;

namespace {

constexpr double kMinScale = 1.0;
constexpr double kMaxScale = 3.0;
constexpr const char* kFileName = "editor.conf";
constexpr const char* kKey = "scale";
constexpr const char* kFollowText = "follow";
// A settings file is a few lines; anything larger is not ours.
constexpr std::uintmax_t kMaxFileSize = 4096;

bool given(double factor) { return std::isfinite(factor) && factor > 0.0; }

double limit(double scale) { return std::min(std::max(scale, kMinScale), kMaxScale); }

// The folder for our settings, or an empty path.
fs::path settingsFolder() {
#ifdef _WIN32
    // Wide, so that a user name outside the ANSI code page still works.
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (appData && *appData) return fs::path(appData) / L"Kovalith";
    return {};
#else
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // Only an absolute path counts, as the base directory rules say.
    if (config && config[0] == '/') return fs::path(config) / "kovalith";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return fs::path(home) / ".config" / "kovalith";
    return {};
#endif
}

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// "150" (per cent) as 1.5 when it is one of the menu's choices; 0 otherwise. Whole
// numbers only, so the host's locale can't change what a file means.
double choiceFromPercent(const std::string& text) {
    if (text.empty() || text.size() > 3) return kFollowHostOrSystem;
    int percent = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return kFollowHostOrSystem;
        percent = percent * 10 + (c - '0');
    }
    for (double choice : kUserScaleChoices)
        if (std::lround(choice * 100.0) == percent) return choice;
    return kFollowHostOrSystem;
}

}  // namespace

double resolveScale(double user, double host, double system) {
    for (double factor : {user, host, system})
        if (given(factor)) return limit(factor);
    return kMinScale;
}

std::string editorSettingsPath() {
    const fs::path folder = settingsFolder();
    return folder.empty() ? std::string() : (folder / kFileName).string();
}

double parseUserScale(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    double choice = kFollowHostOrSystem;
    while (std::getline(lines, line)) {
        const std::string content = trim(line);
        if (content.empty() || content[0] == '#') continue;
        const auto equals = content.find('=');
        if (equals == std::string::npos) return kFollowHostOrSystem;  // not a file of ours
        if (trim(content.substr(0, equals)) != kKey) continue;        // a later version's
        const std::string value = trim(content.substr(equals + 1));
        choice = value == kFollowText ? kFollowHostOrSystem : choiceFromPercent(value);
    }
    return choice;
}

double loadUserScale() {
    const fs::path folder = settingsFolder();
    if (folder.empty()) return kFollowHostOrSystem;
    const fs::path path = folder / kFileName;
    std::error_code error;
    // A fifo or a device would block the window's thread, or never end.
    if (!fs::is_regular_file(path, error) || error) return kFollowHostOrSystem;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || size > kMaxFileSize) return kFollowHostOrSystem;
    std::ifstream in(path, std::ios::binary);
    if (!in) return kFollowHostOrSystem;
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(&text[0], static_cast<std::streamsize>(size));
    if (in.gcount() != static_cast<std::streamsize>(size)) return kFollowHostOrSystem;
    return parseUserScale(text);
}

bool saveUserScale(double choice) {
    const fs::path folder = settingsFolder();
    if (folder.empty()) return false;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return false;

    std::string value = kFollowText;
    if (given(choice)) value = std::to_string(std::lround(limit(choice) * 100.0));
    const std::string text = "# Kovalith editor settings\n" + std::string(kKey) + "=" + value + "\n";

    // Written beside the file under a name of this writer's own (instances in other
    // processes, or on other threads of this one), then renamed over it.
    static std::atomic<unsigned> writes{0};
    const fs::path path = folder / kFileName;
    const fs::path temporary = folder / (std::string(kFileName) + "." + std::to_string(KOVALITH_GETPID()) + "-" +
                                         std::to_string(writes.fetch_add(1)) + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << text;
        out.close();
        if (!out) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

}  // namespace kovalith
