// snapshot: the plug-in's editor drawn offscreen into a PNG file, no display needed.
#include "host/Commands.h"
#include "host/OutputFile.h"
#include "host/ParameterOptions.h"
#include "plugin/SnapshotRequest.h"

#include <cairo.h>

#include <cctype>
#include <cstdint>
#include <ostream>
#include <vector>

namespace kovalith {
namespace host {

namespace {

cairo_status_t writeToOutput(void* output, const unsigned char* data, unsigned int length) {
    return static_cast<OutputFile*>(output)->write(data, length) ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

int runSnapshot(CommandContext& context, const std::vector<std::string>& arguments) {
    std::vector<std::string> args = arguments;
    ParameterOptions options;
    std::string error;
    if (!extractParameterOptions(args, options, &error)) return context.usageError(error);
    if (args.size() != 1 || args[0].rfind("--", 0) == 0)
        return context.usageError(args.empty() ? "snapshot needs one OUT.png" : "unexpected '" + args.back() + "'");
    const std::string& path = args[0];
    std::string extension = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".png") return context.usageError("snapshot writes PNG files only: the name must end in .png");

    PluginInstance& plugin = context.plugin;
    if (!(plugin.flags() & vst2::effFlagsHasEditor)) return context.failure("the plug-in has no editor");
    if (!applyParameterOptions(plugin, options, &error)) return context.usageError(error);

    int width = 0, height = 0;
    if (!plugin.editorSize(width, height)) return context.failure("the plug-in gives no usable editor size");

    const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(stride / 4) * static_cast<std::size_t>(height), 0u);
    if (plugin.dispatch(vst2::effVendorSpecific, kSnapshotRequest, stride, pixels.data()) != 1)
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
    {"snapshot", "snapshot OUT.png [OPTIONS]",
     "draw the editor window into a PNG file",
     "Draws the plug-in's editor as it would appear, offscreen and without a\n"
     "display, into a PNG file.\n"
     "\n"
     "Options:\n" KOVALITH_PARAMETER_OPTIONS_HELP
     "\n"
     "Examples:\n"
     "  kovalith snapshot boots.png\n"
     "  kovalith snapshot fbm.png --preset FBM --set Feedback=0.2\n",
     runSnapshot});

}  // namespace

}  // namespace host
}  // namespace kovalith
