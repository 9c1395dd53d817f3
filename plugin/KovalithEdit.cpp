#include "plugin/KovalithEdit.h"

#include <cstdint>

#ifdef KOVALITH_NO_EDITOR
#include "plugin/AEffEditor.h"
#else
#include "editor/KovalithEditor.h"
#include "plugin/VstEditor.h"
#endif

namespace kovalith {

KovalithEdit::KovalithEdit(vst2::audioMasterCallback audioMaster) : Kovalith(audioMaster) {
    // The identity holds even for an instance created without a host.
    setUniqueID(kUniqueId);
    // The editor registers itself through setEditor, which sets
    // effFlagsHasEditor; the effect deletes it on destruction.
#ifdef KOVALITH_NO_EDITOR
    // Built without the window (no platform layer yet): the editor slot is
    // kept, so the flags stay those of the full effect, but opens nothing.
    setEditor(new AEffEditor(this));
#else
    vstEditor = new VstEditor(this);
    setEditor(vstEditor);
#endif
}

KovalithEditor* KovalithEdit::getKovalithEditor() const {
#ifdef KOVALITH_NO_EDITOR
    return nullptr;
#else
    return getEditor() == vstEditor && vstEditor ? &vstEditor->getWindow() : nullptr;
#endif
}

intptr_t KovalithEdit::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
#ifndef KOVALITH_NO_EDITOR
    if (opcode == vst2::effVendorSpecific && index == kSnapshotRequest) {
        KovalithEditor* window = getKovalithEditor();
        if (!window) return 0;
        if (value <= 0 || value > INT32_MAX) return 0;
        const double scale = opt == 0.0f ? 1.0 : static_cast<double>(opt);
        return window->renderSnapshot(static_cast<uint32_t*>(ptr), static_cast<int>(value), scale) ? 1 : 0;
    }
    if (opcode == vst2::effVendorSpecific && index == kSnapshotSizeRequest) {
        KovalithEditor* window = getKovalithEditor();
        if (!window || !ptr || !(opt >= 1.0f && opt <= 3.0f)) return 0;
        int32_t* size = static_cast<int32_t*>(ptr);
        size[0] = static_cast<int32_t>(window->pixelWidthAt(opt));
        size[1] = static_cast<int32_t>(window->pixelHeightAt(opt));
        return 1;
    }
    // The host's scale factor for the editor, as hosts that scale their plug-ins' windows send it.
    if (opcode == vst2::effVendorSpecific && index == kHostScaleRequest && value == kHostScaleValue) {
        KovalithEditor* window = getKovalithEditor();
        if (!window) return 0;
        window->setHostScale(static_cast<double>(opt));
        return 1;
    }
#endif
    return Kovalith::dispatcher(opcode, index, value, ptr, opt);
}

}  // namespace kovalith
