#include "plugin/KovalithEdit.h"

#include <cstdint>

#include "editor/KovalithEditor.h"

namespace kovalith {

KovalithEdit::KovalithEdit(vst2::audioMasterCallback audioMaster) : Kovalith(audioMaster) {
    // The identity holds even for an instance created without a host.
    setUniqueID(kUniqueId);
    // The editor registers itself through setEditor, which sets
    // effFlagsHasEditor; the effect deletes it on destruction.
    kovalithEditor = new KovalithEditor(this);
    setEditor(kovalithEditor);
}

intptr_t KovalithEdit::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (opcode == vst2::effVendorSpecific && index == kSnapshotRequest) {
        if (getEditor() != kovalithEditor || !kovalithEditor) return 0;
        if (value <= 0 || value > INT32_MAX) return 0;
        return kovalithEditor->renderSnapshot(static_cast<uint32_t*>(ptr), static_cast<int>(value)) ? 1 : 0;
    }
    return Kovalith::dispatcher(opcode, index, value, ptr, opt);
}

}  // namespace kovalith
