// The LV2 UI: the editor embedded in the host's window (ui:parent, X11),
// idled through ui:idleInterface. It reaches the plug-in only through its
// ports, as an out-of-process UI would:
// - edits go to the parameter's control port as plain values, framed by
//   ui:touch gestures when the host offers them;
// - MIDI-learn commands go to the control atom port as messages;
// - the values it shows come from the control ports and from the plug-in's
//   notify port, which carries every stored value and read-out value
//   (hidden parameters, learned controllers, restored states, the tempo).
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "editor/KovalithEditor.h"
#include "effect/EditController.h"
#include "effect/Parameters.h"
#include "effect/Programs.h"
#include "lv2/Lv2Messages.h"
#include "lv2/Lv2Ports.h"
#include "lv2/Lv2Uris.h"

// After the LV2 headers: Xlib defines Bool, which the atom forge uses as a name.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace kovalith {
namespace lv2 {
namespace {

// Hosts that wrap the window (suil) size it to their allocation unless it says it can't grow.
void setFixedSize(Display* display, Window window, int width, int height) {
    XSizeHints hints{};
    hints.flags = PMinSize | PMaxSize;
    hints.min_width = hints.max_width = width;
    hints.min_height = hints.max_height = height;
    XSetWMNormalHints(display, window, &hints);
    XFlush(display);
}

// The child window the editor opened in `parent`: the newest child of the editor's size, else the newest.
Window findEditorWindow(Window parent, int width, int height) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0;
    Window root = 0, parentOfParent = 0, found = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, parent, &root, &parentOfParent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) && attributes.width == width &&
                attributes.height == height)
                found = children[i];
        }
        // A window being resized may not show its new size yet: then the newest child.
        if (!found && count > 0) found = children[count - 1];
        if (children) XFree(children);
    }
    if (found) setFixedSize(display, found, width, height);
    XCloseDisplay(display);
    return found;
}

// The editor's window at a new size: its hints follow, so the host's wrapper lets it grow.
void refitWindow(Window window, int width, int height) {
    if (!window) return;
    if (Display* display = XOpenDisplay(nullptr)) {
        setFixedSize(display, window, width, height);
        XCloseDisplay(display);
    }
}

class KovalithLv2Ui final : public IEditController {
public:
    KovalithLv2Ui(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2_URID_Map& map,
                  const LV2UI_Resize* resize, const LV2UI_Touch* touch)
        : write_(write), controller_(controller), urids_(map), map_(map), resize_(resize), touch_(touch), editor_(this) {
        lv2_atom_forge_init(&forge_, const_cast<LV2_URID_Map*>(&map));
        // Until the plug-in answers: the values a new effect starts with.
        std::unique_ptr<ProgramBank> bank(new ProgramBank);
        for (ProgramRecord& record : bank->programs) initDefaultProgram(record);
        writeFactoryPresets(*bank);
        for (int index = 0; index < kNumParams; ++index) {
            stored_[static_cast<std::size_t>(index)] = bank->programs[0].params[index];
            synced_[static_cast<std::size_t>(index)] = engineeringValue(index, stored_[static_cast<std::size_t>(index)], 44100.0f);
        }
    }
    ~KovalithLv2Ui() override { editor_.close(); }

    bool open(void* parent, LV2UI_Widget* widget, float hostScale) {
        if (hostScale > 0.0f) editor_.setHostScale(hostScale);
        if (!editor_.open(parent)) return false;
        window_ = findEditorWindow(reinterpret_cast<Window>(parent), editor_.width(), editor_.height());
        *widget = reinterpret_cast<LV2UI_Widget>(window_);
        if (resize_) resize_->ui_resize(resize_->handle, editor_.width(), editor_.height());
        // From here on a change of scale (the user's menu, the host's options) resizes the host's frame.
        editor_.setResizeRequest([this](int width, int height) {
            refitWindow(window_, width, height);
            return resize_ && resize_->ui_resize(resize_->handle, width, height) == 0;
        });
        sendMessage([this] { return writeValuesRequest(forge_, urids_); });
        return true;
    }

    int idle() {
        editor_.idle();
        return 0;
    }

    // The host's scale factor after instantiation, through the options interface.
    void setHostScale(float factor) { editor_.setHostScale(factor); }
    const LV2_URID_Map& map() const { return map_; }

    void portEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
        const int index = parameterOfPort(port);
        if (index >= 0 && format == 0 && size == sizeof(float)) {
            // A control in the user's hand shows the user's value, not the host's echo of an older one.
            if (editing_[static_cast<std::size_t>(index)]) return;
            const float plain = *static_cast<const float*>(buffer);
            float& stored = stored_[static_cast<std::size_t>(index)];
            // A stored value that reads as this port value stays as it is (a menu at 0.48 is item 0).
            if (plainFromStored(index, stored) == plain) return;
            stored = storedFromPlain(index, plain);
            editor_.setParameter(index, stored);
        } else if (port == kNotifyPort && format == urids_.atomEventTransfer && size >= sizeof(LV2_Atom)) {
            takeMessage(buffer, size);
        }
    }

    // IEditController
    float parameterValue(int index) override { return isParameterIndex(index) ? stored_[static_cast<std::size_t>(index)] : 0.0f; }
    float syncedValue(int index) override { return isParameterIndex(index) ? synced_[static_cast<std::size_t>(index)] : 0.0f; }
    void beginEdit(int index) override { gesture(index, true); }
    void endEdit(int index) override { gesture(index, false); }
    void performEdit(int index, float value) override {
        const uint32_t port = portOfParameter(index);
        if (port == kNoPort) return;
        stored_[static_cast<std::size_t>(index)] = value;
        editor_.setParameter(index, value);
        const float plain = plainFromStored(index, value);
        write_(controller_, port, sizeof(float), 0, &plain);
    }
    // The rate and beat as the plug-in last reported them, with the sync settings shown.
    DisplayContext displayContext() override {
        DisplayContext context = context_;
        context.delaySync = stored_[kDelaySync];
        context.lfo1Sync = stored_[kLfo1Sync];
        context.lfo2Sync = stored_[kLfo2Sync];
        return context;
    }
    void learnCommand(int index, float value) override {
        sendMessage([&] { return writeLearnCommand(forge_, urids_, index, value); });
    }

private:
    void gesture(int index, bool grabbed) {
        if (!isParameterIndex(index)) return;
        editing_[static_cast<std::size_t>(index)] = grabbed;
        const uint32_t port = portOfParameter(index);
        if (touch_ && port != kNoPort) touch_->touch(touch_->handle, port, grabbed);
    }

    template <typename Writer>
    void sendMessage(Writer writeMessage) {
        lv2_atom_forge_set_buffer(&forge_, message_, sizeof(message_));
        if (!writeMessage()) return;
        const auto* atom = reinterpret_cast<const LV2_Atom*>(message_);
        write_(controller_, kControlPort, lv2_atom_total_size(atom), urids_.atomEventTransfer, atom);
    }

    // From an aligned copy: hosts' buffers need not be.
    void takeMessage(const void* buffer, uint32_t size) {
        std::vector<uint64_t> copy((size + 7) / 8);
        std::memcpy(copy.data(), buffer, size);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(copy.data());
        if ((atom->type != urids_.atomObject && atom->type != urids_.atomBlank) || lv2_atom_total_size(atom) > size ||
            atom->size < sizeof(LV2_Atom_Object_Body))
            return;
        std::array<float, kNumParams> stored{}, synced{};
        if (!readValues(reinterpret_cast<const LV2_Atom_Object*>(atom), urids_, stored.data(), synced.data(), &context_))
            return;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            // A control in the user's hand shows the user's value.
            if (editing_[i] || (stored[i] == stored_[i] && synced[i] == synced_[i])) continue;
            stored_[i] = stored[i];
            synced_[i] = synced[i];
            editor_.setParameter(static_cast<int>(i), stored[i]);
        }
    }

    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    Urids urids_;
    const LV2_URID_Map& map_;
    const LV2UI_Resize* resize_;
    const LV2UI_Touch* touch_;
    LV2_Atom_Forge forge_;
    alignas(8) uint8_t message_[128];
    std::array<float, kNumParams> stored_{};
    std::array<float, kNumParams> synced_{};
    std::array<bool, kNumParams> editing_{};
    DisplayContext context_;
    Window window_ = 0;
    KovalithEditor editor_;
};

// The ui:scaleFactor among `options` (an atom:Float), or 0 when there is none.
float scaleFactorOf(const LV2_Options_Option* options, const LV2_URID_Map& map) {
    if (!options) return 0.0f;
    const LV2_URID key = map.map(map.handle, LV2_UI__scaleFactor);
    const LV2_URID floatType = map.map(map.handle, LV2_ATOM__Float);
    for (const LV2_Options_Option* o = options; o->key != 0 || o->value != nullptr; ++o)
        if (o->key == key && o->type == floatType && o->size == sizeof(float) && o->value)
            return *static_cast<const float*>(o->value);
    return 0.0f;
}

const void* featureData(const LV2_Feature* const* features, const char* uri) {
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, uri) == 0) return features[i]->data;
    return nullptr;
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char* pluginUri, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    if (!pluginUri || std::strcmp(pluginUri, kPluginUri) != 0 || !write || !widget) return nullptr;
    const auto* map = static_cast<const LV2_URID_Map*>(featureData(features, LV2_URID__map));
    void* parent = const_cast<void*>(featureData(features, LV2_UI__parent));
    if (!map || !parent) return nullptr;
    const auto* resize = static_cast<const LV2UI_Resize*>(featureData(features, LV2_UI__resize));
    const auto* touch = static_cast<const LV2UI_Touch*>(featureData(features, LV2_UI__touch));
    const auto* options = static_cast<const LV2_Options_Option*>(featureData(features, LV2_OPTIONS__options));
    auto* ui = new (std::nothrow) KovalithLv2Ui(write, controller, *map, resize, touch);
    if (ui && !ui->open(parent, widget, scaleFactorOf(options, *map))) {
        delete ui;
        return nullptr;
    }
    return ui;
}

KovalithLv2Ui* self(LV2UI_Handle handle) { return static_cast<KovalithLv2Ui*>(handle); }

// The options interface: the host may change ui:scaleFactor later (a window moved to another screen).
uint32_t setOptions(LV2UI_Handle handle, const LV2_Options_Option* options) {
    KovalithLv2Ui* ui = self(handle);
    const float factor = scaleFactorOf(options, ui->map());
    if (factor > 0.0f) ui->setHostScale(factor);
    return LV2_OPTIONS_SUCCESS;
}

uint32_t getOptions(LV2UI_Handle, LV2_Options_Option*) { return LV2_OPTIONS_ERR_UNKNOWN; }

const LV2_Options_Interface optionsInterface = {getOptions, setOptions};

void cleanup(LV2UI_Handle handle) { delete self(handle); }

void portEvent(LV2UI_Handle handle, uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    self(handle)->portEvent(port, size, format, buffer);
}

int idle(LV2UI_Handle handle) { return self(handle)->idle(); }

const LV2UI_Idle_Interface idleInterface = {idle};

const void* extensionData(const char* uri) {
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &idleInterface;
    if (std::strcmp(uri, LV2_OPTIONS__interface) == 0) return &optionsInterface;
    return nullptr;
}

const LV2UI_Descriptor descriptor = {kUiUri, instantiate, cleanup, portEvent, extensionData};

}  // namespace
}  // namespace lv2
}  // namespace kovalith

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kovalith::lv2::descriptor : nullptr;
}
