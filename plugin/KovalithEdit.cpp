#include "plugin/KovalithEdit.h"

namespace kovalith {

KovalithEdit::KovalithEdit(vst2::audioMasterCallback audioMaster) : Kovalith(audioMaster) {
    // The identity holds even for an instance created without a host.
    setUniqueID(kUniqueId);
    // The editor attaches here: it registers itself through setEditor, which
    // sets effFlagsHasEditor, and the effect deletes it on destruction.
    // setEditor(new KovalithEditor(this));
}

}  // namespace kovalith
