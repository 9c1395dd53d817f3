#include "tests/vst3/Vst3TestHost.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kovalith::vst3test {

using vst3::kInvalidArgument;
using vst3::kNoInterface;
using vst3::kResultFalse;
using vst3::kResultOk;
using vst3::offer;
using vst3::Thunk;
using vst3::unknownTable;

// ---- MemoryStream ---------------------------------------------------------------

namespace {
constexpr v3_bstream kStreamEntries{Thunk<&MemoryStream::read>::call, Thunk<&MemoryStream::write>::call,
                                    Thunk<&MemoryStream::seek>::call, Thunk<&MemoryStream::tell>::call};
struct StreamTable : v3_funknown {
    v3_bstream stream;
};
constexpr StreamTable kStreamTable{unknownTable<MemoryStream>(), kStreamEntries};
}  // namespace

MemoryStream::MemoryStream(std::vector<uint8_t> bytes) : face_{&kStreamTable, this}, bytes_(std::move(bytes)) {}

v3_result MemoryStream::queryInterface(const v3_tuid iid, void** out) {
    if (offer(this, iid, v3_funknown_iid, face_, out) || offer(this, iid, v3_bstream_iid, face_, out)) return kResultOk;
    *out = nullptr;
    return kNoInterface;
}

v3_result MemoryStream::read(void* buffer, int32_t size, int32_t* done) {
    if (size < 0 || !buffer) return kInvalidArgument;
    const std::size_t n = std::min(static_cast<std::size_t>(size), bytes_.size() - position_);
    if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    if (done) *done = static_cast<int32_t>(n);
    return kResultOk;
}

v3_result MemoryStream::write(void* buffer, int32_t size, int32_t* done) {
    if (size < 0 || !buffer) return kInvalidArgument;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    if (position_ + static_cast<std::size_t>(size) > bytes_.size()) bytes_.resize(position_ + static_cast<std::size_t>(size));
    std::copy(bytes, bytes + size, bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ += static_cast<std::size_t>(size);
    if (done) *done = size;
    return kResultOk;
}

v3_result MemoryStream::seek(int64_t position, int32_t mode, int64_t* result) {
    const int64_t base = mode == V3_SEEK_CUR ? static_cast<int64_t>(position_)
                         : mode == V3_SEEK_END ? static_cast<int64_t>(bytes_.size())
                                               : 0;
    const int64_t target = base + position;
    if (target < 0 || target > static_cast<int64_t>(bytes_.size())) return kInvalidArgument;
    position_ = static_cast<std::size_t>(target);
    if (result) *result = target;
    return kResultOk;
}

v3_result MemoryStream::tell(int64_t* position) {
    if (!position) return kInvalidArgument;
    *position = static_cast<int64_t>(position_);
    return kResultOk;
}

// ---- ParameterChanges -------------------------------------------------------------

class ParameterChanges::Queue : public RefCounted {
public:
    Queue(v3_param_id id, PointList points) : face_{&table, this}, id_(id), points_(std::move(points)) {}
    v3_param_value_queue** queue() { return reinterpret_cast<v3_param_value_queue**>(&face_); }
    const PointList& points() const { return points_; }

    v3_result queryInterface(const v3_tuid iid, void** out) {
        if (offer(this, iid, v3_funknown_iid, face_, out) || offer(this, iid, v3_param_value_queue_iid, face_, out))
            return kResultOk;
        *out = nullptr;
        return kNoInterface;
    }
    v3_param_id getParamId() { return id_; }
    int32_t getPointCount() { return static_cast<int32_t>(points_.size()); }
    v3_result getPoint(int32_t index, int32_t* offset, double* value) {
        if (index < 0 || index >= getPointCount() || !offset || !value) return kInvalidArgument;
        *offset = points_[static_cast<std::size_t>(index)].first;
        *value = points_[static_cast<std::size_t>(index)].second;
        return kResultOk;
    }
    v3_result addPoint(int32_t offset, double value, int32_t* index) {
        points_.emplace_back(offset, value);
        if (index) *index = getPointCount() - 1;
        return kResultOk;
    }

private:
    static const v3_param_value_queue_cpp table;
    Face face_;
    v3_param_id id_;
    PointList points_;
};

const v3_param_value_queue_cpp ParameterChanges::Queue::table{
    unknownTable<Queue>(),
    {Thunk<&Queue::getParamId>::call, Thunk<&Queue::getPointCount>::call, Thunk<&Queue::getPoint>::call,
     Thunk<&Queue::addPoint>::call}};

namespace {
constexpr v3_param_changes_cpp kChangesTable{
    unknownTable<ParameterChanges>(),
    {Thunk<&ParameterChanges::getParamCount>::call, Thunk<&ParameterChanges::getParamData>::call,
     Thunk<&ParameterChanges::addParamData>::call}};
}  // namespace

ParameterChanges::ParameterChanges(ChangeList changes) : face_{&kChangesTable, this} {
    for (auto& change : changes) queues_.push_back(new Queue(change.first, std::move(change.second)));
}

ParameterChanges::~ParameterChanges() {
    for (Queue* q : queues_) q->release();
}

ChangeList ParameterChanges::result() const {
    ChangeList out;
    for (Queue* q : queues_) out.emplace_back(q->getParamId(), q->points());
    return out;
}

v3_result ParameterChanges::queryInterface(const v3_tuid iid, void** out) {
    if (offer(this, iid, v3_funknown_iid, face_, out) || offer(this, iid, v3_param_changes_iid, face_, out))
        return kResultOk;
    *out = nullptr;
    return kNoInterface;
}

v3_param_value_queue** ParameterChanges::getParamData(int32_t index) {
    return index >= 0 && index < getParamCount() ? queues_[static_cast<std::size_t>(index)]->queue() : nullptr;
}

v3_param_value_queue** ParameterChanges::addParamData(v3_param_id* id, int32_t* index) {
    if (!id) return nullptr;
    for (std::size_t i = 0; i < queues_.size(); ++i) {
        if (queues_[i]->getParamId() == *id) {
            if (index) *index = static_cast<int32_t>(i);
            return queues_[i]->queue();
        }
    }
    queues_.push_back(new Queue(*id, {}));
    if (index) *index = getParamCount() - 1;
    return queues_.back()->queue();
}

// ---- the component handler ------------------------------------------------------------

class Vst3Plugin::Handler : public RefCounted {
public:
    Handler() : face_{&table, this} {}
    v3_component_handler** handler() { return reinterpret_cast<v3_component_handler**>(&face_); }
    HostRecord record;

    v3_result queryInterface(const v3_tuid iid, void** out) {
        if (offer(this, iid, v3_funknown_iid, face_, out) || offer(this, iid, v3_component_handler_iid, face_, out))
            return kResultOk;
        *out = nullptr;
        return kNoInterface;
    }
    v3_result beginEdit(v3_param_id) { return ++record.begins, kResultOk; }
    v3_result performEdit(v3_param_id id, double value) {
        record.performed.emplace_back(id, value);
        return kResultOk;
    }
    v3_result endEdit(v3_param_id) { return ++record.ends, kResultOk; }
    v3_result restartComponent(int32_t) { return ++record.restarts, kResultOk; }

private:
    struct Table : v3_funknown {
        v3_component_handler handler;
    };
    static const Table table;
    Face face_;
};

const Vst3Plugin::Handler::Table Vst3Plugin::Handler::table{
    unknownTable<Handler>(),
    {Thunk<&Handler::beginEdit>::call, Thunk<&Handler::performEdit>::call, Thunk<&Handler::endEdit>::call,
     Thunk<&Handler::restartComponent>::call}};

const HostRecord& Vst3Plugin::record() const { return handler_->record; }

// ---- loading ---------------------------------------------------------------------------

namespace {

using GetFactory = v3_plugin_factory** (V3_API*)();

void* openLibrary(const std::string& path) {
#ifdef _WIN32
    return LoadLibraryA(path.c_str());
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void* symbol(void* library, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
#else
    return dlsym(library, name);
#endif
}

template <typename T>
T** query(void* object, const v3_tuid iid) {
    void* out = nullptr;
    if (!object || vst3::unknown(object)->query_interface(object, iid, &out) != kResultOk) return nullptr;
    return static_cast<T**>(out);
}

template <typename T>
T** create(v3_plugin_factory** factory, const v3_tuid classId, const v3_tuid iid) {
    void* out = nullptr;
    if (v3_cpp_obj(factory)->create_instance(factory, classId, iid, &out) != kResultOk) return nullptr;
    return static_cast<T**>(out);
}

}  // namespace

std::string moduleInBundle(const std::string& bundle) {
#ifdef _WIN32
    return bundle + (sizeof(void*) == 8 ? "/Contents/x86_64-win/Kovalith.vst3" : "/Contents/x86-win/Kovalith.vst3");
#else
    return bundle + "/Contents/x86_64-linux/Kovalith.so";
#endif
}

std::unique_ptr<Vst3Plugin> Vst3Plugin::load(const std::string& module, std::string* error) {
    std::unique_ptr<Vst3Plugin> p(new Vst3Plugin());
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return nullptr;
    };
    p->library_ = openLibrary(module);
    if (!p->library_) return fail("cannot open " + module);
#ifdef _WIN32
    auto entry = reinterpret_cast<bool (*)()>(symbol(p->library_, "InitDll"));
    if (!entry || !entry()) return fail("InitDll failed");
#else
    auto entry = reinterpret_cast<bool (*)(void*)>(symbol(p->library_, "ModuleEntry"));
    if (!entry || !entry(p->library_)) return fail("ModuleEntry failed");
#endif
    auto getFactory = reinterpret_cast<GetFactory>(symbol(p->library_, "GetPluginFactory"));
    if (!getFactory || !(p->factory_ = getFactory())) return fail("no factory");

    v3_class_info info{};
    if (v3_cpp_obj(p->factory_)->get_class_info(p->factory_, 0, &info) != kResultOk) return fail("no class 0");
    p->component_ = create<v3_component>(p->factory_, info.class_id, v3_component_iid);
    if (!p->component_ || v3_cpp_obj_initialize(p->component_, nullptr) != kResultOk) return fail("no component");
    p->processor_ = query<v3_audio_processor>(p->component_, v3_audio_processor_iid);
    v3_tuid controllerId{};
    if (!p->processor_ || v3_cpp_obj(p->component_)->get_controller_class_id(p->component_, controllerId) != kResultOk)
        return fail("no processor or controller class");
    p->controller_ = create<v3_edit_controller>(p->factory_, controllerId, v3_edit_controller_iid);
    if (!p->controller_ || v3_cpp_obj_initialize(p->controller_, nullptr) != kResultOk) return fail("no controller");
    p->handler_ = new Handler();
    v3_cpp_obj(p->controller_)->set_component_handler(p->controller_, p->handler_->handler());

    // Connected both ways, then the controller learns the component's state, as hosts do.
    auto* componentPoint = query<v3_connection_point>(p->component_, v3_connection_point_iid);
    auto* controllerPoint = query<v3_connection_point>(p->controller_, v3_connection_point_iid);
    if (!componentPoint || !controllerPoint) return fail("no connection points");
    v3_cpp_obj(componentPoint)->connect(componentPoint, controllerPoint);
    v3_cpp_obj(controllerPoint)->connect(controllerPoint, componentPoint);
    vst3::releaseInterface(componentPoint);
    vst3::releaseInterface(controllerPoint);
    if (!p->setControllerState(p->state())) return fail("the controller refused the component's state");
    return p;
}

Vst3Plugin::~Vst3Plugin() {
    if (processor_) v3_cpp_obj(processor_)->set_processing(processor_, false);
    if (component_) v3_cpp_obj(component_)->set_active(component_, false);
    if (controller_) {
        v3_cpp_obj(controller_)->set_component_handler(controller_, nullptr);
        v3_cpp_obj_terminate(controller_);
        v3_cpp_obj_unref(controller_);
    }
    if (handler_) handler_->release();
    if (processor_) v3_cpp_obj_unref(processor_);
    if (component_) {
        v3_cpp_obj_terminate(component_);
        v3_cpp_obj_unref(component_);
    }
    if (factory_) v3_cpp_obj_unref(factory_);
    if (!library_) return;
#ifdef _WIN32
    if (auto exit = reinterpret_cast<bool (*)()>(symbol(library_, "ExitDll"))) exit();
    FreeLibrary(static_cast<HMODULE>(library_));
#else
    if (auto exit = reinterpret_cast<bool (*)()>(symbol(library_, "ModuleExit"))) exit();
    dlclose(library_);
#endif
}

// ---- driving -----------------------------------------------------------------------------

bool Vst3Plugin::start(double sampleRate, int maxBlock) {
    sampleRate_ = sampleRate;
    v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, maxBlock, sampleRate};
    return v3_cpp_obj(processor_)->setup_processing(processor_, &setup) == kResultOk &&
           v3_cpp_obj(component_)->set_active(component_, true) == kResultOk &&
           v3_cpp_obj(processor_)->set_processing(processor_, true) == kResultOk;
}

bool Vst3Plugin::process(const float* const* in, float* const* out, int frames, const ChangeList& changes,
                         ChangeList* reported) {
    v3_process_context ctx{};
    ctx.state = V3_PROCESS_CTX_PLAYING | V3_PROCESS_CTX_PROJECT_TIME_VALID | V3_PROCESS_CTX_TEMPO_VALID |
                V3_PROCESS_CTX_BAR_POSITION_VALID | V3_PROCESS_CTX_TIME_SIG_VALID;
    ctx.sample_rate = sampleRate_;
    ctx.project_time_quarters = context_.ppq;
    ctx.bar_position_quarters = std::floor(context_.ppq / 4.0) * 4.0;
    ctx.bpm = context_.tempo;
    ctx.time_sig_numerator = 4;
    ctx.time_sig_denom = 4;

    v3_audio_bus_buffers inputs{2, 0, {const_cast<float**>(in)}};
    v3_audio_bus_buffers outputs{2, 0, {const_cast<float**>(out)}};
    auto* inParams = new ParameterChanges(changes);
    auto* outParams = new ParameterChanges();
    v3_process_data data{};
    data.process_mode = V3_REALTIME;
    data.symbolic_sample_size = V3_SAMPLE_32;
    data.nframes = frames;
    data.num_input_buses = 1;
    data.num_output_buses = 1;
    data.inputs = &inputs;
    data.outputs = &outputs;
    data.input_params = inParams->changes();
    data.output_params = outParams->changes();
    data.ctx = context_.present ? &ctx : nullptr;
    const bool ok = v3_cpp_obj(processor_)->process(processor_, &data) == kResultOk;
    if (reported) *reported = outParams->result();
    inParams->release();
    outParams->release();
    // As the VST 2.4 test host moves its transport on.
    context_.ppq += frames * context_.tempo / (60.0 * sampleRate_);
    return ok;
}

std::vector<uint8_t> Vst3Plugin::state() {
    auto* stream = new MemoryStream();
    const bool ok = v3_cpp_obj(component_)->get_state(component_, stream->stream()) == kResultOk;
    std::vector<uint8_t> bytes = ok ? stream->bytes() : std::vector<uint8_t>();
    stream->release();
    return bytes;
}

bool Vst3Plugin::setState(const std::vector<uint8_t>& bytes) {
    auto* stream = new MemoryStream(bytes);
    const bool ok = v3_cpp_obj(component_)->set_state(component_, stream->stream()) == kResultOk;
    stream->release();
    return ok;
}

bool Vst3Plugin::setControllerState(const std::vector<uint8_t>& bytes) {
    auto* stream = new MemoryStream(bytes);
    const bool ok = v3_cpp_obj(controller_)->set_component_state(controller_, stream->stream()) == kResultOk;
    stream->release();
    return ok;
}

double Vst3Plugin::getParam(v3_param_id id) { return v3_cpp_obj(controller_)->get_parameter_normalised(controller_, id); }

bool Vst3Plugin::setParam(v3_param_id id, double normalized) {
    return v3_cpp_obj(controller_)->set_parameter_normalised(controller_, id, normalized) == kResultOk;
}

}  // namespace kovalith::vst3test
