#include "jack/JackLibrary.h"

#include <dlfcn.h>

namespace kovalith {
namespace jack {

namespace {

template <typename Function>
bool resolve(void* library, const char* name, Function& function, std::string* error) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function) return true;
    if (error) *error = std::string("libjack.so.0 lacks ") + name;
    return false;
}

}  // namespace

bool JackLibrary::load(std::string* error) {
    // Never closed: the library's threads and atexit handlers outlive any owner here.
    void* library = dlopen("libjack.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        if (error) *error = kNotInstalledMessage;
        return false;
    }
    return resolve(library, "jack_client_open", client_open, error) &&
           resolve(library, "jack_client_close", client_close, error) &&
           resolve(library, "jack_get_client_name", get_client_name, error) &&
           resolve(library, "jack_activate", activate, error) &&
           resolve(library, "jack_deactivate", deactivate, error) &&
           resolve(library, "jack_set_process_callback", set_process_callback, error) &&
           resolve(library, "jack_set_buffer_size_callback", set_buffer_size_callback, error) &&
           resolve(library, "jack_set_sample_rate_callback", set_sample_rate_callback, error) &&
           resolve(library, "jack_set_xrun_callback", set_xrun_callback, error) &&
           resolve(library, "jack_on_info_shutdown", on_info_shutdown, error) &&
           resolve(library, "jack_set_error_function", set_error_function, error) &&
           resolve(library, "jack_set_info_function", set_info_function, error) &&
           resolve(library, "jack_get_sample_rate", get_sample_rate, error) &&
           resolve(library, "jack_get_buffer_size", get_buffer_size, error) &&
           resolve(library, "jack_set_buffer_size", set_buffer_size, error) &&
           resolve(library, "jack_port_register", port_register, error) &&
           resolve(library, "jack_port_get_buffer", port_get_buffer, error) &&
           resolve(library, "jack_port_name", port_name, error) &&
           resolve(library, "jack_port_connected", port_connected, error) &&
           resolve(library, "jack_port_by_name", port_by_name, error) &&
           resolve(library, "jack_get_ports", get_ports, error) &&
           resolve(library, "jack_connect", connect, error) && resolve(library, "jack_free", free, error) &&
           resolve(library, "jack_transport_query", transport_query, error) &&
           resolve(library, "jack_transport_start", transport_start, error) &&
           resolve(library, "jack_set_timebase_callback", set_timebase_callback, error) &&
           resolve(library, "jack_last_frame_time", last_frame_time, error) &&
           resolve(library, "jack_frame_time", frame_time, error) &&
           resolve(library, "jack_midi_get_event_count", midi_get_event_count, error) &&
           resolve(library, "jack_midi_event_get", midi_event_get, error) &&
           resolve(library, "jack_midi_clear_buffer", midi_clear_buffer, error) &&
           resolve(library, "jack_midi_event_write", midi_event_write, error);
}

}  // namespace jack
}  // namespace kovalith
