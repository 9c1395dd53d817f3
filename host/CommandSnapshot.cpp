// snapshot: the plug-in's editor drawn offscreen into a PNG file, no display needed.
#include "host/Commands.h"
#include "host/OutputFile.h"
#include "host/ParameterOptions.h"
#include "plugin/SnapshotRequest.h"

#include <cairo.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <vector>

namespace kovalith {
namespace host {

namespace {

cairo_status_t writeToOutput(void* output, const unsigned char* data, unsigned int length) {
    return static_cast<OutputFile*>(output)->write(data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

// Takes "--scale S" or "--scale=S" out of `args`; S must be a number from 1 to 3.
bool extractScale(std::vector<std::string>& args, double& scale, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string text;
        if (args[i] == "--scale") {
            if (i + 1 >= args.size()) return *error = "--scale needs a value", false;
            text = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        } else if (args[i].rfind("--scale=", 0) == 0) {
            text = args[i].substr(8);
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            continue;
        }
        char* end = nullptr;
        const double value = text.empty() ? NAN : std::strtod(text.c_str(), &end);
        if (!(value >= 1.0 && value <= 3.0) || (end && *end))
            return *error = "--scale takes a number from 1 to 3, not '" + text + "'", false;
        scale = value;
        --i;
    }
    return true;
}

int runSnapshot(CommandContext& context, const std::vector<std::string>& arguments) {
    std::vector<std::string> args = arguments;
    ParameterOptions options;
    std::string error;
    if (!extractParameterOptions(args, options, &error)) return context.usageError(error);
    double scale = 1.0;
    if (!extractScale(args, scale, &error)) return context.usageError(error);
    if (args.size() != 1 || args[0].rfind("--", 0) == 0)
        return context.usageError(args.empty() ? "snapshot needs one OUT.png" : "unexpected '" + args.back() + "'");
    const std::string& path = args[0];
    std::string extension = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".png") return context.usageError("snapshot writes PNG files only: the name must end in .png");

    PluginInstance& plugin = context.plugin;
    if (!(plugin.flags() & vst2::effFlagsHasEditor)) return context.failure("the plug-in has no editor");
    if (!applyParameterOptions(plugin, options, &error)) return context.usageError(error);

    // The plug-in answers the size at exactly this scale, whatever its window would use.
    int32_t size[2] = {0, 0};
    const float requested = static_cast<float>(scale);
    if (plugin.dispatch(vst2::effVendorSpecific, kSnapshotSizeRequest, 0, size, requested) != 1)
        return context.failure("the plug-in cannot draw its editor offscreen");
    const int width = size[0], height = size[1];
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192)
        return context.failure("the plug-in gives no usable editor size");

    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(stride / 4) * static_cast<std::size_t>(height), 0u);
    if (plugin.dispatch(vst2::effVendorSpecific, kSnapshotRequest, stride, pixels.data(), requested) != 1)
        return context.failure("the plug-in cannot draw its editor offscreen");

    OutputFile output;
    if (!output.open(path, &error)) return context.failure(error);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels.data()),
                                                                   CAIRO_FORMAT_ARGB32, width, height, stride);
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, writeToOutput, &output);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS && !output.failure())
        return context.failure("cannot write '" + path + "': " + cairo_status_to_string(status));
    if (!output.commit(&error)) return context.failure(error);
    context.out << "wrote " << path << " (" << width << " x " << height << ")\n";
    return kExitSuccess;
}

const CommandRegistrar snapshot(
    {"snapshot", "snapshot OUT.png [--scale S] [OPTIONS]",
     "draw the editor window into a PNG file",
     "Draws the plug-in's editor as it would appear, offscreen and without a\n"
     "display, into a PNG file.\n"
     "\n"
     "Options:\n" KOVALITH_PARAMETER_OPTIONS_HELP
     "  --scale S          draw at S device pixels per window pixel, 1 to 3 (1.5\n"
     "                     gives a window half as large again); default 1. The\n"
     "                     picture is the same whatever scale the editor was set to.\n"
     "\n"
     "Examples:\n"
     "  kovalith snapshot boots.png\n"
     "  kovalith snapshot fbm.png --preset FBM --set Feedback=0.2\n"
     "  kovalith snapshot big.png --scale 2\n",
     runSnapshot});

}  // namespace

}  // namespace host
}  // namespace kovalith
