// The part of the JACK client API this program uses, loaded at run time from
// libjack.so.0, so that the program starts (and says why it cannot run) on a
// machine without JACK. The declarations follow the C API's binary layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kovalith {
namespace jack {

using jack_nframes_t = uint32_t;
using jack_time_t = uint64_t;
using jack_unique_t = uint64_t;
using jack_midi_data_t = unsigned char;
struct jack_client_t;
struct jack_port_t;

enum JackOptions : int { JackNullOption = 0, JackNoStartServer = 0x01, JackUseExactName = 0x02 };
enum JackStatus : int { JackFailure = 0x01, JackServerFailed = 0x10, JackServerError = 0x20 };
enum JackPortFlags : unsigned long { JackPortIsInput = 0x1, JackPortIsOutput = 0x2, JackPortIsPhysical = 0x4 };
enum JackTransportState : int { JackTransportStopped = 0, JackTransportRolling = 1, JackTransportStarting = 3 };
enum JackPositionBits : int { JackPositionBBT = 0x10, JackBBTFrameOffset = 0x40 };

constexpr const char* kAudioPortType = "32 bit float mono audio";
constexpr const char* kMidiPortType = "8 bit raw midi";

// Byte-packed on x86, as the library declares it.
struct __attribute__((__packed__)) jack_position_t {
    jack_unique_t unique_1;
    jack_time_t usecs;
    jack_nframes_t frame_rate;
    jack_nframes_t frame;
    int valid;  // JackPositionBits
    int32_t bar;
    int32_t beat;
    int32_t tick;
    double bar_start_tick;
    float beats_per_bar;
    float beat_type;
    double ticks_per_beat;
    double beats_per_minute;
    double frame_time;
    double next_time;
    jack_nframes_t bbt_offset;
    float audio_frames_per_video_frame;
    jack_nframes_t video_offset;
    double tick_double;
    int32_t padding[5];
    jack_unique_t unique_2;
};
static_assert(sizeof(jack_position_t) == 136, "jack_position_t is 136 bytes in the library's ABI");

struct jack_midi_event_t {
    jack_nframes_t time;
    size_t size;
    jack_midi_data_t* buffer;
};

using JackProcessCallback = int (*)(jack_nframes_t nframes, void* arg);
using JackNframesCallback = int (*)(jack_nframes_t nframes, void* arg);
using JackXRunCallback = int (*)(void* arg);
using JackInfoShutdownCallback = void (*)(int code, const char* reason, void* arg);
using JackTimebaseCallback = void (*)(int state, jack_nframes_t nframes, jack_position_t* pos, int newPosition,
                                      void* arg);
using JackMessageFunction = void (*)(const char* message);

// The entry points, resolved by load(). Names as in the C API.
struct JackLibrary {
    jack_client_t* (*client_open)(const char* name, int options, int* status, ...) = nullptr;
    int (*client_close)(jack_client_t*) = nullptr;
    char* (*get_client_name)(jack_client_t*) = nullptr;
    int (*activate)(jack_client_t*) = nullptr;
    int (*deactivate)(jack_client_t*) = nullptr;
    int (*set_process_callback)(jack_client_t*, JackProcessCallback, void*) = nullptr;
    int (*set_buffer_size_callback)(jack_client_t*, JackNframesCallback, void*) = nullptr;
    int (*set_sample_rate_callback)(jack_client_t*, JackNframesCallback, void*) = nullptr;
    int (*set_xrun_callback)(jack_client_t*, JackXRunCallback, void*) = nullptr;
    void (*on_info_shutdown)(jack_client_t*, JackInfoShutdownCallback, void*) = nullptr;
    void (*set_error_function)(JackMessageFunction) = nullptr;
    void (*set_info_function)(JackMessageFunction) = nullptr;
    jack_nframes_t (*get_sample_rate)(jack_client_t*) = nullptr;
    jack_nframes_t (*get_buffer_size)(jack_client_t*) = nullptr;
    int (*set_buffer_size)(jack_client_t*, jack_nframes_t) = nullptr;
    jack_port_t* (*port_register)(jack_client_t*, const char* name, const char* type, unsigned long flags,
                                  unsigned long bufferSize) = nullptr;
    void* (*port_get_buffer)(jack_port_t*, jack_nframes_t) = nullptr;
    const char* (*port_name)(const jack_port_t*) = nullptr;
    int (*port_connected)(const jack_port_t*) = nullptr;
    jack_port_t* (*port_by_name)(jack_client_t*, const char* name) = nullptr;
    const char** (*get_ports)(jack_client_t*, const char* namePattern, const char* typePattern,
                              unsigned long flags) = nullptr;
    int (*connect)(jack_client_t*, const char* source, const char* destination) = nullptr;
    void (*free)(void*) = nullptr;
    int (*transport_query)(const jack_client_t*, jack_position_t*) = nullptr;
    void (*transport_start)(jack_client_t*) = nullptr;
    int (*set_timebase_callback)(jack_client_t*, int conditional, JackTimebaseCallback, void*) = nullptr;
    jack_nframes_t (*last_frame_time)(const jack_client_t*) = nullptr;
    jack_nframes_t (*frame_time)(const jack_client_t*) = nullptr;
    uint32_t (*midi_get_event_count)(void* portBuffer) = nullptr;
    int (*midi_event_get)(jack_midi_event_t* event, void* portBuffer, uint32_t index) = nullptr;
    void (*midi_clear_buffer)(void* portBuffer) = nullptr;
    int (*midi_event_write)(void* portBuffer, jack_nframes_t time, const jack_midi_data_t* data,
                            size_t size) = nullptr;

    // Opens libjack.so.0 and resolves every entry point; false, with the reason
    // in `error`, when the library or one of its functions is missing. The
    // library stays loaded for the life of the process.
    bool load(std::string* error);
};

// The message a user reads when load() fails because JACK is not installed.
constexpr const char* kNotInstalledMessage = "JACK is not installed (libjack.so.0 not found)";

}  // namespace jack
}  // namespace kovalith
