#include "gui/SystemScale.h"

#include <cstring>

namespace VSTGUI {

namespace {

constexpr double kReferenceDpi = 96.0;
constexpr double kLargestNumber = 100000.0;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// A plain decimal number ("144", "144.0") from `text` up to the end of its line; 0 for
// anything else. Parsed by hand: strtod follows the host's locale.
double parseDecimal(const char* text, const char* end) {
    while (text < end && isBlank(*text)) ++text;
    while (end > text && (isBlank(end[-1]) || end[-1] == '\r')) --end;
    double value = 0.0, unit = 0.0;
    bool digits = false;
    for (const char* c = text; c < end; ++c) {
        if (*c == '.' && unit == 0.0) {
            unit = 1.0;
        } else if (*c >= '0' && *c <= '9') {
            digits = true;
            if (unit == 0.0) {
                value = value * 10.0 + (*c - '0');
            } else {
                unit /= 10.0;
                value += unit * (*c - '0');
            }
            if (value > kLargestNumber) return 0.0;
        } else {
            return 0.0;
        }
    }
    return digits ? value : 0.0;
}

}  // namespace

double scaleFromXResources(const char* resources) {
    if (!resources) return 0.0;
    static constexpr char kName[] = "Xft.dpi";
    for (const char* line = resources; *line;) {
        const char* end = std::strchr(line, '\n');
        if (!end) end = line + std::strlen(line);
        const char* name = line;
        while (name < end && isBlank(*name)) ++name;
        const std::size_t length = sizeof kName - 1;
        if (static_cast<std::size_t>(end - name) > length && std::strncmp(name, kName, length) == 0) {
            const char* colon = name + length;
            while (colon < end && isBlank(*colon)) ++colon;
            if (colon < end && *colon == ':') return parseDecimal(colon + 1, end) / kReferenceDpi;
        }
        line = *end ? end + 1 : end;
    }
    return 0.0;
}

double scaleFromGdkScale(const char* value) {
    if (!value) return 0.0;
    const double scale = parseDecimal(value, value + std::strlen(value));
    // GDK takes whole factors only.
    return scale >= 1.0 && scale == static_cast<double>(static_cast<int>(scale)) ? scale : 0.0;
}

}  // namespace VSTGUI
