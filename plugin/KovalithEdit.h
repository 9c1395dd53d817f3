// The effect with its editor attached: what the entry point creates.
#pragma once

#include "plugin/Kovalith.h"
#include "plugin/SnapshotRequest.h"

namespace kovalith {

class KovalithEditor;
class VstEditor;

class KovalithEdit : public Kovalith {
public:
    explicit KovalithEdit(vst2::audioMasterCallback audioMaster);

    // Serves kSnapshotRequest (SnapshotRequest.h); everything else as Kovalith.
    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;

    // The window, or null when built without one.
    KovalithEditor* getKovalithEditor() const;

private:
    VstEditor* vstEditor = nullptr;  // owned by the adapter as its editor
};

}  // namespace kovalith
